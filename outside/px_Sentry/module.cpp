// px_Sentry as a module library: registers itself with the host when loaded.
#include "host/uintf.h"
#include "sentry.h"

namespace {

class SentryModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &callfunc, const QString &, const QString &, const QStringList &,
                  int) override
    {
        sentry::execute(callfunc);
    }
};

SentryModule DM_Func;

struct Register
{
    Register() { host::g_UIIntf = &DM_Func; }
} registerModule;

} // namespace
