#include "modules/tally/financeedit.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/controlsoff.h"
#include "dataaccess/mydataset.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "modules/tally/financerun.h"
#include "modules/tally/udm_func.h"

#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QItemSelection>
#include <QLabel>
#include <QLoggingCategory>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <vector>

Q_LOGGING_CATEGORY(lcTally, "waylink.tally")

namespace tally {

namespace {

// The hourglass while a long mark or unmark runs.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// How often a run lets the window paint and hear 停止.
constexpr int kPaintIntervalMs = 40;

} // namespace

// Holds the window still while a run goes over its lines: the dataset's controls quiet,
// the tool bar, grid and side panel disabled (shortcuts included), and over marked lines
// the progress bar and 停止 shown; everything is given back when it ends, whatever
// happens, and the answers fetched for the run are dropped.
class RunLock
{
public:
    RunLock(TfFinanceEdit *w, int total, bool progress)
        : m_w(w)
        , m_off(w->cdsData)
        , m_keep(std::in_place, w->DBGridData)
        , m_progress(progress)
        , m_focus(QApplication::focusWidget())
    {
        w->m_running = true;
        w->m_stopRequested = false;
        w->m_actionLock->setEnabled(false);
        w->tbTool->setEnabled(false);
        w->DBGridData->setEnabled(false);
        w->rzszpnl1->setEnabled(false);
        if (m_progress) {
            m_wasCollapsed = w->btnExpand->isVisible();
            if (m_wasCollapsed)
                w->btnExpandClick();
            w->rgb->setRange(0, std::max(total, 1));
            w->rgb->setValue(0);
            w->rgb->show();
            w->btnStop->show();
            w->btnStop->setEnabled(true);
        }
        w->m_paint.start();
    }
    ~RunLock() { end(); }
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;
    // Gives the window back (before the closing message is shown).
    void end()
    {
        if (!m_w)
            return;
        TfFinanceEdit *w = m_w;
        m_w = nullptr;
        w->m_calls.forget();
        if (m_progress) {
            w->rgb->setValue(0);
            w->rgb->setVisible(w->m_progressShown);
            w->btnStop->hide();
        }
        w->rzszpnl1->setEnabled(true);
        w->DBGridData->setEnabled(true);
        w->tbTool->setEnabled(true);
        w->m_actionLock->setEnabled(true);
        w->m_running = false;
        m_off.reset();
        // The grid shows where the clerk was, not the last row the run went through.
        m_keep.reset();
        if (m_wasCollapsed)
            w->btnCollapseClick();
        w->updateActions();
        // Disabling the grid took the keyboard focus away from it.
        if (m_focus && m_focus->isEnabled() && m_focus->isVisible())
            m_focus->setFocus();
    }

private:
    TfFinanceEdit *m_w;
    std::optional<quillon::ControlsOff> m_off;
    std::optional<tessera::KeepGridPosition> m_keep;
    bool m_progress;
    QPointer<QWidget> m_focus;
    bool m_wasCollapsed = false;
};

// The marks of the grid as they were when a run began, given back when it ends (the
// grid loses its selection while its controls are quiet), whatever happens.
class KeptMarks
{
public:
    explicit KeptMarks(TfFinanceEdit *w)
        : m_w(w)
        , m_marks(w->DBGridData->SelectedRows())
    {}
    ~KeptMarks() { restore(); }
    KeptMarks(const KeptMarks &) = delete;
    KeptMarks &operator=(const KeptMarks &) = delete;
    const QList<QVariant> &marks() const { return m_marks; }
    void restore()
    {
        if (!m_w)
            return;
        TfFinanceEdit *w = m_w;
        m_w = nullptr;
        w->restoreMarks(m_marks);
    }

private:
    TfFinanceEdit *m_w;
    QList<QVariant> m_marks;
};

TfFinanceEdit::TfFinanceEdit(QWidget *parent)
    : TfDBMultiBase_Batch(parent)
    , filters(new FinanceFilters(this))
{
    cdsTmp = addComponent(new quillon::TMyDataSet(this), QStringLiteral("cdsTmp"));
    m_calls = FinanceCalls(cdsTmp);

    // New, edit and delete are not offered: lines come from the server's own processes.
    // Hidden, they are disabled with their shortcuts (Ctrl+N, Ctrl+E, Ctrl+D).
    for (QAction *a : {actNew, actEdit, actDel})
        hideAction(a);
    addToolButton(actSelAll, QStringLiteral("tbSelAll"), QStringLiteral("tbSave"));
    addToolButton(actUnSelAll, QStringLiteral("tbUnSelAll"), QStringLiteral("tbSave"));
    setExecuteHandler(actSelAll, [this] { actSelAllExecute(); });
    setExecuteHandler(actUnSelAll, [this] { actUnSelAllExecute(); });
    setExecuteHandler(actRefresh, [this] { actRefreshExecute(); });

    // Every action of the window, so that a run can hold them all still.
    m_actionLock = new QActionGroup(this);
    m_actionLock->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    for (QAction *a : actions())
        m_actionLock->addAction(a);

    // Progress along the bottom of the option panel, with 停止 while a run goes on.
    auto *runRow = new QWidget(gbOption);
    auto *rl = new QHBoxLayout(runRow);
    rl->setContentsMargins(0, 0, 0, 0);
    rgb = addComponent(new QProgressBar(runRow), QStringLiteral("rgb"));
    rgb->setFixedHeight(16);
    rgb->setFormat(QStringLiteral("%v / %m"));
    rgb->hide();
    rl->addWidget(rgb, 1);
    btnStop = addComponent(new QToolButton(runRow), QStringLiteral("btnStop"));
    btnStop->setText(QStringLiteral("停止"));
    btnStop->setToolTip(QStringLiteral("停止处理：未处理的记录保持不变"));
    btnStop->hide();
    connect(btnStop, &QToolButton::clicked, this, [this] {
        requestStop();
        btnStop->setEnabled(false);
    });
    rl->addWidget(btnStop);
    pnlRun = runRow;
    connect(btnExpand, &QToolButton::clicked, this, [this] {
        m_progressShown = true;
        rgb->show();
    });
    connect(btnCollapse, &QToolButton::clicked, this, [this] {
        m_progressShown = false;
        rgb->hide();
    });

    // Side panel of refresh options (hidden until 刷新 on the tool bar shows it).
    auto *side = new QVBoxLayout(rzszpnl1);
    side->setContentsMargins(8, 8, 8, 8);
    auto *title = new QLabel(QStringLiteral("刷新选项"), rzszpnl1);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    side->addWidget(title);
    m_sideLayout = new QFormLayout;
    m_sideLayout->setLabelAlignment(Qt::AlignRight);
    side->addLayout(m_sideLayout);
    sbRefresh = addComponent(new QPushButton(QStringLiteral("刷新"), rzszpnl1),
                             QStringLiteral("sbRefresh"));
    side->addWidget(sbRefresh);
    auto *hint = new QLabel(QStringLiteral("先在表格中选中要刷新的记录，再按“刷新”。"), rzszpnl1);
    hint->setWordWrap(true);
    side->addWidget(hint);
    side->addStretch();
}

TfFinanceEdit::~TfFinanceEdit() = default;

QComboBox *TfFinanceEdit::addSideChoice(const QString &name, const QString &label,
                                        const QStringList &items)
{
    auto *box = addComponent(new tessera::TRzComboBox(rzszpnl1), name);
    box->addItem(QString());
    box->addItems(items);
    box->setCurrentIndex(0);
    m_sideLayout->addRow(addComponent(new QLabel(label, rzszpnl1), QStringLiteral("lbl") + name.mid(3)),
                         box);
    return box;
}

void TfFinanceEdit::InitPDM()
{
    TfDBMultiBase_Batch::InitPDM();
    SetPDM(DM_Func());
    SetDBGridIniFile(objectName() + QStringLiteral(".ini"));
    cdsData->SetMyConn(DM_Func()->cnServer);
    cdsTmp->SetMyConn(DM_Func()->cnServer);
    filters->InitPDM();
}

void TfFinanceEdit::actQueryExecute()
{
    TfDBMultiBase_Batch::actQueryExecute();
    if (!DBGridData->SelectedRows().isEmpty())
        actUnSelAllExecute();
}

void TfFinanceEdit::actSelAllExecute()
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    WaitCursor wait;
    DBGridData->selectAllRows();
}

