#include "baseforms/mydbxedit.h"

#include "dataaccess/controlsoff.h"

#include "baseforms/environment.h"
#include "baseforms/fdbbase.h"
#include "baseforms/fdblookupdlg.h"
#include "baseforms/msgconfig.h"
#include "baseforms/ucommessage.h"
#include "dataaccess/datasetmodel.h"
#include "dataaccess/mydataset.h"
#include "host/errors.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStringMatcher>
#include <QTableView>

namespace tessera {

namespace {

constexpr int kListRows = 20;
constexpr int kMaxLookupRecords = 50000;
// Pending messages run every this many records of a local search, so that a newer
// keystroke or a focus change stops it without slowing the search itself.
constexpr int kRecordsBetweenMessages = 2048;

QIcon ellipsisIcon()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    for (int x : {3, 7, 11})
        p.drawRect(x, 11, 2, 2);
    return QIcon(pm);
}

// The font of the window that holds `edit`: that of its form, else of its top-level window.
QFont windowFont(const QWidget *edit)
{
    for (const QWidget *w = edit->parentWidget(); w; w = w->parentWidget())
        if (w->inherits("tessera::TfBase") || w->isWindow())
            return w->font();
    return QApplication::font();
}

// The list grid: a window of its own under the edit that never takes the focus, so that
// typing goes on in the edit while it shows.
class LookupList : public QTableView
{
public:
    explicit LookupList(QWidget *edit)
        : QTableView(edit)
    {
        // A tool-tip window is never activated, on any platform plug-in.
        setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("FDataList"));
        horizontalHeader()->hide();
        verticalHeader()->hide();
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::Box);
        setPalette(edit->palette());
        // The list reads like the window's grids and labels, whatever size the edit's own
        // text has.
        const QFont f = windowFont(edit);
        setFont(f);
        verticalHeader()->setDefaultSectionSize(QFontMetrics(f).height() + 4);
    }
};

} // namespace

TMyDBXEdit::TMyDBXEdit(QWidget *parent)
    : TDBEditEh(parent)
{
    resize(120, height());
    setMaxLength(100);
    FButton = addEditButton(ellipsisIcon());
    FButton->setShortcut(QKeySequence(Qt::Key_F4));
    connect(this, &TDBEditEh::editButtonClicked, this, [this] { EditButtonClick(); });
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (m_lookupCds && !isReadOnly())
            textTyped();
    });
}

TMyDBXEdit::~TMyDBXEdit()
{
    m_destroying = true;
    m_lookupCds = nullptr;
}

void TMyDBXEdit::SetMSD_LookupCds(quillon::TMyDataSet *dataSet)
{
    if (m_lookupCds == dataSet)
        return;
    // The kept dialog was built for the old dataset.
    if (FDBLookupDlg)
        delete FDBLookupDlg->frame();
    m_lookupCds = dataSet;
}

void TMyDBXEdit::SetMSD_FieldList(const QString &list)
{
    m_fieldList = list;
    if (FDBLookupDlg)
        FDBLookupDlg->SetShowFieldList(list);
}

QStringList TMyDBXEdit::listNames() const
{
    QStringList names;
    if (!FListVisible || !FDataListDataset || !FDataListDataset->Active())
        return names;
    const int nameIdx = FDataListDataset->fieldIndex(m_nameField);
    for (int r = 0; r < FDataListDataset->RecordCount(); ++r)
        names << FDataListDataset->valueAt(r, nameIdx).toString();
    return names;
}

bool TMyDBXEdit::canTakeFocus() const
{
    return isEnabled() && isVisible() && focusPolicy() != Qt::NoFocus && window()->isVisible();
}

// ---- events ---------------------------------------------------------------------------

bool TMyDBXEdit::event(QEvent *e)
{
    if (e->type() == CancelModeEvent::eventType()) {
        CMCancelMode(static_cast<CancelModeEvent *>(e));
        return true;
    }
    return TDBEditEh::event(e);
}

