// px_Tuner as a module library: its data module registers with the host when loaded.
#include "host/uintf.h"
#include "modules/tuner/udm_func.h"

namespace {

struct Register
{
    Register() { host::g_UIIntf = tuner::DM_Func(); }
} registerModule;

} // namespace