void TfFinanceEdit::actUnSelAllExecute()
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return;
    WaitCursor wait;
    DBGridData->clearSelectedRows();
}

void TfFinanceEdit::actRefreshExecute()
{
    rzszpnl1->setVisible(rzszpnl1->isHidden());
}

bool TfFinanceEdit::CloseQuery()
{
    // A window in the middle of a run cannot go away under it: stop first.
    if (m_running) {
        requestStop();
        return false;
    }
    return TfDBMultiBase_Batch::CloseQuery();
}

void TfFinanceEdit::FormClose(bool &freeOnClose)
{
    TfDBMultiBase_Batch::FormClose(freeOnClose);
    freeOnClose = true;
}

QString TfFinanceEdit::fieldText(const QString &field) const
{
    return cdsData->FieldByName(field)->AsString();
}

double TfFinanceEdit::fieldDecimal(const QString &field) const
{
    return toDecimal(fieldText(field));
}

void TfFinanceEdit::setFieldText(const QString &field, const QString &value)
{
    // A value that stays as it was is no change: closing later does not ask to save it.
    if (cdsData->State() == quillon::DataSetState::Browse
        && cdsData->FieldByName(field)->AsString() == value)
        return;
    if (cdsData->State() == quillon::DataSetState::Browse)
        cdsData->Edit();
    cdsData->FieldByName(field)->SetAsString(value);
}

