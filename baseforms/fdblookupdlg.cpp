#include "baseforms/fdblookupdlg.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/fdbbase.h"
#include "baseforms/msgconfig.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tessera {

QStringList splitDelimitedText(const QString &text, QChar delimiter, bool stripQuotes)
{
    QStringList parts;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto isBlank = [](QChar c) { return c.unicode() <= ' ' || c.isSpace(); };
    auto skipBlanks = [&] {
        while (i < n && isBlank(text.at(i)))
            ++i;
    };
    skipBlanks();
    if (i == n)
        return parts;
    for (;;) {
        QString part;
        bool quoted = false;
        while (i < n) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('"')) {
                if (quoted && i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    part += stripQuotes ? QStringLiteral("\"") : QStringLiteral("\"\"");
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                if (!stripQuotes)
                    part += c;
                ++i;
                continue;
            }
            if (!quoted && (c == delimiter || isBlank(c)))
                break;
            part += c;
            ++i;
        }
        parts << part;
        skipBlanks();
        if (i >= n)
            break;
        if (text.at(i) == delimiter) {
            ++i;
            skipBlanks();
            if (i >= n) {
                parts << QString();
                break;
            }
        }
    }
    return parts;
}

namespace {

bool isNumberSearchField(quillon::FieldType t)
{
    using quillon::FieldType;
    return quillon::isIntegerType(t) || t == FieldType::Float || t == FieldType::Currency ||
           t == FieldType::BCD || t == FieldType::FMTBCD;
}

void platformWarning(const QString &text)
{
    host::dialogPresenter().showMessage(host::MessageKind::Warning,
                                        QApplication::applicationDisplayName(), text);
}

} // namespace

bool checkLookupConfig(quillon::TMyDataSet *dataSet, const QString &lookupField,
                       const QString &showFieldList)
{
    const char *key = nullptr;
    if (!dataSet)
        key = "Msg22";
    else if (!dataSet->Active())
        key = "Msg23";
    else if (lookupField.isEmpty())
        key = "Msg24";
    else if (showFieldList.isEmpty())
        key = "Msg25";
    if (!key)
        return true;
    platformWarning(msgText(QString::fromLatin1(key)));
    return false;
}

// ---------------------------------------------------------------------------------------

