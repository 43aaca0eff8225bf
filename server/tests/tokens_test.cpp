// Tokens die with the user's rights: a password change, disabling or deleting a user
// refuses the tokens issued before, at their next request, on every route.
#include "testserver.h"

#include "server/auth.h"

#include <QCborArray>
#include <thread>

using namespace server;
using namespace server::test;
using quillon::protocol::ProtocolError;
using quillon::protocol::Transport;

namespace {

int statusOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const ProtocolError &e) {
        return e.status();
    }
    return 200;
}

// A transport that only carries the token: it cannot log on again by itself.
std::unique_ptr<Transport> holderOf(TestServer &s, const QString &token)
{
    auto t = std::make_unique<Transport>(s.options());
    t->setToken(token);
    return t;
}

// Every kind of route the token opens: a method, the provider, a write.
QList<int> statuses(Transport &t)
{
    static int serial = 0;
    quillon::DataPacket packet;
    quillon::FieldDef code, name;
    code.name = QStringLiteral("Code");
    code.size = 10;
    name.name = QStringLiteral("Cname");
    name.size = 30;
    packet.fields = {code, name};
    packet.rows.append({QStringLiteral("T%1").arg(++serial), QStringLiteral("x")});
    quillon::DataPacket::Change ch;
    ch.state = quillon::RowState::Inserted;
    ch.row = 0;
    packet.changes.append(ch);
    return {statusOf([&] { t.callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}); }),
            statusOf([&] { query(t, QStringLiteral("select SiteName from tab_Site")); }),
            statusOf([&] {
                t.callMethod(QStringLiteral("ApplyData"),
                             {QStringLiteral("tab_GoodsType"), packet.toXml(), 0, QCborValue()});
            })};
}

const QList<int> kRefused = {401, 401, 401};
const QList<int> kServed = {200, 200, 200};

TEST(TokenGeneration, PasswordChangeDisableAndDeleteRefuseOlderTokens)
{
    TestServer s(10);
    // The write of statuses() is about tokens, not about roles.
    grantToEveryone(*s.backend->acquireForServer(), QStringLiteral("tab_GoodsType"), QStringLiteral("I"));
    auto zhang = s.client(QStringLiteral("101"), QStringLiteral("001.zhang"));
    auto wang = s.client(QStringLiteral("201"), QStringLiteral("001.wang"));
    auto stale = holderOf(s, zhang->token());
    ASSERT_EQ(statuses(*stale), kServed);

    {
        auto c = s.backend->acquireForServer();
        setPassword(*c, QStringLiteral("001.zhang"), QStringLiteral("654321"), true);
    }
    EXPECT_EQ(statuses(*stale), kRefused);
    // Other users keep their sessions.
    EXPECT_EQ(statuses(*holderOf(s, wang->token())), kServed);
    // The old password no longer logs on; the new one does, and its token works.
    Transport again(s.options());
    EXPECT_EQ(statusOf([&] {
                  again.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                                             QStringLiteral("123456")));
              }),
              401);
    again.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                               QStringLiteral("654321")));
    EXPECT_EQ(statuses(again), kServed);

    // Disabled: refused, and log-on says why; enabled again: a new log-on works, the
    // token of before the disabling stays dead.
    const QString beforeDisable = again.token();
    {
        auto c = s.backend->acquireForServer();
        setUserEnabled(*c, QStringLiteral("001.zhang"), false);
    }
    EXPECT_EQ(statuses(*holderOf(s, beforeDisable)), kRefused);
    try {
        Transport t(s.options());
        t.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                               QStringLiteral("654321")));
        ADD_FAILURE() << "a disabled user logged on";
    } catch (const ProtocolError &e) {
        EXPECT_EQ(e.status(), 401);
        EXPECT_TRUE(e.message().contains(QStringLiteral("停用"))) << qPrintable(e.message());
    }
    {
        auto c = s.backend->acquireForServer();
        setUserEnabled(*c, QStringLiteral("001.zhang"), true);
    }
    EXPECT_EQ(statuses(*holderOf(s, beforeDisable)), kRefused);
    Transport back(s.options());
    back.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                              QStringLiteral("654321")));
    EXPECT_EQ(statuses(back), kServed);

    // Deleted: no route, no write.
    const qsizetype goodsBefore =
        s.native(QStringLiteral("select count(*) from tab_GoodsType")).rows.value(0).value(0).toLongLong();
    {
        auto c = s.backend->acquireForServer();
        deleteUser(*c, QStringLiteral("001.zhang"));
    }
    EXPECT_EQ(statuses(back), kRefused);
    EXPECT_EQ(s.native(QStringLiteral("select count(*) from tab_GoodsType")).rows.value(0).value(0).toLongLong(),
              goodsBefore);
    EXPECT_EQ(statuses(*holderOf(s, wang->token())), kServed);
}

TEST(TokenGeneration, AChangeMadeByAnotherServerCountsWithinTheCacheTime)
{
    TestServer s(10);
    auto zhang = s.client();
    auto stale = holderOf(s, zhang->token());
    ASSERT_EQ(statuses(*stale).first(), 200); // now cached as valid
    // Another server process bumps the generation: this process learns it from the
    // database once its cache entry is older than the cache time.
    s.native(QStringLiteral("select 1 from dual")); // the connection exists
    {
        auto c = s.backend->acquireForServer();
        c->execute(QStringLiteral("update sys_user set TOKENGEN=TOKENGEN+1 where USERCODE='001.zhang'"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kTokenGenerationCacheMs + 200));
    EXPECT_EQ(statuses(*stale), kRefused);
}

} // namespace
