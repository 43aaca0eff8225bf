#include "server/checks.h"

#include "dataaccess/protocol/protocol.h"
#include "server/authz.h"
#include "server/servererror.h"

#include <QStringList>
#include <algorithm>

namespace server {

using namespace quillon::protocol;

void checkGuard(const Guard &guard, const Rights &rights)
{
    switch (guard.need) {
    case Need::Anyone:
    case Need::SignedOn:
        return;
    case Need::SuperUser:
        if (rights.superUser)
            return;
        throw ServerError(403, QStringLiteral("只有超级管理员 dk 可以%1。").arg(QString::fromUtf8(guard.what)),
                          QStringLiteral("%1 needs the super administrator").arg(QString::fromUtf8(guard.what)));
    case Need::Function: {
        QStringList names;
        for (const char *f : guard.functions) {
            if (!f)
                break;
            if (rights.hasFunction(QString::fromLatin1(f)))
                return;
            names.append(QString::fromLatin1(f));
        }
        throw ServerError(403,
                          QStringLiteral("您没有%1的权限。请联系系统管理员为您的角色授予该功能。")
                              .arg(QString::fromUtf8(guard.what)),
                          QStringLiteral("%1 needs one of %2").arg(QString::fromUtf8(guard.what), names.join(u',')));
    }
    }
}

const std::vector<RouteRule> &routeRules()
{
    static const std::vector<RouteRule> rules = {
        {"GET", kHealthPath, false, Need::Anyone, "health"},
        {"POST", kSessionPath, false, Need::Anyone, "session"},
        {"POST", "/waylink/v1/provider/", true, Need::SignedOn, "provider"},
        {"POST", "/waylink/v1/call/", true, Need::SignedOn, "call"},
        {"POST", kAdminPrefix, true, Need::SignedOn, "admin"},
    };
    return rules;
}

const RouteRule *findRoute(const std::string &method, const std::string &path)
{
    const std::string m = method == "HEAD" ? std::string("GET") : method;
    for (const RouteRule &r : routeRules()) {
        if (m != r.method)
            continue;
        const std::string_view p(r.path);
        if (!r.prefix) {
            if (path == p)
                return &r;
            continue;
        }
        // A prefix route names one thing below it: no further slash, not empty.
        if (path.size() > p.size() && path.compare(0, p.size(), p) == 0
            && path.find('/', p.size()) == std::string::npos)
            return &r;
    }
    return nullptr;
}

const std::vector<MethodRule> &methodRules()
{
    constexpr Guard signedOn{Need::SignedOn, {}, ""};
    static const std::vector<MethodRule> rules = {
        {"DSServerModuleCreate", signedOn},
        {"DSServerModuleDestroy", signedOn},
        {"dspPublicAfterGetRecords", signedOn},
        {"dspPublicBeforeGetRecords", signedOn},
        {"EchoString", signedOn},
        {"ReverseString", signedOn},
        {"GetLstValue", signedOn},
        {"MyUpDownFile", signedOn, ObjectCheck::FileByFlag, 0, 3},
        {"DownloadByStream", signedOn, ObjectCheck::ReadFile, 0},
        {"UploadByStream", signedOn, ObjectCheck::WriteFile, 0},
        {"GetLstFile", signedOn, ObjectCheck::ListFiles, 0},
        {"GetFileVer", signedOn, ObjectCheck::ReadFile, 0},
        {"GetData", signedOn, ObjectCheck::ReadTables, 0},
        {"ApplyData", signedOn, ObjectCheck::WriteTables, 0},
    };
    return rules;
}

const MethodRule *findMethodRule(const QString &name)
{
    const auto &rules = methodRules();
    const auto it = std::find_if(rules.begin(), rules.end(),
                                 [&name](const MethodRule &r) { return name == QLatin1String(r.name); });
    return it == rules.end() ? nullptr : &*it;
}

} // namespace server
