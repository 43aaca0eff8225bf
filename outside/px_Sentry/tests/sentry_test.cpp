// px_Sentry: the verification against an in-process application server (accepted,
// refused, unreachable), the caches it writes, and the unread-notice pop-up.
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/transport.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "sentry.h"
#include "server/tests/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SentryTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { srv = new server::test::TestServer(20); }
    static void TearDownTestSuite()
    {
        delete srv;
        srv = nullptr;
    }
    void SetUp() override
    {
        host::g_lstVars->clear();
        host::g_DBConn = host::CdbCommObj();
        host::setConnection(&conn);
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        vars().setValue(QStringLiteral("iExePath"), dir.path() + u'/');
    }
    void TearDown() override
    {
        host::setConnection(nullptr);
        host::setDialogPresenter(nullptr);
        host::g_lstVars->clear();
    }
    static host::VarList &vars() { return *host::g_lstVars; }
    void enter(const QString &site, const QString &user, const QString &pass,
               const QString &hostText = {})
    {
        vars().setValue(QStringLiteral("Host"),
                        hostText.isEmpty() ? QStringLiteral("127.0.0.1:%1").arg(srv->http->port())
                                           : hostText);
        vars().setValue(QStringLiteral("LogOnSiteCode"), site);
        vars().setValue(QStringLiteral("LogOnUser"), user);
        vars().setValue(QStringLiteral("LogOnPass"), pass);
        vars().setValue(QStringLiteral("sysid"), user.left(3));
    }
    QString lastMessage() const
    {
        return presenter->shown.isEmpty() ? QString() : presenter->shown.last().text;
    }
    int rowsOf(const QString &table)
    {
        quillon::TMyDataSet ds;
        ds.LoadFromFile(
            dir.filePath(QStringLiteral("LocalData/cds/") + table + QStringLiteral(".cds")));
        return ds.RecordCount();
    }

    static server::test::TestServer *srv;
    QTemporaryDir dir;
    quillon::TMySktConnection conn;
    host::ScriptedPresenter *presenter = nullptr;
};

server::test::TestServer *SentryTest::srv = nullptr;

} // namespace

TEST(SentryRules, QuotingHostSplittingAndCacheQueries)
{
    EXPECT_EQ(sentry::quoted(QStringLiteral("O'Hara")), QStringLiteral("'O''Hara'"));

    struct Case
    {
        const char *text;
        bool ok;
        const char *address;
        int port;
    };
    const Case cases[] = {
        {"127.0.0.1", true, "127.0.0.1", 8801},
        {" srv.example:9000 ", true, "srv.example", 9000},
        {"host:0", false, "", 0},
        {"host:abc", false, "", 0},
        {"", false, "", 8801},
        {"::1", true, "::1", 8801},
    };
    for (const Case &c : cases) {
        QString address;
        int port = -1;
        EXPECT_EQ(sentry::splitHost(QString::fromUtf8(c.text), &address, &port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(address, QString::fromUtf8(c.address)) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }

    // A site name with a quote cannot break out of its literal.
    const auto tables = sentry::cacheTables(QStringLiteral("001"), QStringLiteral("X' or '1'='1"));
    QStringList names;
    for (const auto &t : tables) {
        names.append(t.name);
        EXPECT_FALSE(t.sql.contains(QStringLiteral("X' or"))) << t.sql.toStdString();
    }
    EXPECT_EQ(names, (QStringList{"cdsSite", "cdsSiteSub", "cdsFNSite",
                                  "cdsEmployeeAll", "cdsEmployeeSub", "cdsMdd", "cdsGoodsType"}));
}

TEST_F(SentryTest, AcceptedUserGetsAttributesAndEveryCache)
{
    enter(QStringLiteral("100"), QStringLiteral("001.li"), QStringLiteral("123456"));
    sentry::fVefify();
    EXPECT_TRUE(presenter->shown.isEmpty()) << lastMessage().toStdString();
    EXPECT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    EXPECT_EQ(vars().value(QStringLiteral("LogOnSiteName")), QStringLiteral("上海中心"));
    EXPECT_EQ(vars().value(QStringLiteral("LogOnEmpName")), QStringLiteral("陈静"));
    EXPECT_EQ(vars().value(QStringLiteral("LogOnFinanceType")), QStringLiteral("1"));
    EXPECT_FALSE(vars().value(QStringLiteral("LogOnTime")).isEmpty());
    EXPECT_FALSE(conn.Connected()); // closed again, like every dataset request

    EXPECT_GT(rowsOf(QStringLiteral("cdsSysMenu")), 10);
    EXPECT_EQ(rowsOf(QStringLiteral("cdsSite")), 12);
    // The centre and its three sites; their employees only.
    EXPECT_EQ(rowsOf(QStringLiteral("cdsSiteSub")), 4);
    EXPECT_EQ(rowsOf(QStringLiteral("cdsEmployeeSub")), 12);
    EXPECT_EQ(rowsOf(QStringLiteral("cdsFNSite")), 4); // head office and three centres
    EXPECT_GT(rowsOf(QStringLiteral("cdsEmployeeAll")), rowsOf(QStringLiteral("cdsEmployeeSub")));
    EXPECT_GT(rowsOf(QStringLiteral("cdsMdd")), 0);
    EXPECT_GT(rowsOf(QStringLiteral("cdsGoodsType")), 0);
}

TEST_F(SentryTest, RefusedOrUnreachableLeavesLVerifyFalseAndSaysWhy)
{
    struct Case
    {
        const char *site, *user, *pass, *host;
        const char *says;
    };
    const Case cases[] = {
        {"101", "001.zhang", "wrong", "", "用户名或密码错误"},
        {"101", "001.nobody", "123456", "", "用户名或密码错误"},
        {"201", "001.zhang", "123456", "", "网点编号与用户不符"},
        {"101", "001.zhang", "123456", "127.0.0.1:1", "无法连接应用服务器"},
        {"101", "001.zhang", "123456", " ", "没有配置地址"},
        {"101", "001.zhang", "123456", "host:99999", "无效"},
    };
    for (const Case &c : cases) {
        presenter->shown.clear();
        vars().setValue(QStringLiteral("LVerify"), QStringLiteral("TRUE")); // from an earlier run
        enter(QString::fromUtf8(c.site), QString::fromUtf8(c.user), QString::fromUtf8(c.pass),
              QString::fromUtf8(c.host));
        sentry::fVefify();
        EXPECT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("FALSE")) << c.user;
        ASSERT_EQ(presenter->shown.size(), 1) << c.user;
        EXPECT_TRUE(lastMessage().contains(QString::fromUtf8(c.says)))
            << c.user << " " << lastMessage().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("LocalData/cds/cdsSite.cds"))));
}

