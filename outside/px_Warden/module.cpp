// px_Warden as a module library: its data module registers with the host when loaded.
#include "host/uintf.h"
#include "udm_func.h"

namespace {

struct Register
{
    Register() { host::g_UIIntf = warden::DM_Func(); }
} registerModule;

} // namespace
