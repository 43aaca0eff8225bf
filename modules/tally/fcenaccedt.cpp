#include "modules/tally/fcenaccedt.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/errordisplay.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "modules/tally/financetables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QPushButton>

namespace tally {

namespace {
const Lookup kFFSite{QStringLiteral("F_GetFFSite"), -1, QStringLiteral("pResult"), QStringLiteral("获取发放领用网点")};
const Lookup kSJSite{QStringLiteral("F_GetSJSite"), -1, QStringLiteral("pResult"), QStringLiteral("获取收件网点")};
const Lookup kEntryDest{QStringLiteral("F_GetAccMdd"), 0, QStringLiteral("mResult"), QStringLiteral("获取录单目的地")};
const Lookup kSignDest{QStringLiteral("F_GetAccMdd"), 1, QStringLiteral("mResult"),
                       QStringLiteral("获取签收站默认发件地")};
const Lookup kMaxWeight{QStringLiteral("F_GetMaxWeight"), -1, QStringLiteral("wResult"), QStringLiteral("获取最大重量")};
const QStringList kFeeTypes{QStringLiteral("中转费"), QStringLiteral("扫描费"), QStringLiteral("派件费"),
                            QStringLiteral("其他费")};
} // namespace

TfcenAccEdt::TfcenAccEdt(QWidget *parent)
    : TfFinanceEdit(parent)
{
    setObjectName(QStringLiteral("fcenAccEdt"));
    setWindowTitle(QStringLiteral("中心账单管理"));

    boxes = buildCenAccFilters(*filters);
    filters->addBottomRow(pnlRun);
    pnlOption->setFixedHeight(filters->panelHeight());

    actCollection->setText(QStringLiteral("单带"));
    actCollection->setToolTip(QStringLiteral("重新计算当前记录的中转费、扫描费、派件费和其他费"));
    actCollectionAffirm->setText(QStringLiteral("批带"));
    actCollectionAffirm->setToolTip(QStringLiteral("重新计算选中记录的中转费、扫描费、派件费和其他费"));
    actRefresh->setToolTip(QStringLiteral("刷新账单目的地， 寄件站，重量，签收站等信息"));
    tbCalcOne = addToolButton(actCollection, QStringLiteral("tbCalcOne"), QStringLiteral("tbSave"));
    tbCalcAll = addToolButton(actCollectionAffirm, QStringLiteral("tbCalcAll"), QStringLiteral("tbSave"));
    tbRefresh = addToolButton(actRefresh, QStringLiteral("tbRefresh"), QStringLiteral("tbSave"));
    setExecuteHandler(actCollection, [this] { actCollectionExecute(); });
    setExecuteHandler(actCollectionAffirm, [this] { actCollectionAffirmExecute(); });

    cboPriorSite = addSideChoice(QStringLiteral("cboPriorSite"), QStringLiteral("刷新上一站选项"),
                                 {QStringLiteral("寄件站刷上一站"), QStringLiteral("发放领用网点刷上一站"),
                                  QStringLiteral("收件网点刷上一站")});
    cboNextSite = addSideChoice(QStringLiteral("cboNextSite"), QStringLiteral("刷新下一站选项"),
                                {QStringLiteral("签收站刷下一站")});
    cboMdd = addSideChoice(QStringLiteral("cboMdd"), QStringLiteral("刷新目的地选项"),
                           {QStringLiteral("录单目的地刷目的地"), QStringLiteral("签收站默认发件地刷目的地"),
                            QStringLiteral("下一站刷目的地")});
    cboFirstSite = addSideChoice(QStringLiteral("cboFirstSite"), QStringLiteral("刷新寄件站选项"),
                                 {QStringLiteral("上一站刷寄件站")});
    chkWeight = addComponent(new tessera::TRzCheckBox(QStringLiteral("刷新最大重量"), rzszpnl1),
                             QStringLiteral("chkWeight"));
    sideLayout()->addRow(QString(), chkWeight);
    connect(sbRefresh, &QPushButton::clicked, this, [this] { host::guarded([this] { sbRefreshClick(); }); });

    setGridColumns(DBGridData, accountColumns());
}

TfcenAccEdt::~TfcenAccEdt() = default;

void TfcenAccEdt::InitPDM()
{
    TfFinanceEdit::InitPDM();
    setUpCenAccUser(boxes);
}

QString TfcenAccEdt::GetSql()
{
    return filters->sql(QString::fromUtf16(kCenAccHead));
}

void TfcenAccEdt::sbRefreshClick()
{
    if (!commitTypedInput())
        return;
    RunRecipe recipe;
    recipe.noMarkWarning = QStringLiteral("请先选择需要刷新的记录!");
    recipe.doneHint = QStringLiteral("刷新操作完成!");
    // Every lookup reads the waybill number only, which no step changes: the answers of
    // a line can be fetched before its steps run.
    recipe.plan = [this] {
        QList<ServerCall> calls;
        for (const Lookup *l : {priorSiteLookup(), destLookup()})
            if (l)
                calls.append(planLookup(*l));
        if (chkWeight->isChecked())
            calls.append(planLookup(kMaxWeight));
        return calls;
    };
    recipe.step = [this] {
        RefreshPriorSite();
        RefreshNextSite();
        RefreshDest();
        RefreshSendSite();
        RefreshWeight();
    };
    runLines(Lines::Marked, recipe);
}

const Lookup *TfcenAccEdt::priorSiteLookup() const
{
    switch (cboPriorSite->currentIndex()) {
    case 2:
        return &kFFSite;
    case 3:
        return &kSJSite;
    default:
        return nullptr;
    }
}

const Lookup *TfcenAccEdt::destLookup() const
{
    switch (cboMdd->currentIndex()) {
    case 1:
        return &kEntryDest;
    case 2:
        return &kSignDest;
    default:
        return nullptr;
    }
}

void TfcenAccEdt::RefreshPriorSite()
{
    QString site;
    if (cboPriorSite->currentIndex() == 1)
        site = fieldText(QStringLiteral("SEND_SITE"));
    else if (const Lookup *l = priorSiteLookup())
        site = LookupCall(*l);
    else
        return;
    if (!site.isEmpty())
        setFieldText(QStringLiteral("PRIORSTATIONCODE"), site);
}

void TfcenAccEdt::RefreshNextSite()
{
    if (cboNextSite->currentIndex() != 1)
        return;
    const QString site = fieldText(QStringLiteral("SIGNSITE"));
    if (!site.isEmpty())
        setFieldText(QStringLiteral("NEXTSTATIONCODE"), site);
}

void TfcenAccEdt::RefreshDest()
{
    QString dest;
    if (cboMdd->currentIndex() == 3)
        dest = fieldText(QStringLiteral("NEXTSTATIONCODE"));
    else if (const Lookup *l = destLookup())
        dest = LookupCall(*l);
    else
        return;
    if (!dest.isEmpty())
        setFieldText(QStringLiteral("DEST"), dest);
}

void TfcenAccEdt::RefreshSendSite()
{
    if (cboFirstSite->currentIndex() != 1)
        return;
    const QString site = fieldText(QStringLiteral("PRIORSTATIONCODE"));
    if (!site.isEmpty())
        setFieldText(QStringLiteral("SEND_SITE"), site);
}

void TfcenAccEdt::RefreshWeight()
{
    if (!chkWeight->isChecked())
        return;
    const QString most = LookupCall(kMaxWeight);
    // The weight is never lowered; a weight that is no number counts as 0.
    if (fieldDecimal(QStringLiteral("WEIGHT")) < toDecimal(most))
        setFieldText(QStringLiteral("WEIGHT"), most);
}

FeeArgs TfcenAccEdt::lineFeeArgs(const QString &feeType) const
{
    FeeArgs a;
    a.firstSite = fieldText(QStringLiteral("PRIORSTATIONCODE"));
    a.dest = fieldText(QStringLiteral("DEST"));
    a.feeType = feeType;
    a.pcs = toInteger(fieldText(QStringLiteral("PCS")));
    a.weight = fieldDecimal(QStringLiteral("WEIGHT"));
    a.bulkWeight = a.weight;
    a.fastType = fieldText(QStringLiteral("PRODUCTTYPE"));
    a.goodsType = fieldText(QStringLiteral("GOODSTYPE"));
    a.sevrType = fieldText(QStringLiteral("SERVICETYPE"));
    a.transType = fieldText(QStringLiteral("TRANSMODE"));
    a.finance = fieldText(QStringLiteral("FINANCECENTER"));
    a.opSite = fieldText(QStringLiteral("STATIONCODE"));
    a.validTime = cdsData->FieldByName(QStringLiteral("SCANTIME"))->AsDateTime();
    a.sysid = host::g_lstVars->value(QStringLiteral("sysid"));
    return a;
}

double TfcenAccEdt::CalcFee(const QString &feeType)
{
    return TfFinanceEdit::CalcFee(lineFeeArgs(feeType));
}

void TfcenAccEdt::CalcFees(bool batch)
{
    RunRecipe recipe;
    recipe.doneHint = QStringLiteral("操作完成!");
    // The fees read columns that no fee writes: a line's four calls can go ahead of it.
    recipe.plan = [this] {
        QList<ServerCall> calls;
        for (const QString &type : kFeeTypes)
            calls.append(planFee(lineFeeArgs(type)));
        return calls;
    };
    recipe.step = [this] {
        // Each fee is written right after its own call, so a later fee sees the line as it is.
        setFieldDecimal(QStringLiteral("AR_TRANS_FEE"), CalcFee(kFeeTypes.at(0)));
        setFieldDecimal(QStringLiteral("SCANMONEY"), CalcFee(kFeeTypes.at(1)));
        setFieldDecimal(QStringLiteral("AP_SEND_FEE"), CalcFee(kFeeTypes.at(2)));
        setFieldDecimal(QStringLiteral("OTHERCHARGE"), CalcFee(kFeeTypes.at(3)));
    };
    // 单带 makes the single calls of the current line; 批带 fetches the marked lines' in batches.
    runLines(batch ? Lines::Marked : Lines::Current, recipe);
}

} // namespace tally
