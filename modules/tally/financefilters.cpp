#include "modules/tally/financefilters.h"

#include "baseforms/fdbbase.h"
#include "baseforms/fdblookupdlg.h"
#include "baseforms/rzcontrols.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "modules/framework/funcs.h"
#include "modules/tally/financesql.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include "baseforms/dbcontrols.h"
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>

namespace tally {

// ---- FilterLookupEdit --------------------------------------------------------------------

FilterLookupEdit::FilterLookupEdit(QWidget *parent)
    : TMyDBXEdit(parent)
{}

void FilterLookupEdit::EditButtonClick()
{
    if (isReadOnly() || !isEnabled() || !MSD_LookupCds())
        return;
    if (!FDBLookupDlg) {
        if (!tessera::checkLookupConfig(MSD_LookupCds(), MSD_NameField(), MSD_FieldList()))
            return;
        FDBLookupDlg = tessera::createForm<tessera::TfDBLookupDlg>(this);
        FDBLookupDlg->SetLookupTable(MSD_LookupCds());
        FDBLookupDlg->SetShowFieldList(MSD_FieldList());
        FDBLookupDlg->SetLookupField(MSD_NameField());
        FDBLookupDlg->SetStrCaption(MSD_Caption());
    }
    FDBLookupDlg->SetSearchText(QString());
    if (FDBLookupDlg->ShowModal()) {
        setText(FDBLookupDlg->ReturnValue());
        setModified(false);
        selectAll();
    }
}

// ---- FinanceFilters ----------------------------------------------------------------------

namespace {
constexpr int kRowHeight = 28;
constexpr int kDateWidth = 150;
constexpr int kBoxWidth = 110;

quillon::TMyDataSet *listOf(LookupList list)
{
    switch (list) {
    case LookupList::FNSite:
        return framework::GetCdsFNSite();
    case LookupList::Site:
        return framework::GetCdsSite();
    case LookupList::SiteSub:
        return framework::GetCdsSiteSub();
    case LookupList::EmployeeSub:
        return framework::GetCdsEmployeeSub();
    case LookupList::Mdd:
        return framework::GetCdsMdd();
    }
    return nullptr;
}

QString today(const char *time)
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd ")) + QLatin1String(time);
}
} // namespace

FinanceFilters::FinanceFilters(tessera::TfDBBase *form)
    : QObject(form)
    , m_form(form)
{}