TEST_F(SentryTest, NotifyListsUnreadNoticesOnceUnlessAsked)
{
    enter(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
    sentry::fVefify();
    ASSERT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    vars().setValue(QStringLiteral("OffLine"), QStringLiteral("FALSE"));
    vars().setValue(QStringLiteral("ShowNotiFy"), QStringLiteral("0"));

    sentry::fNotify();
    EXPECT_EQ(vars().value(QStringLiteral("NewMsg")), QStringLiteral("1"));
    sentry::TfNotify *popup = sentry::TfNotify::existing();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    const int listed = popup->list()->rowCount();
    EXPECT_GT(listed, 0);
    // Newest first.
    EXPECT_GE(popup->list()->item(0, 0)->text(), popup->list()->item(listed - 1, 0)->text());
    // One entry per notice: the demo's notice to 上海浦东 and to 马超 personally comes once.
    QStringList subjects;
    for (int r = 0; r < listed; ++r)
        subjects << popup->list()->item(r, 1)->text();
    EXPECT_TRUE(subjects.contains(QStringLiteral("通知第2号")));
    EXPECT_EQ(subjects.removeDuplicates(), 0) << subjects.join(u',').toStdString();

    // Nothing new: the pop-up is not forced on the user again ...
    popup->hide();
    sentry::fNotify();
    EXPECT_FALSE(popup->isVisible());
    // ... unless asked for (a click on the indicator).
    vars().setValue(QStringLiteral("ShowNotiFy"), QStringLiteral("1"));
    sentry::fNotify();
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->list()->rowCount(), listed);

    // Offline there is no server to ask.
    popup->hide();
    vars().setValue(QStringLiteral("OffLine"), QStringLiteral("TRUE"));
    sentry::fNotify();
    EXPECT_FALSE(popup->isVisible());
}

