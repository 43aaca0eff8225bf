#pragma once
// What a test of a module's windows sets up before it opens one, without a screen: the
// application folder, dialogs answered by a script, the common objects, and a connection
// pointed at the in-process application server.
#include "baseforms/environment.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"

#include <memory>

namespace testsupport {

// Returns the scripted presenter that now answers every dialog (owned by the host).
inline host::ScriptedPresenter *prepareWindowTest(const QString &appPath)
{
    tessera::setAppPath(appPath);
    auto p = std::make_unique<host::ScriptedPresenter>();
    host::ScriptedPresenter *presenter = p.get();
    host::setDialogPresenter(std::move(p));
    host::CdbCommObj();
    return presenter;
}

// Signed on as `user` of `site` with the demo password, on loopback.
inline void pointAt(quillon::TMySktConnection &c, int port, const QString &site, const QString &user)
{
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(port);
    c.SetSiteCode(site);
    c.SetUsername(user);
    c.SetPassword(QStringLiteral("123456"));
}

} // namespace testsupport
