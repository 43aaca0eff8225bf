#pragma once

namespace quillon {

// Converting local date-times makes glibc re-read the zone file each time while TZ is
// unset; naming the system zone once keeps packet decoding and encoding fast. Does
// nothing when TZ is already set. Call at program start, before threads start.
void pinLocalTimeZone();

} // namespace quillon