QLabel *FinanceFilters::label(const QString &text, const QString &name)
{
    auto *l = m_form->addComponent(new QLabel(text, m_form->gbOption), name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

void FinanceFilters::place(QWidget *lbl, QWidget *box, int row, int col, int rowSpan, int colSpan)
{
    QGridLayout *grid = m_form->optionLayout();
    if (lbl) {
        grid->addWidget(lbl, row, 2 * col, rowSpan > 1 ? Qt::AlignTop | Qt::AlignRight : Qt::Alignment());
        grid->addWidget(box, row, 2 * col + 1, rowSpan, 2 * colSpan - 1);
    } else {
        // A box without a label (the date column choice) uses the label's place too.
        grid->addWidget(box, row, 2 * col, rowSpan, 2 * colSpan);
    }
    m_rows = std::max(m_rows, row + rowSpan);
    m_cols = std::max(m_cols, col + colSpan);
    for (int c = 0; c < 2 * m_cols; ++c)
        grid->setColumnStretch(c, 0);
    grid->setColumnStretch(2 * m_cols, 1);
}

void FinanceFilters::addDateRange(const QString &column, const QString &text, int row, int col,
                                  int colSpan)
{
    m_dateColumn = column;
    auto *box = new QWidget(m_form->gbOption);
    auto *h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(4);
    dtB = m_form->addComponent(new QDateTimeEdit(box), QStringLiteral("dtB"));
    dtE = m_form->addComponent(new QDateTimeEdit(box), QStringLiteral("dtE"));
    for (QDateTimeEdit *d : {dtB, dtE}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        d->setCalendarPopup(true);
        d->setMinimumWidth(kDateWidth);
        tessera::fitDateTimeEdit(d);
    }
    h->addWidget(dtB);
    h->addWidget(label(QStringLiteral("至"), QStringLiteral("lblDateTo")));
    h->addWidget(dtE);
    lblDate = label(text, QStringLiteral("lblDate"));
    h->addStretch();
    place(lblDate, box, row, col, 1, colSpan);
}

void FinanceFilters::addDateColumnChoice(int row, int col)
{
    RgpType = m_form->addComponent(new QWidget(m_form->gbOption), QStringLiteral("RgpType"));
    auto *h = new QHBoxLayout(RgpType);
    h->setContentsMargins(0, 0, 0, 0);
    rgpButtons = new QButtonGroup(RgpType);
    const QString items[] = {QStringLiteral("建立时间"), QStringLiteral("签收时间")};
    for (int i = 0; i < 2; ++i) {
        auto *b = new QRadioButton(items[i], RgpType);
        b->setObjectName(QStringLiteral("RgpType%1").arg(i));
        rgpButtons->addButton(b, i);
        h->addWidget(b);
    }
    rgpButtons->button(0)->setChecked(true);
    connect(rgpButtons, &QButtonGroup::idClicked, this, [this](int id) {
        if (lblDate)
            lblDate->setText(rgpButtons->button(id)->text());
    });
    place(nullptr, RgpType, row, col);
}

QString FinanceFilters::dateColumn() const
{
    if (rgpButtons)
        return rgpButtons->checkedId() == 1 ? QStringLiteral("SIGNTIME") : QStringLiteral("CREATETIME");
    return m_dateColumn;
}

FilterLookupEdit *FinanceFilters::addLookup(const QString &name, const QString &text,
                                            const QString &caption, const QString &column,
                                            LookupList list, int row, int col)
{
    auto *e = m_form->addComponent(new FilterLookupEdit(m_form->gbOption), name);
    e->setMinimumWidth(kBoxWidth);
    e->SetMSD_Caption(caption);
    switch (list) {
    case LookupList::EmployeeSub:
        e->SetMSD_CodeField(QStringLiteral("EmpCode"));
        e->SetMSD_NameField(QStringLiteral("EmpName"));
        e->SetMSD_FieldList(QStringLiteral("EmpCode,员工编号;EmpName,姓名"));
        break;
    case LookupList::Mdd:
        e->SetMSD_CodeField(QStringLiteral("MddCode"));
        e->SetMSD_NameField(QStringLiteral("MddName"));
        e->SetMSD_FieldList(QStringLiteral("MddCode,地区编号;MddName,地区名称"));
        break;
    default:
        e->SetMSD_CodeField(QStringLiteral("SiteCode"));
        e->SetMSD_NameField(QStringLiteral("SiteName"));
        e->SetMSD_FieldList(QStringLiteral("SiteCode,网点编号;SiteName,网点名称"));
        break;
    }
    e->setToolTip(QStringLiteral("输入名称、编号或助记码；按 F4 或点右边的按钮打开选择窗口"));
    place(label(text, QStringLiteral("lbl") + name.mid(3)), e, row, col);
    m_lookups << e;
    m_lookupLists << list;
    m_conditions << [e, column] { return conditionSql(column, e->text()); };
    return e;
}

QComboBox *FinanceFilters::addGoodsType(const QString &column, int row, int col)
{
    cboGoodsType = m_form->addComponent(new tessera::TRzComboBox(m_form->gbOption),
                                        QStringLiteral("cboGoodsType"));
    cboGoodsType->setMinimumWidth(kBoxWidth);
    place(label(QStringLiteral("物品类型"), QStringLiteral("lblGoodsType")), cboGoodsType, row, col);
    QComboBox *box = cboGoodsType;
    m_conditions << [box, column] { return conditionSql(column, box->currentText()); };
    return cboGoodsType;
}

QComboBox *FinanceFilters::addSignType(const QString &flagColumn, int row, int col)
{
    cboSignType = m_form->addComponent(new tessera::TRzComboBox(m_form->gbOption),
                                       QStringLiteral("cboSignType"));
    cboSignType->addItems({QStringLiteral("全部"), QStringLiteral("已签收"), QStringLiteral("未签收")});
    cboSignType->setCurrentIndex(0);
    cboSignType->setMinimumWidth(kBoxWidth);
    place(label(QStringLiteral("签收类型"), QStringLiteral("lblSignType")), cboSignType, row, col);
    QComboBox *box = cboSignType;
    m_conditions << [box, flagColumn] { return signStatusSql(flagColumn, box->currentIndex()); };
    return cboSignType;
}

void FinanceFilters::addBillCodes(int row, int col, int rowSpan)
{
    chkByCode = m_form->addComponent(new tessera::TRzCheckBox(QStringLiteral("按单号查询"),
                                                              m_form->gbOption),
                                     QStringLiteral("chkByCode"));
    mmoCode = m_form->addComponent(new QPlainTextEdit(m_form->gbOption), QStringLiteral("mmoCode"));
    mmoCode->setPlaceholderText(QStringLiteral("每行一个运单编号"));
    mmoCode->setMinimumWidth(110); // 13 digits and more: the panel fits 1024 pixels
    mmoCode->setMaximumHeight(rowSpan * kRowHeight + (rowSpan - 1) * 4);
    mmoCode->setEnabled(false);
    connect(chkByCode, &QCheckBox::toggled, mmoCode, &QWidget::setEnabled);
    place(chkByCode, mmoCode, row, col, rowSpan);
    // A checked box restricts the query to the memo's numbers (sql() checks the count).
    QCheckBox *chk = chkByCode;
    QPlainTextEdit *memo = mmoCode;
    m_conditions << [chk, memo] {
        return chk->isChecked() ? billCodeSql(billCodesOf(memo->toPlainText())) : QString();
    };
}

void FinanceFilters::addBottomRow(QWidget *widget)
{
    m_form->optionLayout()->addWidget(widget, m_rows, 0, 1, 2 * m_cols + 1);
    ++m_rows;
}

int FinanceFilters::panelHeight() const
{
    return 24 + m_rows * (kRowHeight + 4) + 8;
}

void FinanceFilters::InitPDM()
{
    if (dtB)
        dtB->setDateTime(QDateTime::fromString(today("00:00:00"), QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (dtE)
        dtE->setDateTime(QDateTime::fromString(today("23:59:59"), QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    for (int i = 0; i < m_lookups.size(); ++i)
        m_lookups.at(i)->SetMSD_LookupCds(listOf(m_lookupLists.at(i)));
    if (cboGoodsType)
        framework::FillComboBox(framework::GetCdsGoodsType(), cboGoodsType, QStringLiteral("Cname"),
                                true, QString());
}

QString FinanceFilters::sql(const QString &head) const
{
    if (chkByCode && chkByCode->isChecked()) {
        const qsizetype n = billCodesOf(mmoCode->toPlainText()).size();
        if (n == 0) {
            m_form->MSGWarningDialog(
                QStringLiteral("已勾选“按单号查询”，请在单号框中输入运单编号（每行一个），或取消勾选。"));
            throw host::SilentAbort();
        }
        if (n > kMaxBillCodes) {
            m_form->MSGWarningDialog(QStringLiteral("按单号查询一次最多%1个单号，现有%2个，请分批查询。")
                                         .arg(kMaxBillCodes)
                                         .arg(n));
            throw host::SilentAbort();
        }
    }
    QString s = head + dateRangeSql(dateColumn(), dtB ? dtB->text() : QString(),
                                    dtE ? dtE->text() : QString());
    for (const auto &condition : m_conditions)
        s += condition();
    return s + QStringLiteral(" and sysid=") + Q(host::g_lstVars->value(QStringLiteral("sysid")));
}

} // namespace tally