void TfFinanceEdit::setFieldDecimal(const QString &field, double value)
{
    const quillon::TField *f = cdsData->FieldByName(field);
    if (cdsData->State() == quillon::DataSetState::Browse && !f->IsNull()
        && qAbs(f->AsFloat() - value) < 1e-9)
        return;
    if (cdsData->State() == quillon::DataSetState::Browse)
        cdsData->Edit();
    cdsData->FieldByName(field)->SetAsFloat(value);
}

QString TfFinanceEdit::LookupCall(const Lookup &lookup)
{
    return m_calls.lookup(fieldText(QStringLiteral("BillCode")), lookup,
                          host::g_lstVars->value(QStringLiteral("sysid")));
}

double TfFinanceEdit::CalcFee(const FeeArgs &a)
{
    return m_calls.fee(fieldText(QStringLiteral("BillCode")), a);
}

ServerCall TfFinanceEdit::planLookup(const Lookup &lookup) const
{
    return lookupCall(fieldText(QStringLiteral("BillCode")), lookup,
                      host::g_lstVars->value(QStringLiteral("sysid")));
}

ServerCall TfFinanceEdit::planFee(const FeeArgs &args) const
{
    return feeCall(fieldText(QStringLiteral("BillCode")), args);
}

FeeArgs TfFinanceEdit::recordFeeArgs(const QString &feeType) const
{
    FeeArgs a;
    a.firstSite = fieldText(QStringLiteral("FIRSTSITE"));
    a.dest = fieldText(QStringLiteral("DEST"));
    a.feeType = feeType;
    a.pcs = 1;
    a.weight = fieldDecimal(QStringLiteral("WEIGHT"));
    a.bulkWeight = a.weight;
    a.fastType = fieldText(QStringLiteral("FASTTYPE"));
    a.goodsType = fieldText(QStringLiteral("GOODSTYPE"));
    a.finance = fieldText(QStringLiteral("FIRSTCENTER"));
    a.opSite = a.firstSite;
    a.validTime = cdsData->FieldByName(QStringLiteral("CREATETIME"))->AsDateTime();
    a.sysid = host::g_lstVars->value(QStringLiteral("sysid"));
    return a;
}

void TfFinanceEdit::clearMarksAfter(RunEnd end)
{
    if (end == RunEnd::Done && !DBGridData->SelectedRows().isEmpty())
        actUnSelAllExecute();
}

void TfFinanceEdit::keepPainting(int done, bool now)
{
    if (!now && m_paint.elapsed() < kPaintIntervalMs)
        return;
    // The bar repaints at once whenever its text changes: set it only when the window
    // paints anyway, not for every row.
    rgb->setValue(done);
    QCoreApplication::processEvents();
    m_paint.restart();
}

