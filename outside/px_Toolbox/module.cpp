// px_Toolbox as a module library: registers itself with the host when loaded.
#include "host/uintf.h"
#include "toolbox.h"

namespace {

class ToolboxModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &, const QString &,
                  const QStringList &params, int) override
    {
        toolbox::execute(callfunc, toolbox::Params(params));
    }
};

ToolboxModule DM_Func;

struct Register
{
    Register() { host::g_UIIntf = &DM_Func; }
} registerModule;

} // namespace
