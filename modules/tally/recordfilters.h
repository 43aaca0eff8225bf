#pragma once
// The option panel of the pay-on-delivery and delivery-fee windows (edit and query): the
// date column choice (建立时间 / 签收时间), the centre, site and courier boxes, the sign
// status and 按单号查询, in the order the query text uses them.

#include "modules/tally/financefilters.h"

namespace tally {

struct RecordBoxes
{
    FilterLookupEdit *edtJZCSite = nullptr, *edtPZCSite = nullptr, *edtJZSite = nullptr,
                     *edtPZSite = nullptr, *edtQJY = nullptr, *edtPJY = nullptr;
};

// `couriers`: the pick-up and delivery courier boxes (pay on delivery only).
RecordBoxes buildRecordFilters(FinanceFilters &filters, bool couriers);

inline const char16_t kDfkHead[] = u"select * from TAB_DFKRECORD ";
inline const char16_t kDfpfHead[] = u"select * from TAB_DFPFRECORD ";

} // namespace tally
