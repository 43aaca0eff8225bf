#pragma once
// The option panel of the centre account windows (edit and query): the same boxes, the
// same query text, the same set-up for finance-centre and site users.

#include "modules/tally/financefilters.h"

namespace tally {

struct CenAccBoxes
{
    FilterLookupEdit *edtFinance, *edtpfSite, *edtnfSite, *edtSite, *edtpSite, *edtnSite, *edtMdd;
};

// Builds the boxes in the order the query text uses them.
CenAccBoxes buildCenAccFilters(FinanceFilters &filters);

// A finance-centre user ("LogOnFinanceType" "1") always asks for its own centre (财务中心
// filled and fixed); any other user for its own site (操作网点 filled and fixed).
void setUpCenAccUser(const CenAccBoxes &boxes);

inline const char16_t kCenAccHead[] = u"select * from TAB_ACCOUNT ";

} // namespace tally
