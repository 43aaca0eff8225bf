// Everyday use against a real server: the status bar follows the server (断开 while it is
// gone, 在线 again when it answers, without a new log-on), and every message that a
// failing call puts before the user is Chinese, with the technical text folded away.
#include "baseforms/fdbbase.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/errordisplay.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "server/tests/testserver.h"
#include "shell/fclient.h"
#include "tests/tour/tour.h"
#include "tests/tour/toursupport.h"

#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A text for users: Chinese, and no English words (a few names of file kinds aside).
::testing::AssertionResult readableByUsers(const QString &text)
{
    static const QRegularExpression english(QStringLiteral("\\b(?!PDF|PNG|Excel)[A-Za-z]{4,}\\b"));
    if (!host::looksChinese(text))
        return ::testing::AssertionFailure() << "not Chinese: " << text.toStdString();
    if (english.match(text).hasMatch())
        return ::testing::AssertionFailure() << "English inside: " << text.toStdString();
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(EverydayUse, StatusBarFollowsTheServerAndFailuresSpeakChinese)
{
    if (!tour::test::firstLogOnOfProcess())
        GTEST_SKIP() << "one log-on per process (ctest runs every test in a process of its own)";
    server::test::TestServer srv(50);
    const int port = srv.http->port();
    QTemporaryDir dir;
    tour::Options o;
    o.programDir = dir.path();
    o.deployDir = QStringLiteral(WAYLINK_DEPLOY_DIR);
    o.server = QStringLiteral("127.0.0.1:%1").arg(port);
    o.user = QStringLiteral("001.zhang");
    tour::Tour t(o);
    ASSERT_TRUE(t.logOn()) << t.problems().join(u'\n').toStdString();
    shell::TfClient *client = t.client();
    auto *conn = host::g_DBConn->GetConnectionAs<quillon::TMySktConnection>();
    ASSERT_TRUE(conn);
    auto &presenter = dynamic_cast<host::ScriptedPresenter &>(host::dialogPresenter());
    const int logOns = conn->logOnCount();
    EXPECT_EQ(client->Rzstat5->text(), QStringLiteral("在线"));
    auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };

    // A refused query (SQL the server cannot run) is told in Chinese; the server's own
    // text is the detail.
    int from = int(presenter.shown.size());
    host::guarded([] {
        host::g_UINetIntf->CallFunc(QStringLiteral("px_Toolbox.fParamSet"), 0,
                                    {QStringLiteral("ParamSql=select * from NO_SUCH_TABLE")});
    });
    ASSERT_EQ(presenter.shown.size(), from + 1);
    EXPECT_TRUE(readableByUsers(presenter.shown.last().text));
    EXPECT_TRUE(presenter.shown.last().details.contains(QStringLiteral("NO_SUCH_TABLE"),
                                                        Qt::CaseInsensitive))
        << presenter.shown.last().details.toStdString();
    settle();
    EXPECT_EQ(client->Rzstat5->text(), QStringLiteral("在线")) << "the server did answer";

    // The server goes away: the notice check fails quietly and the status bar says so.
    srv.http->stop();
    client->tmMonitorTimer();
    settle();
    EXPECT_EQ(client->Rzstat5->text(), QStringLiteral("断开"));

    // Windows and functions that need the server say what to do, in Chinese.
    from = int(presenter.shown.size());
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Herald.fQueryMessage"));
    settle();
    auto *form = qobject_cast<tessera::TfDBBase *>(client->RzPgeCtrl->currentWidget());
    ASSERT_TRUE(form);
    form->executeAction(form->actQuery);
    host::guarded([] { host::g_UINetIntf->CallFunc(QStringLiteral("px_Toolbox.fParamSet")); });
    settle();
    ASSERT_GE(presenter.shown.size(), from + 2);
    for (int i = from; i < presenter.shown.size(); ++i) {
        EXPECT_TRUE(readableByUsers(presenter.shown[i].text));
        EXPECT_TRUE(presenter.shown[i].text.contains(QStringLiteral("无法连接服务器")))
            << presenter.shown[i].text.toStdString();
        EXPECT_FALSE(presenter.shown[i].details.isEmpty()) << "the technical text is kept";
    }

    // The server returns on the same address: the next notice check finds it, the status
    // bar says 在线 again, and the session of the log-on still holds.
    server::ServerOptions so;
    so.port = port;
    so.quiet = true;
    so.threads = 2;
    server::HttpServer again(*srv.backend, srv.dir.filePath(QStringLiteral("files")), so);
    again.start();
    client->tmMonitorTimer();
    settle();
    EXPECT_EQ(client->Rzstat5->text(), QStringLiteral("在线"));
    EXPECT_EQ(conn->logOnCount(), logOns) << "no new log-on";
    form->executeAction(form->actQuery);
    EXPECT_GT(form->findChild<QObject *>(QStringLiteral("cdsData")) != nullptr, 0);
    again.stop();
}
