// px_Herald as a module library: its data module registers with the host when loaded.
#include "host/uintf.h"
#include "modules/herald/udm_func.h"

namespace {

struct Register
{
    Register() { host::g_UIIntf = herald::DM_Func(); }
} registerModule;

} // namespace