void TfFinanceEdit::restoreMarks(const QList<QVariant> &marks)
{
    QTableView *view = DBGridData->view();
    QAbstractItemModel *model = view->model();
    if (!model || model->columnCount() == 0)
        return;
    tessera::TDataSource *source = DBGridData->DataSource();
    std::vector<int> rows;
    rows.reserve(size_t(marks.size()));
    for (const QVariant &m : marks)
        if (const int row = DBGridData->gridRow(source->rowOfBookmark(m)); row >= 0)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    // Neighbouring rows as one range: a selection of a few ranges paints fast, one of a
    // thousand single rows does not.
    QItemSelection selection;
    const int lastColumn = model->columnCount() - 1;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] <= rows[j] + 1)
            ++j;
        selection.select(model->index(rows[i], 0), model->index(rows[j], lastColumn));
        i = j + 1;
    }
    view->selectionModel()->select(selection, QItemSelectionModel::Select);
}

int TfFinanceEdit::prefetchLines(const QList<QVariant> &lines, int from, int limit,
                                 const RunRecipe &recipe)
{
    QList<ServerCall> calls;
    int next = from;
    while (next < lines.size() && (next == from || calls.size() < limit)) {
        cdsData->GotoBookmark(lines.at(next).toLongLong());
        try {
            calls += recipe.plan();
        } catch (...) {
            // The step of this line meets the same error and stops the run there.
            if (next == from)
                ++next;
            break;
        }
        ++next;
    }
    if (!calls.isEmpty())
        m_calls.prefetch(calls);
    return next;
}

TfFinanceEdit::RunEnd TfFinanceEdit::runLines(Lines which, const RunRecipe &recipe)
{
    if (!cdsData->Active() || cdsData->IsEmpty())
        return RunEnd::Nothing;
    cdsData->CheckBrowseMode();
    KeptMarks kept(this);
    QList<QVariant> lines;
    if (which == Lines::Current) {
        lines.append(cdsData->GetBookmark());
    } else {
        lines = kept.marks();
        if (lines.isEmpty() && !recipe.noMarkWarning.isEmpty()) {
            MSGWarningDialog(recipe.noMarkWarning);
            return RunEnd::Nothing;
        }
    }
    RunReport report;
    report.single = which == Lines::Current;
    report.total = int(lines.size());
    {
        RunLock lock(this, report.total, which == Lines::Marked);
        // Over marked lines the answers come a batch at a time, the first batches small.
        int fetchedUpTo = 0;
        int batchCalls = std::min(64, m_callsPerRequest);
        for (int i = 0; i < report.total; ++i) {
            if (m_stopRequested) {
                report.end = RunReport::End::Stopped;
                break;
            }
            QString bill;
            try {
                if (which == Lines::Marked && recipe.plan && i == fetchedUpTo) {
                    fetchedUpTo = prefetchLines(lines, i, batchCalls, recipe);
                    batchCalls = std::min(batchCalls * 4, m_callsPerRequest);
                }
                cdsData->GotoBookmark(lines.at(i).toLongLong());
                bill = fieldText(QStringLiteral("BillCode"));
                recipe.step();
                cdsData->CheckBrowseMode();
            } catch (...) {
                // The failing line keeps its values (fees written earlier in it too); the
                // lines before keep theirs.
                report.failure = lineFailureOf(std::current_exception(), bill);
                report.end = RunReport::End::Failed;
                try {
                    if (cdsData->State() != quillon::DataSetState::Browse)
                        cdsData->Cancel();
                } catch (...) {
                }
                break;
            }
            ++report.done;
            emit rowDone(report.done);
            if (which == Lines::Marked)
                keepPainting(report.done, report.done == 1);
        }
        lock.end();
        kept.restore();
    }
    switch (report.end) {
    case RunReport::End::Failed:
        if (!report.failure.details.isEmpty())
            qCWarning(lcTally).noquote() << report.failure.message << "|" << report.failure.details;
        MSGErrorDialog(runEndText(report, recipe.doneHint), report.failure.details);
        return RunEnd::Failed;
    case RunReport::End::Stopped:
        MSGHintDialog(runEndText(report, recipe.doneHint));
        return RunEnd::Stopped;
    case RunReport::End::Done:
        break;
    }
    MSGHintDialog(recipe.doneHint);
    return RunEnd::Done;
}

} // namespace tally
