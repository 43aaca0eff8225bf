#include "modules/tally/financetables.h"

#include "baseforms/dbgrideh.h"

namespace tally {

namespace {
// Texts and codes fit 100 pixels; date-times need more to show whole.
constexpr int kText = 100;
constexpr int kWide = 115;
constexpr int kTime = 140;
constexpr int kLong = 160;
constexpr int kNote = 240;
} // namespace

const QList<GridColumn> &accountColumns()
{
    static const QList<GridColumn> columns = {
        {"BILLCODE", u"运单编号", kText},        {"SEND_SITE", u"寄件站", kText},
        {"STATIONCODE", u"操作网点", kText},     {"PCS", u"件数", kText},
        {"WEIGHT", u"重量", kText},              {"DEST", u"目的地", kText},
        {"GOODSTYPE", u"物品类型", kText},       {"PRODUCTTYPE", u"快件类型", kText},
        {"SERVICETYPE", u"服务方式", kText},     {"SCANTYPE", u"扫描类型", kText},
        {"PRIORSTATIONCODE", u"上一站", kText},  {"AR_TRANS_FEE", u"中转费", kText},
        {"AP_SEND_FEE", u"派件费", kText},       {"SCANMONEY", u"扫描费", kText},
        {"OTHERCHARGE", u"其他费", kText},       {"NEXTSTATIONCODE", u"下一站", kText},
        {"FINANCECENTER", u"操作财务中心", kText}, {"PRIORFINANCE", u"上一站财务中心", kWide},
        {"NEXTFINANCE", u"下一站财务中心", kWide}, {"INPUTDATE", u"录单时间", kTime},
        {"SIGNED", u"签收标识", kText},          {"SIGNPERSON", u"签收人", kText},
        {"SIGNDATE", u"签收时间", kTime},        {"SIGNSITE", u"签收网点", kText},
    };
    return columns;
}

namespace {
const GridColumn kDfkSignTime{"SIGNTIME", u"签收时间", kTime};
const GridColumn kDfkSignCenter{"SIGNCENTER", u"签收中心", kText};

QList<GridColumn> dfkColumns(bool signAfterArrival)
{
    QList<GridColumn> c = {
        {"BILLCODE", u"运单编号", kText},         {"FIRSTSITE", u"寄件网点", kText},
        {"FIRSTCENTER", u"寄件中心", kText},      {"DEST", u"目的地", kText},
        {"WEIGHT", u"重量", kText},               {"MONEY", u"到付款", kText},
        {"JZPAYCHARGE", u"寄站应付手续费", kWide}, {"PZGETCHARGE", u"派站应收手续费", kWide},
        {"SIGNSITE", u"签收网点", kText},
    };
    if (!signAfterArrival)
        c << kDfkSignTime << kDfkSignCenter;
    c << GridColumn{"GOODSTYPE", u"物品类别", kText} << GridColumn{"FASTTYPE", u"快件类型", kText}
      << GridColumn{"QUESTIME", u"问题登记时间", kTime} << GridColumn{"QUESSITE", u"问题登记网点", kWide}
      << GridColumn{"QUESEMP", u"问题件登记人", kWide} << GridColumn{"QUESRESON", u"问题件原因", kLong}
      << GridColumn{"SENDCSITE", u"发件中心", kText} << GridColumn{"SENDCTIME", u"发件中心时间", kTime}
      << GridColumn{"ARRIVECSITE", u"到件中心", kText} << GridColumn{"ARRIVECTIME", u"到件中心时间", kTime};
    if (signAfterArrival)
        c << kDfkSignTime << kDfkSignCenter;
    c << GridColumn{"CONSIGNEMP", u"取件员", kText} << GridColumn{"DELVEMP", u"派件员", kText};
    // The date range filters on 建立时间, and 刷新 writes its note into 备注: both shown.
    c << GridColumn{"CREATETIME", u"建立时间", kTime} << GridColumn{"REMARK", u"备注", kNote};
    return c;
}
} // namespace

const QList<GridColumn> &dfkEditColumns()
{
    static const QList<GridColumn> columns = dfkColumns(false);
    return columns;
}

const QList<GridColumn> &dfkQueryColumns()
{
    static const QList<GridColumn> columns = dfkColumns(true);
    return columns;
}

const QList<GridColumn> &dfpfColumns()
{
    static const QList<GridColumn> columns = {
        {"BILLCODE", u"运单编号", kText},       {"FIRSTSITE", u"寄件网点", kText},
        {"FIRSTCENTER", u"寄件中心", kText},    {"DEST", u"目的地", kText},
        {"WEIGHT", u"重量", kText},             {"JZPAYMONEY", u"寄站应付派费", kWide},
        {"PZGETMONEY", u"派站应收派费", kWide}, {"GOODSTYPE", u"物品类别", kText},
        {"FASTTYPE", u"快件类型", kText},       {"ARRIVETIME", u"到件时间", kTime},
        {"ARRIVESITE", u"到件网点", kText},     {"SIGNTIME", u"签收时间", kTime},
        {"SIGNSITE", u"签收网点", kText},       {"SIGNFLAG", u"签收标识", kText},
        {"DELEVEMP", u"派件员", kText},         {"SIGNCENTER", u"签收中心", kText},
        {"PZGETFLAG", u"派站收款标识", kWide},  {"JZPAYFLAG", u"寄站付款标识", kWide},
        {"CREATETIME", u"建立时间", kTime},
    };
    return columns;
}

void setGridColumns(tessera::TDBGridEh *grid, const QList<GridColumn> &columns,
                    const QStringList &sumFields)
{
    grid->clearColumns();
    for (const GridColumn &c : columns) {
        const QString field = QString::fromLatin1(c.field);
        tessera::TColumnEh *col = grid->addColumn(field, QString::fromUtf16(c.title), c.width);
        if (sumFields.contains(field))
            col->FooterType = tessera::FooterValueType::Sum;
    }
    grid->setFrozenCols(1);
}

} // namespace tally
