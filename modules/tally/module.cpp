// px_Tally as a module library: its data module registers with the host when loaded.
#include "host/uintf.h"
#include "modules/tally/udm_func.h"

namespace {

struct Register
{
    Register() { host::g_UIIntf = tally::DM_Func(); }
} registerModule;

} // namespace