TEST_F(SentryTest, TheModuleLibraryIsFoundByNameAndVerifies)
{
    // The real library beside the test, loaded by the host as the log-on does.
    host::ModuleService::instance().addModuleDirectory(QCoreApplication::applicationDirPath());
    enter(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Sentry.fVefify"));
    EXPECT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    EXPECT_EQ(vars().value(QStringLiteral("LogOnEmpName")), QStringLiteral("马超"));
    EXPECT_THROW(host::g_UINetIntf->CallFunc(QStringLiteral("px_Sentry.fNoSuch")), host::UserError);
}

TEST_F(SentryTest, MenuCachesHoldOnlyWhatTheRolesGrant)
{
    auto functionsOf = [this](const QString &table) {
        quillon::TMyDataSet ds;
        ds.LoadFromFile(dir.filePath(QStringLiteral("LocalData/cds/") + table + QStringLiteral(".cds")));
        QStringList out;
        for (ds.First(); !ds.Eof(); ds.Next())
            if (!ds.FieldByName(QStringLiteral("FUNCNAME"))->AsString().isEmpty())
                out.append(ds.FieldByName(QStringLiteral("FUNCNAME"))->AsString());
        return out;
    };
    // A site operator: notices, no finance, no administration, in both caches.
    enter(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("123456"));
    sentry::fVefify();
    ASSERT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    const QStringList clerk = functionsOf(QStringLiteral("cdsSysMenu"));
    EXPECT_TRUE(clerk.contains(QStringLiteral("px_Herald.fSendMessage")));
    for (const QString &f : clerk)
        EXPECT_FALSE(f.startsWith(QStringLiteral("px_Tally")) || f.startsWith(QStringLiteral("px_Warden"))
                     || f == QStringLiteral("px_Herald.fManagerMessage"))
            << qPrintable(f);
    EXPECT_EQ(functionsOf(QStringLiteral("cdsMenu")), clerk);

    // The rights cache lists the same grants (the system menu reads it); no administration.
    const QStringList clerkRights = functionsOf(QStringLiteral("cdsMyRights"));
    EXPECT_TRUE(clerkRights.contains(QStringLiteral("px_Herald.fSendMessage")));
    EXPECT_FALSE(clerkRights.contains(QStringLiteral("px_Warden.fUsers")));

    // The administrator of the same machine afterwards gets the administration entries.
    enter(QStringLiteral("000"), QStringLiteral("001.admin"), QStringLiteral("123456"));
    sentry::fVefify();
    EXPECT_TRUE(functionsOf(QStringLiteral("cdsSysMenu")).contains(QStringLiteral("px_Warden.fUsers")));
    EXPECT_TRUE(functionsOf(QStringLiteral("cdsMyRights")).contains(QStringLiteral("px_Warden.fUsers")));
}

// The log-on check runs under its own short limit and leaves none behind: the calls after
// it (queries, runs) wait as long as the server lets a statement run.
TEST_F(SentryTest, TheLogOnLeavesTheCallsTheirOwnTimeLimit)
{
    enter(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
    sentry::fVefify();
    ASSERT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    conn.Open();
    ASSERT_NE(conn.DBXConnection(), nullptr);
    const auto &options = conn.DBXConnection()->options();
    EXPECT_GT(options.timeoutMs, 120000) << "a query must be allowed the server's 120 s";
    EXPECT_LE(options.logOnTimeoutMs, 15000);
    EXPECT_EQ(conn.timeout(), options.timeoutMs);
    // A second verification (another user on this machine) does not shorten it either.
    enter(QStringLiteral("201"), QStringLiteral("001.wang"), QStringLiteral("123456"));
    sentry::fVefify();
    conn.Open();
    EXPECT_GT(conn.DBXConnection()->options().timeoutMs, 120000);
    conn.Close();
}

TEST_F(SentryTest, SuperAdministratorGetsTheMenusOfItsOwnKey)
{
    enter(QStringLiteral("000"), QStringLiteral("dk"), QStringLiteral("123456"));
    sentry::fVefify();
    EXPECT_TRUE(presenter->shown.isEmpty()) << lastMessage().toStdString();
    EXPECT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("TRUE"));
    EXPECT_EQ(vars().value(QStringLiteral("sysid")), QStringLiteral("dk"));
    EXPECT_GT(rowsOf(QStringLiteral("cdsMenu")), 10);
    EXPECT_EQ(rowsOf(QStringLiteral("cdsSite")), 0); // the business data belongs to "001"
}

TEST_F(SentryTest, CachesThatCannotBeWrittenFailTheVerification)
{
    QTemporaryDir other;
    QFile blocker(other.filePath(QStringLiteral("LocalData"))); // a file where the folder goes
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    vars().setValue(QStringLiteral("iExePath"), other.path() + u'/');
    enter(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
    EXPECT_THROW(sentry::fVefify(), host::UserError);
    EXPECT_EQ(vars().value(QStringLiteral("LVerify")), QStringLiteral("FALSE"));
    EXPECT_FALSE(conn.Connected());
}