TfDBLookupDlg::TfDBLookupDlg(QWidget *owner)
    : TfBase(nullptr)
    , m_frame(new QDialog(owner))
{
    setObjectName(QStringLiteral("fDBLookupDlg"));
    m_frame->setObjectName(QStringLiteral("fDBLookupDlgFrame"));
    m_frame->setWindowTitle(QStringLiteral("请选择"));
    m_frame->setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                            Qt::WindowCloseButtonHint);
    auto *frameLayout = new QVBoxLayout(m_frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    setParent(m_frame);
    frameLayout->addWidget(this);
    // Wider windows come from the columns; the design's 274 would hide the width rule.
    m_frame->setMinimumSize(220, 362);
    m_frame->resize(268, 341);

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(5, 5, 5, 5);
    main->setSpacing(0);

    auto *top = new QWidget(this);
    top->setFixedHeight(40);
    auto *topGrid = new QGridLayout(top);
    topGrid->setContentsMargins(0, 0, 0, 0);
    topGrid->setHorizontalSpacing(4);
    topGrid->setVerticalSpacing(0);
    pnlLookupCol = addComponent(new QWidget(top), QStringLiteral("pnlLookupCol"));
    auto *colLayout = new QVBoxLayout(pnlLookupCol);
    colLayout->setContentsMargins(0, 0, 0, 0);
    colLayout->setSpacing(0);
    lbl1 = addComponent(new QLabel(pnlLookupCol), QStringLiteral("lbl1"));
    cbbIndexFields = addComponent(new QComboBox(pnlLookupCol), QStringLiteral("cbbIndexFields"));
    cbbIndexFields->setEditable(false);
    cbbIndexFields->setFixedHeight(22);
    colLayout->addWidget(lbl1, 0, Qt::AlignTop);
    colLayout->addStretch(1);
    colLayout->addWidget(cbbIndexFields);
    pnlLookupValue = addComponent(new QWidget(top), QStringLiteral("pnlLookupValue"));
    auto *valLayout = new QVBoxLayout(pnlLookupValue);
    valLayout->setContentsMargins(0, 0, 0, 0);
    valLayout->setSpacing(0);
    lblFindField = addComponent(new QLabel(QStringLiteral("查找内容(&S)："), pnlLookupValue),
                                QStringLiteral("lblFindField"));
    edtFindValue = addComponent(new QLineEdit(pnlLookupValue), QStringLiteral("edtFindValue"));
    edtFindValue->setToolTip(QStringLiteral("请输入要查找的内容"));
    lblFindField->setBuddy(edtFindValue);
    valLayout->addWidget(lblFindField, 0, Qt::AlignTop);
    valLayout->addStretch(1);
    valLayout->addWidget(edtFindValue);
    topGrid->addWidget(pnlLookupCol, 0, 0);
    topGrid->addWidget(pnlLookupValue, 0, 1);
    main->addWidget(top);

    dsMain = new TDataSource(this);
    dbgrdhMain = addComponent(new TDBGridEh(this), QStringLiteral("dbgrdhMain"));
    dbgrdhMain->setFitColumns(false); // the field list gives the widths
    dbgrdhMain->setReadOnly(true);
    dbgrdhMain->setTitleButtons(true);
    dbgrdhMain->setLocalSorting(true);
    dbgrdhMain->setFilterRowVisible(true);
    dbgrdhMain->setSumListActive(true);
    dbgrdhMain->FooterColor = colorFromBgr(16768477);
    dbgrdhMain->OddRowColor = colorFromBgr(16767950);
    dbgrdhMain->applyColors();
    dbgrdhMain->view()->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgrdhMain->view()->setSelectionMode(QAbstractItemView::SingleSelection);
    dbgrdhMain->setFocusPolicy(Qt::ClickFocus);
    dbgrdhMain->view()->setFocusPolicy(Qt::ClickFocus);
    dbgrdhMain->setDataSource(dsMain);
    main->addWidget(dbgrdhMain, 1);

    auto *sep = new QFrame(this);
    sep->setFixedHeight(11);
    sep->setFrameShape(QFrame::HLine);
    sep->setFrameShadow(QFrame::Sunken);
    main->addWidget(sep);
    auto *bottom = new QWidget(this);
    bottom->setFixedHeight(35);
    auto *bl = new QHBoxLayout(bottom);
    bl->setContentsMargins(0, 0, 0, 0);
    bl->addStretch(1);
    btnOk =
        addComponent(new QPushButton(QStringLiteral("确定(&O)"), bottom), QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnCancel = addComponent(new QPushButton(QStringLiteral("取消(&C)"), bottom),
                             QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    bl->addWidget(btnOk);
    bl->addWidget(btnCancel);
    main->addWidget(bottom);

    connect(cbbIndexFields, &QComboBox::currentIndexChanged, this,
            &TfDBLookupDlg::cbbIndexFieldsChange);
    connect(edtFindValue, &QLineEdit::textChanged, this, &TfDBLookupDlg::edtFindValueChange);
    connect(dbgrdhMain->view(), &QAbstractItemView::doubleClicked, this,
            &TfDBLookupDlg::dbgrdhMainDblClick);
    connect(btnOk, &QPushButton::clicked, this, &TfDBLookupDlg::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfDBLookupDlg::btnCancelClick);
    edtFindValue->installEventFilter(this);
    dbgrdhMain->view()->installEventFilter(this);
}

TfDBLookupDlg::~TfDBLookupDlg() = default;

void TfDBLookupDlg::SetLookupTable(quillon::TMyDataSet *table)
{
    m_lookupTable = table;
}

void TfDBLookupDlg::SetShowFieldList(const QString &list)
{
    m_fieldList = list;
}

void TfDBLookupDlg::SetSearchText(const QString &text)
{
    m_searchText = text;
    QSignalBlocker block(edtFindValue);
    edtFindValue->setText(text);
}

int TfDBLookupDlg::CalcColumnWidth(const QString &title)
{
    const QString key = msgText(QStringLiteral("Msg32"));
    return !key.isEmpty() && title.contains(key) ? 70 : 120;
}

QString TfDBLookupDlg::GetFieldName(const QString &title) const
{
    for (TColumnEh *c : dbgrdhMain->Columns())
        if (c->title() == title)
            return c->FieldName;
    return {};
}

void TfDBLookupDlg::InitData()
{
    if (!m_building) {
        TfBase::InitData(); // the creation-time restyling of every form
        return;
    }
    lbl1->setText(msgText(QStringLiteral("Msg28")));
    lblFindField->setText(msgText(QStringLiteral("Msg29")));
    btnOk->setText(msgText(QStringLiteral("Msg30")));
    btnCancel->setText(msgText(QStringLiteral("Msg31")));
    m_frame->setWindowTitle(m_caption);

    dsMain->setDataSet(m_lookupTable);
    dbgrdhMain->clearColumns();

    int total = 0;
    const QStringList items = splitDelimitedText(m_fieldList, QLatin1Char(';'), false);
    for (const QString &item : items) {
        const QStringList parts = splitDelimitedText(item, QLatin1Char(','), true);
        if (parts.isEmpty() || !m_lookupTable || !m_lookupTable->FindField(parts.at(0)))
            continue;
        const QString title = parts.size() > 1 ? parts.at(1) : parts.at(0);
        int width;
        if (parts.size() > 2) {
            bool ok = false;
            width = parts.at(2).toInt(&ok);
            if (!ok)
                width = 120;
        } else {
            width = CalcColumnWidth(title);
        }
        dbgrdhMain->addColumn(m_lookupTable->FindField(parts.at(0))->FieldName(), title, width);
        total += width;
    }
    // The grid's standard look follows its data; the dialog's own settings come after it.
    dbgrdhMain->setFilterRowVisible(false);
    dbgrdhMain->setFooterRowCount(1);
    dbgrdhMain->setReadOnly(true);
    dbgrdhMain->FooterColor = colorFromBgr(16768477);
    dbgrdhMain->OddRowColor = colorFromBgr(16767950);
    dbgrdhMain->applyColors();

    QSignalBlocker block(cbbIndexFields);
    cbbIndexFields->clear();
    for (TColumnEh *c : dbgrdhMain->Columns())
        cbbIndexFields->addItem(c->title());
    cbbIndexFields->addItem(msgText(QStringLiteral("Msg26")));
    cbbIndexFields->setCurrentIndex(cbbIndexFields->count() - 1);

    m_frame->resize(total + 60, m_frame->height());
}

void TfDBLookupDlg::FormShow()
{
    TfBase::FormShow();
    if (!FHasInit) {
        quillon::TBookmark mark = quillon::kNoBookmark;
        if (m_lookupTable && m_lookupTable->Active())
            mark = m_lookupTable->GetBookmark();
        m_building = true;
        InitData();
        m_building = false;
        if (mark != quillon::kNoBookmark && m_lookupTable && m_lookupTable->BookmarkValid(mark))
            m_lookupTable->GotoBookmark(mark);
        FHasInit = true;
    }
    edtFindValue->selectAll();
    if (edtFindValue->isEnabled())
        edtFindValue->setFocus();
}

bool TfDBLookupDlg::ShowModal()
{
    if (!isCreated())
        create();
    m_returnValue.clear();
    FormShow();
    const int result = host::dialogPresenter().execDialog(m_frame);
    return result == QDialog::Accepted;
}

void TfDBLookupDlg::cbbIndexFieldsChange()
{
    if (!m_lookupTable || !m_lookupTable->Active())
        return;
    const int i = cbbIndexFields->currentIndex();
    if (i < 0)
        return;
    const bool allColumns = i == cbbIndexFields->count() - 1;
    const QString field = allColumns ? m_lookupField : GetFieldName(cbbIndexFields->itemText(i));
    if (!field.isEmpty() && m_lookupTable->FindField(field))
        m_lookupTable->SetIndexFieldNames(field);
}

bool TfDBLookupDlg::locateIn(const QString &field, const QString &text)
{
    const quillon::TField *f = m_lookupTable->FindField(field);
    if (!f)
        return false;
    if (isNumberSearchField(f->DataType())) {
        // Numbers are searched as numbers: 12 finds the value 12, not 120.
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        return m_lookupTable->Locate(field, ok ? QVariant(v) : QVariant(-1));
    }
    return m_lookupTable->Locate(field, text, quillon::PartialKey | quillon::CaseInsensitive);
}

void TfDBLookupDlg::DoSearchText()
{
    if (!m_lookupTable || !m_lookupTable->Active())
        return;
    const QString text = edtFindValue->text();
    const int i = cbbIndexFields->currentIndex();
    if (i < 0)
        return;
    if (i < cbbIndexFields->count() - 1) {
        locateIn(GetFieldName(cbbIndexFields->itemText(i)), text);
        return;
    }
    for (int c = 0; c < cbbIndexFields->count() - 1; ++c)
        if (locateIn(GetFieldName(cbbIndexFields->itemText(c)), text))
            return;
}

void TfDBLookupDlg::btnOkClick()
{
    m_returnValue.clear();
    if (m_lookupTable && m_lookupTable->Active() && !m_lookupTable->IsEmpty())
        if (const quillon::TField *f = m_lookupTable->FindField(m_lookupField))
            m_returnValue = f->AsString();
    m_frame->done(QDialog::Accepted);
}

void TfDBLookupDlg::btnCancelClick()
{
    m_frame->done(QDialog::Rejected);
}

void TfDBLookupDlg::edtFindValueKeyDown(QKeyEvent *event, bool &handled)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        QKeyEvent copy(QEvent::KeyPress, event->key(), Qt::NoModifier);
        QCoreApplication::sendEvent(dbgrdhMain->view(), &copy);
        handled = true;
    }
}

