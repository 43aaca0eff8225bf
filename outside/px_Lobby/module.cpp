// px_Lobby as a module library: registers itself with the host when loaded.
#include "host/uintf.h"
#include "lobby.h"

namespace {

class LobbyModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &funcdesc, const QString &,
                  const QStringList &, int) override
    {
        lobby::execute(callfunc, funcdesc);
    }
};

LobbyModule DM_Func;

struct Register
{
    Register() { host::g_UIIntf = &DM_Func; }
} registerModule;

} // namespace