void TMyDBXEdit::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    if (FListVisible) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            CloseUp(true);
            e->accept();
            return;
        }
        if (key == Qt::Key_Escape) {
            CloseUp(false);
            e->accept();
            return;
        }
    }
    if (m_lookupCds && !isReadOnly()) {
        if (FListVisible) {
            switch (key) {
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Home:
            case Qt::Key_End: {
                // Home and End move between rows in the list, not between columns.
                const Qt::KeyboardModifiers mods = key == Qt::Key_Home || key == Qt::Key_End
                                                       ? Qt::ControlModifier
                                                       : Qt::NoModifier;
                QKeyEvent forward(QEvent::KeyPress, key, mods);
                QCoreApplication::sendEvent(FDataList, &forward);
                e->accept();
                return;
            }
            default:
                break;
            }
        } else if (key == Qt::Key_Down) {
            downKey();
        }
    }
    TDBEditEh::keyPressEvent(e);
}

void TMyDBXEdit::focusOutEvent(QFocusEvent *e)
{
    trace(QStringLiteral("Call WMKillFocus"));
    if (FListVisible && QApplication::activeWindow() == FDataList) {
        // The list window got activated by its platform: typing goes on in the edit.
        TDBEditEh::focusOutEvent(e);
        window()->activateWindow();
        return;
    }
    if (FListVisible && QApplication::focusWidget() != FDataList)
        CloseUp(false);
    FStopList = true;
    TDBEditEh::focusOutEvent(e);
    // Switching to another program is no exit from the edit.
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason)
        return;
    QPointer<TMyDBXEdit> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self || self->m_destroying)
                return;
            try {
                self->DoExit();
            } catch (const host::SilentAbort &) {
            }
        },
        Qt::QueuedConnection);
}

void TMyDBXEdit::DoExit()
{
    CheckValue();
    updateRecord();
}

void TMyDBXEdit::CMCancelMode(CancelModeEvent *e)
{
    try {
        CheckValue();
    } catch (const host::SilentAbort &) {
        e->refuse();
        return;
    }
    updateRecord();
    CloseUp(false);
}

void TMyDBXEdit::textTyped()
{
    DropDown();
}

// ---- checking -------------------------------------------------------------------------

void TMyDBXEdit::CheckValue()
{
    if (m_destroying || !isModified() || !m_lookupCds)
        return;
    QString t = text().trimmed();
    t.remove(QLatin1Char('\r'));
    t.remove(QLatin1Char('\n'));
    checkText(t, true, true);
}

void TMyDBXEdit::checkText(const QString &t, bool searchByNameAndCode, bool withAssistCode)
{
    if (t.isEmpty()) {
        setText(QString());
        return;
    }
    setText(t);
    setModified(true);
    quillon::TMyDataSet *ds = m_lookupCds;
    bool found = false;
    const bool usable = ds && ds->Active();
    auto takeName = [&] {
        if (const quillon::TField *name = ds->FindField(m_nameField)) {
            setText(name->AsString());
            setModified(true);
        }
        found = true;
    };
    if (usable && searchByNameAndCode) {
        if (!m_nameField.isEmpty() && ds->FindField(m_nameField) && ds->Locate(m_nameField, t)) {
            found = true;
        } else if (const quillon::TField *code =
                       m_codeField.isEmpty() ? nullptr : ds->FindField(m_codeField)) {
            using quillon::FieldType;
            QVariant key;
            const FieldType type = code->DataType();
            if (type == FieldType::String || type == FieldType::WideString) {
                key = t;
            } else if (quillon::isIntegerType(type) || type == FieldType::Float ||
                       type == FieldType::Currency || type == FieldType::BCD ||
                       type == FieldType::FMTBCD) {
                bool ok = false;
                const double v = t.toDouble(&ok);
                key = ok ? v : -999.0;
            }
            if (key.isValid() && ds->Locate(code->FieldName(), key))
                takeName();
        }
    }
    if (usable && !found && withAssistCode && !m_assistField.isEmpty() &&
        ds->FindField(m_assistField) && ds->Locate(m_assistField, t, quillon::CaseInsensitive))
        takeName();
    if (found || !m_validate)
        return;
    if (!canTakeFocus()) {
        setText(QString());
        return;
    }
    HintDialog(m_caption + msgText(QStringLiteral("Msg10")));
    if (canTakeFocus()) {
        setFocus(Qt::OtherFocusReason);
        throw host::SilentAbort();
    }
    setText(QString());
}

// ---- the list ---------------------------------------------------------------------------

quillon::TMyDataSet *TMyDBXEdit::ensureListDataset()
{
    if (!FDataListDataset) {
        FDataListDataset = new quillon::TMyDataSet(this);
        FDataListDataset->setObjectName(QStringLiteral("FDataListDataset"));
    }
    return FDataListDataset;
}

