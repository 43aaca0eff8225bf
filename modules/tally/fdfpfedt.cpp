#include "modules/tally/fdfpfedt.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "modules/tally/financetables.h"

#include <QComboBox>
#include <QPushButton>

namespace tally {

namespace {
const Lookup kEntryDest{QStringLiteral("F_GetAccMdd"), 0, QStringLiteral("mResult"), QStringLiteral("获取目的地")};
const Lookup kSignDest{QStringLiteral("F_GetAccMdd"), 1, QStringLiteral("mResult"), QStringLiteral("获取目的地")};
const Lookup kIssueSite{QStringLiteral("F_GetFirstSite"), 0, QStringLiteral("mResult"), QStringLiteral("获取寄件站")};
const Lookup kEntrySite{QStringLiteral("F_GetFirstSite"), 1, QStringLiteral("mResult"), QStringLiteral("获取寄件站")};
const Lookup kEntryWeight{QStringLiteral("F_GetWeight"), 0, QStringLiteral("mResult"), QStringLiteral("获取重量")};
const Lookup kBillWeight{QStringLiteral("F_GetWeight"), 2, QStringLiteral("mResult"), QStringLiteral("获取重量")};
const QString kDeliveryFee = QStringLiteral("派件费");

// The lookup of a refresh choice: item 1 or 2 of its box, nothing for the empty item.
const Lookup *chosen(const QComboBox *box, const Lookup &first, const Lookup &second)
{
    switch (box->currentIndex()) {
    case 1:
        return &first;
    case 2:
        return &second;
    default:
        return nullptr;
    }
}
} // namespace

TfDFPFEdt::TfDFPFEdt(QWidget *parent)
    : TfFinanceEdit(parent)
{
    setObjectName(QStringLiteral("fDFPFEdt"));
    setWindowTitle(QStringLiteral("派件费管理"));

    boxes = buildRecordFilters(*filters, false);
    filters->addBottomRow(pnlRun);
    pnlOption->setFixedHeight(filters->panelHeight());

    actCalc->setText(QStringLiteral("算费"));
    actCalc->setToolTip(QStringLiteral("计算派件费"));
    actRefresh->setToolTip(QStringLiteral("显示或隐藏目的地、寄件站、重量的刷新选项"));
    tbRefresh = addToolButton(actRefresh, QStringLiteral("tbRefresh"), QStringLiteral("tbSave"));
    tbCalc = addToolButton(actCalc, QStringLiteral("tbCalc"), QStringLiteral("tbSave"));
    setExecuteHandler(actCalc, [this] { actCalcExecute(); });

    cboMdd = addSideChoice(QStringLiteral("cboMdd"), QStringLiteral("刷新目的地选项"),
                           {QStringLiteral("录单目的地刷目的地"), QStringLiteral("签收站默认发件地刷目的地")});
    cboFirstSite = addSideChoice(QStringLiteral("cboFirstSite"), QStringLiteral("刷新寄件站选项"),
                                 {QStringLiteral("发放刷寄件站"), QStringLiteral("录单刷寄件站")});
    cboWeight = addSideChoice(QStringLiteral("cboWeight"), QStringLiteral("刷新重量选项"),
                              {QStringLiteral("录单刷重量"), QStringLiteral("账单刷重量")});
    connect(sbRefresh, &QPushButton::clicked, this, [this] { host::guarded([this] { sbRefreshClick(); }); });

    setGridColumns(DBGridData, dfpfColumns(),
                   {QStringLiteral("WEIGHT"), QStringLiteral("JZPAYMONEY"), QStringLiteral("PZGETMONEY")});
}

TfDFPFEdt::~TfDFPFEdt() = default;

QString TfDFPFEdt::GetSql()
{
    return filters->sql(QString::fromUtf16(kDfpfHead));
}

void TfDFPFEdt::sbRefreshClick()
{
    if (!commitTypedInput())
        return;
    RunRecipe recipe;
    recipe.noMarkWarning = QStringLiteral("请先选择需要刷新的记录!");
    recipe.doneHint = QStringLiteral("刷新操作完成!");
    // The lookups read the waybill number only, which no step changes.
    recipe.plan = [this] {
        QList<ServerCall> calls;
        for (const Lookup *l : {chosen(cboMdd, kEntryDest, kSignDest), chosen(cboFirstSite, kIssueSite, kEntrySite),
                                chosen(cboWeight, kEntryWeight, kBillWeight)})
            if (l)
                calls.append(planLookup(*l));
        return calls;
    };
    recipe.step = [this] {
        RefreshDest();
        RefreshFirstSite();
        RefreshWeight();
    };
    clearMarksAfter(runLines(Lines::Marked, recipe));
}

void TfDFPFEdt::RefreshDest()
{
    if (const Lookup *l = chosen(cboMdd, kEntryDest, kSignDest))
        if (const QString dest = LookupCall(*l); !dest.isEmpty())
            setFieldText(QStringLiteral("DEST"), dest);
}

void TfDFPFEdt::RefreshFirstSite()
{
    if (const Lookup *l = chosen(cboFirstSite, kIssueSite, kEntrySite))
        if (const QString site = LookupCall(*l); !site.isEmpty())
            setFieldText(QStringLiteral("FIRSTSITE"), site);
}

void TfDFPFEdt::RefreshWeight()
{
    const Lookup *l = chosen(cboWeight, kEntryWeight, kBillWeight);
    if (!l)
        return;
    // Only a positive weight replaces the record's, even a smaller one.
    const double value = toDecimal(LookupCall(*l));
    if (value > 0)
        setFieldDecimal(QStringLiteral("WEIGHT"), value);
}

double TfDFPFEdt::CalcFee(const QString &feeType)
{
    return TfFinanceEdit::CalcFee(recordFeeArgs(feeType));
}

void TfDFPFEdt::actCalcExecute()
{
    RunRecipe recipe;
    recipe.noMarkWarning = QStringLiteral("请先选择需要算费的记录!");
    recipe.doneHint = QStringLiteral("操作完成!");
    recipe.plan = [this] { return QList<ServerCall>{planFee(recordFeeArgs(kDeliveryFee))}; };
    recipe.step = [this] {
        const double fee = CalcFee(kDeliveryFee);
        setFieldDecimal(QStringLiteral("JZPAYMONEY"), fee);
        setFieldDecimal(QStringLiteral("PZGETMONEY"), fee);
    };
    clearMarksAfter(runLines(Lines::Marked, recipe));
}

} // namespace tally