bool TfDBLookupDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *ke = static_cast<QKeyEvent *>(event);
        if (watched == edtFindValue) {
            bool handled = false;
            edtFindValueKeyDown(ke, handled);
            if (handled)
                return true;
        } else if (watched == dbgrdhMain->view() &&
                   (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter)) {
            btnOkClick();
            return true;
        }
    }
    return TfBase::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------

QString ShowFindForm(const QString &caption, quillon::TMyDataSet *dataSet,
                     const QString &lookupField, const QString &showFieldList,
                     const QString &searchText)
{
    if (!checkLookupConfig(dataSet, lookupField, showFieldList))
        return {};
    auto *dlg = new TfDBLookupDlg(nullptr);
    std::unique_ptr<QDialog> frame(dlg->frame());
    dlg->SetLookupTable(dataSet);
    dlg->SetShowFieldList(showFieldList);
    dlg->SetLookupField(lookupField);
    dlg->SetStrCaption(caption);
    dlg->SetSearchText(searchText);
    return dlg->ShowModal() ? dlg->ReturnValue() : searchText;
}

namespace {
// The data forms' edit and grid-column lookups use this dialog once the library is loaded.
const bool installed = [] {
    setShowFindForm(&ShowFindForm);
    return true;
}();
} // namespace

} // namespace tessera