void TMyDBXEdit::DropDown()
{
    quillon::TMyDataSet *lookup = m_lookupCds;
    if (!lookup || isReadOnly() || tagOf(this) == 8 || !lookup->Active() ||
        lookup->RecordCount() > kMaxLookupRecords)
        return;
    quillon::TMyDataSet *list = ensureListDataset();

    QPointer<TMyDBXEdit> self(this);
    QPointer<quillon::TMyDataSet> guard(lookup);
    QList<QVariantList> exact;
    QList<QVariantList> rest;
    bool stopped = false;
    {
        quillon::ControlsOff offLookup(lookup);
        quillon::ControlsOff offList(list);
        FStopList = false;
        const QString typed = text();
        const int nameIdx = m_nameField.isEmpty() ? -1 : lookup->fieldIndex(m_nameField);
        const int codeIdx = m_codeField.isEmpty() ? -1 : lookup->fieldIndex(m_codeField);
        const int assistIdx = m_assistField.isEmpty() ? -1 : lookup->fieldIndex(m_assistField);
        if (codeIdx >= 0) {
            const QString codeName = lookup->Fields(codeIdx)->FieldName();
            if (lookup->IndexFieldNames() != codeName)
                lookup->SetIndexFieldNames(codeName);
        }
        const int fieldCount = lookup->FieldCount();
        const int count = lookup->RecordCount();
        const int keys[3] = {nameIdx, codeIdx, assistIdx};
        // One matcher for the whole table: the typed text's tables are built once.
        const QStringMatcher matcher(typed, Qt::CaseInsensitive);
        for (int pos = 0; pos < count; ++pos) {
            bool matches = typed.isEmpty();
            bool isExact = false;
            if (!matches) {
                for (int k : keys) {
                    if (k < 0)
                        continue;
                    const QVariant cell = lookup->valueAt(pos, k);
                    QString converted;
                    const QString *v = cell.metaType().id() == QMetaType::QString
                                           ? static_cast<const QString *>(cell.constData())
                                           : &(converted = cell.toString());
                    if (v->size() >= typed.size() && matcher.indexIn(*v) >= 0) {
                        matches = true;
                        if (v->size() == typed.size()) {
                            isExact = true;
                            break;
                        }
                    }
                }
            }
            if (matches) {
                QVariantList row;
                row.reserve(fieldCount);
                for (int f = 0; f < fieldCount; ++f)
                    row << lookup->valueAt(pos, f);
                if (isExact)
                    exact.prepend(std::move(row));
                else
                    rest.append(std::move(row));
                if (exact.size() + rest.size() >= kListRows)
                    break;
            }
            if ((pos + 1) % kRecordsBetweenMessages == 0) {
                QCoreApplication::processEvents();
                // A newer keystroke (it runs its own search) or a focus loss ends this one.
                if (!self || !guard || m_destroying || FStopList || text() != typed ||
                    lookup->RecordCount() != count) {
                    stopped = true;
                    break;
                }
            }
        }
        if (!stopped) {
            quillon::DataPacket packet;
            packet.fields = lookup->FieldDefs();
            packet.rows = exact + rest;
            list->SetData(std::move(packet));
            lookup->First();
            list->First();
        }
    }
    if (!self || m_destroying)
        return;
    if (stopped) {
        // The newer search has shown its rows while this one still held the controls off:
        // lay the list out again now that the grid sees them.
        if (FListVisible)
            refreshList();
        return;
    }
    showOrHideList();
}

void TMyDBXEdit::showOrHideList()
{
    quillon::TMyDataSet *list = FDataListDataset;
    const bool empty = !list || !list->Active() || list->IsEmpty();
    if (FListVisible && empty) {
        CloseUp(false);
        return;
    }
    if (!FListVisible && !empty) {
        if (!hasFocus())
            setFocus(Qt::OtherFocusReason);
        if (!FDataList) {
            FDataList = new LookupList(this);
            FDataListSource = new quillon::DataSetModel(FDataList);
            connect(FDataList, &QAbstractItemView::clicked, this,
                    [this] { ListMouseCloseUp(FDataList, true); });
        }
        FDataListSource->setDataSet(list);
        FDataList->setModel(FDataListSource);
        FListVisible = true;
        setProperty("WantsReturn", true);
        placeList();
        FDataList->show();
    }
    if (FListVisible)
        refreshList();
}

