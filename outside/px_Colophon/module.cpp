// px_Colophon as a module library: registers itself with the host when loaded.
#include "colophon.h"
#include "host/uintf.h"

namespace {

class ColophonModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &, const QString &, const QStringList &,
                  int) override
    {
        colophon::execute(callfunc);
    }
};

ColophonModule DM_Func;

struct Register
{
    Register() { host::g_UIIntf = &DM_Func; }
} registerModule;

} // namespace
