#include "modules/tally/financetables.h"

#include "baseforms/dbgrideh.h"

namespace tally {

namespace {
// Texts and codes fit 100 pixels; date-times need more to show whole.
constexpr int kText = 100;
constexpr int kWide = 115;
constexpr int kTime = 140;
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

void setGridColumns(tessera::TDBGridEh *grid, const QList<GridColumn> &columns)
{
    grid->clearColumns();
    for (const GridColumn &c : columns)
        grid->addColumn(QString::fromLatin1(c.field), QString::fromUtf16(c.title), c.width);
    grid->setFrozenCols(1);
}

} // namespace tally