void TMyDBXEdit::refreshList()
{
    placeList();
    const int nameIdx = FDataListDataset->fieldIndex(m_nameField);
    if (FDataListSource->rowCount() > 0)
        FDataList->setCurrentIndex(FDataListSource->index(0, nameIdx >= 0 ? nameIdx : 0));
}

void TMyDBXEdit::placeList()
{
    quillon::TMyDataSet *list = FDataListDataset;
    const int nameIdx = m_nameField.isEmpty() ? -1 : list->fieldIndex(m_nameField);
    const int codeIdx = m_codeField.isEmpty() ? -1 : list->fieldIndex(m_codeField);
    QHeaderView *h = FDataList->horizontalHeader();
    int total = 0;
    for (int c = 0; c < FDataListSource->columnCount(); ++c) {
        const bool shown = c == nameIdx || c == codeIdx;
        FDataList->setColumnHidden(c, !shown);
    }
    if (nameIdx >= 0) {
        h->moveSection(h->visualIndex(nameIdx), 0);
        FDataList->setColumnWidth(nameIdx, width());
        total += width();
    }
    if (codeIdx >= 0) {
        h->moveSection(h->visualIndex(codeIdx), nameIdx >= 0 ? 1 : 0);
        FDataList->setColumnWidth(codeIdx, 80);
        total += 80;
    }
    const int rows = qMin(kListRows, FDataListSource->rowCount());
    const int frame = 2 * FDataList->frameWidth();
    const int w = qMax(total + frame, width());
    const int hgt = rows * FDataList->verticalHeader()->defaultSectionSize() + frame;
    QPoint below = mapToGlobal(QPoint(0, height()));
    if (const QScreen *s = screen()) {
        // Opens upwards when there is no room below.
        if (below.y() + hgt > s->availableGeometry().bottom())
            below = mapToGlobal(QPoint(0, -hgt));
    }
    FDataList->setGeometry(QRect(below, QSize(w, hgt)));
}

void TMyDBXEdit::CloseUp(bool accept)
{
    trace(QStringLiteral("call CloseUp"));
    int row = -1;
    if (FDataList && FDataList->currentIndex().isValid())
        row = FDataList->currentIndex().row();
    if (FListVisible) {
        if (QWidget *grabber = QWidget::mouseGrabber())
            grabber->releaseMouse();
        FDataList->hide();
        FListVisible = false;
        setProperty("WantsReturn", false);
        FDataListSource->setDataSet(nullptr);
        update();
    }
    if (!accept || isReadOnly())
        return;
    quillon::TMyDataSet *list = FDataListDataset;
    if (!list || !list->Active() || list->IsEmpty())
        return;
    if (row < 0 || row >= list->RecordCount())
        row = 0;
    const int nameIdx = list->fieldIndex(m_nameField);
    setText(list->valueAt(row, nameIdx).toString());
    if (!m_codeField.isEmpty() && m_lookupCds && m_lookupCds->Active()) {
        const int codeIdx = list->fieldIndex(m_codeField);
        if (codeIdx >= 0 && m_lookupCds->FindField(m_codeField))
            m_lookupCds->Locate(m_codeField, list->valueAt(row, codeIdx));
    }
    selectAll();
}

void TMyDBXEdit::ListMouseCloseUp(QObject *, bool accept)
{
    CloseUp(accept);
}

void TMyDBXEdit::EditButtonClick()
{
    // An edit bound to a dataset that is not open has nothing to take the choice; an
    // unbound edit (a search field of a query window) takes it as its text.
    if (isReadOnly() || !m_lookupCds || (dataLink()->dataSource() && !dataLink()->isActive()))
        return;
    if (!FDBLookupDlg) {
        if (!checkLookupConfig(m_lookupCds, m_nameField, m_fieldList))
            return;
        FDBLookupDlg = createForm<TfDBLookupDlg>(this);
        FDBLookupDlg->SetLookupTable(m_lookupCds);
        FDBLookupDlg->SetShowFieldList(m_fieldList);
        FDBLookupDlg->SetLookupField(m_nameField);
        FDBLookupDlg->SetStrCaption(m_caption);
    }
    FDBLookupDlg->SetSearchText(QString());
    if (FDBLookupDlg->ShowModal()) {
        setText(FDBLookupDlg->ReturnValue());
        selectAll();
    }
}

} // namespace tessera
