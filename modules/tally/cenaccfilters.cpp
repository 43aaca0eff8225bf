#include "modules/tally/cenaccfilters.h"

#include "host/uintf.h"
#include "host/varlist.h"

namespace tally {

CenAccBoxes buildCenAccFilters(FinanceFilters &f)
{
    CenAccBoxes b{};
    f.addDateRange(QStringLiteral("SCANTIME"), QStringLiteral("账单时间"), 0, 0, 2);
    b.edtFinance = f.addLookup(QStringLiteral("edtFinance"), QStringLiteral("财务中心"),
                               QStringLiteral("财务中心"), QStringLiteral("FINANCECENTER"),
                               LookupList::FNSite, 0, 2);
    b.edtpfSite = f.addLookup(QStringLiteral("edtpfSite"), QStringLiteral("上一财务中心"),
                              QStringLiteral("上一站财务中心"), QStringLiteral("PRIORFINANCE"),
                              LookupList::FNSite, 0, 3);
    b.edtnfSite = f.addLookup(QStringLiteral("edtnfSite"), QStringLiteral("下一财务中心"),
                              QStringLiteral("下一站财务中心"), QStringLiteral("NEXTFINANCE"),
                              LookupList::FNSite, 1, 3);
    b.edtSite = f.addLookup(QStringLiteral("edtSite"), QStringLiteral("操作网点"),
                            QStringLiteral("操作网点"), QStringLiteral("STATIONCODE"),
                            LookupList::SiteSub, 1, 0);
    b.edtpSite = f.addLookup(QStringLiteral("edtpSite"), QStringLiteral("上一站"),
                             QStringLiteral("上一站"), QStringLiteral("PRIORSTATIONCODE"),
                             LookupList::Site, 1, 1);
    b.edtnSite = f.addLookup(QStringLiteral("edtnSite"), QStringLiteral("下一站"),
                             QStringLiteral("下一站"), QStringLiteral("NEXTSTATIONCODE"),
                             LookupList::Site, 1, 2);
    f.addGoodsType(QStringLiteral("GOODSTYPE"), 2, 0);
    f.addSignType(QStringLiteral("SIGNED"), 2, 1);
    b.edtMdd = f.addLookup(QStringLiteral("edtMdd"), QStringLiteral("目的地点"),
                           QStringLiteral("目的地点"), QStringLiteral("DEST"), LookupList::Mdd, 2, 2);
    f.addBillCodes(0, 4, 3);
    return b;
}

void setUpCenAccUser(const CenAccBoxes &b)
{
    const QString site = host::g_lstVars->value(QStringLiteral("LogOnSiteName"));
    const bool financeCentre =
        host::g_lstVars->value(QStringLiteral("LogOnFinanceType")) == QLatin1String("1");
    tessera::TMyDBXEdit *fixed = financeCentre ? b.edtFinance : b.edtSite;
    fixed->setText(site);
    fixed->setEnabled(false);
}

} // namespace tally
