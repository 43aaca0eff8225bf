#include "dataaccess/packet/localtimezone.h"

#include <cstdlib>
#include <ctime>

namespace quillon {

void pinLocalTimeZone()
{
    if (!std::getenv("TZ")) {
        setenv("TZ", ":/etc/localtime", 0);
        tzset();
    }
}

} // namespace quillon
