#include "modules/tally/recordfilters.h"

namespace tally {

RecordBoxes buildRecordFilters(FinanceFilters &f, bool couriers)
{
    RecordBoxes b;
    f.addDateColumnChoice(0, 0);
    f.addDateRange(QStringLiteral("CREATETIME"), QStringLiteral("建立时间"), 0, 1, 2);
    b.edtJZCSite = f.addLookup(QStringLiteral("edtJZCSite"), QStringLiteral("寄件中心"),
                               QStringLiteral("寄件中心"), QStringLiteral("FIRSTCENTER"),
                               LookupList::FNSite, 1, 0);
    b.edtPZCSite = f.addLookup(QStringLiteral("edtPZCSite"), QStringLiteral("签收中心"),
                               QStringLiteral("签收中心"), QStringLiteral("SIGNCENTER"),
                               LookupList::FNSite, 1, 1);
    b.edtJZSite = f.addLookup(QStringLiteral("edtJZSite"), QStringLiteral("寄件网点"),
                              QStringLiteral("寄件网点"), QStringLiteral("FIRSTSITE"),
                              LookupList::Site, 1, 2);
    b.edtPZSite = f.addLookup(QStringLiteral("edtPZSite"), QStringLiteral("签收站"),
                              QStringLiteral("签收网点"), QStringLiteral("SIGNSITE"),
                              LookupList::Site, 1, 3);
    if (couriers) {
        b.edtQJY = f.addLookup(QStringLiteral("edtQJY"), QStringLiteral("取件员"),
                               QStringLiteral("取件员"), QStringLiteral("CONSIGNEMP"),
                               LookupList::EmployeeSub, 2, 0);
        b.edtPJY = f.addLookup(QStringLiteral("edtPJY"), QStringLiteral("派件员"),
                               QStringLiteral("派件员"), QStringLiteral("DELVEMP"),
                               LookupList::EmployeeSub, 2, 1);
    }
    f.addSignType(QStringLiteral("SIGNFLAG"), 0, 3);
    f.addBillCodes(0, 4, couriers ? 3 : 2);
    return b;
}

} // namespace tally
