// Tokens die with the user's rights: a password change, disabling or deleting a user
// refuses the tokens issued before, at their next request, on every route.
#include "testserver.h"

#include "server/auth.h"

#include <QCborArray>
#include <QElapsedTimer>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

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


// Requests of one token sent without a pause from a thread of their own, each noted with
// the moment it started and its status.
class Hammer
{
public:
    Hammer(const Transport::Options &options, const QString &token, QElapsedTimer &clock)
        : m_clock(clock)
    {
        m_thread = std::thread([this, options, token] {
            Transport t(options);
            t.setToken(token);
            while (!m_stop) {
                const qint64 started = m_clock.nsecsElapsed();
                const int status = statusOf([&] { t.callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}); });
                std::lock_guard lock(m_mutex);
                m_seen.push_back({started, status});
            }
        });
    }
    ~Hammer() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Requests begun at or after `from` (clock nanoseconds): how many, and how many served.
    std::pair<int, int> after(qint64 from)
    {
        std::lock_guard lock(m_mutex);
        int n = 0, served = 0;
        for (const auto &s : m_seen)
            if (s.first >= from) {
                ++n;
                served += s.second == 200;
            }
        return {n, served};
    }
    int served()
    {
        std::lock_guard lock(m_mutex);
        return int(std::count_if(m_seen.begin(), m_seen.end(), [](const auto &s) { return s.second == 200; }));
    }

private:
    QElapsedTimer &m_clock;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::pair<qint64, int>> m_seen;
    std::thread m_thread;
};

// The administrator revokes 马超's token through the server (reset password, then disable)
// while another client keeps calling with it: no request begun after the revoking call
// answered is served, although until then its check came from memory.
TEST(TokenGeneration, ARevokedTokenIsRefusedAtTheVeryNextRequestWhileServedFromMemory)
{
    TestServer s(10);
    auto admin = s.client(QStringLiteral("000"), QStringLiteral("001.admin"));
    const auto revokeBy = [&](const QString &call) {
        QCborMap args{{QStringLiteral("user"), QStringLiteral("001.zhang")}};
        if (call == QLatin1String("ResetPassword"))
            args.insert(QStringLiteral("password"), QStringLiteral("Wl2026reset"));
        else
            args.insert(QStringLiteral("enabled"), false);
        admin->callAdmin(call, args);
    };
    for (const QString &call : {QStringLiteral("ResetPassword"), QStringLiteral("SetUserEnabled")}) {
        SCOPED_TRACE(qPrintable(call));
        Transport logOn(s.options());
        logOn.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                                   call == QLatin1String("ResetPassword")
                                                       ? QStringLiteral("123456")
                                                       : QStringLiteral("Wl2026reset")));
        auto zhang = holderOf(s, logOn.token());
        QElapsedTimer clock;
        clock.start();
        Hammer hammer(s.options(), zhang->token(), clock);
        while (hammer.served() < 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        revokeBy(call);
        const qint64 answered = clock.nsecsElapsed();
        // The same client's very next request, and everything the hammer begins from now.
        EXPECT_EQ(statusOf([&] { zhang->callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}); }), 401);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        hammer.stop();
        const auto [after, served] = hammer.after(answered);
        EXPECT_GT(after, 0);
        EXPECT_EQ(served, 0) << served << " of " << after << " requests begun after the revocation were served";
    }
}

// Two servers on one database: a revocation through one is refused by it at once and by
// the other within kTokenGenerationCacheMs, while the other checked that token from memory.
TEST(TokenGeneration, ASecondServerOnTheSameDatabaseRefusesWithinTheBound)
{
    TestServer a(10);
    auto backendB = Backend::open(a.dbPath);
    ServerOptions so;
    so.port = 0;
    so.threads = 4;
    so.quiet = true;
    HttpServer b(*backendB, a.dir.filePath(QStringLiteral("files")), so);
    b.start();
    Transport::Options onB = a.options();
    onB.port = b.port();

    auto zhang = holderOf(a, a.client()->token());
    QElapsedTimer clock;
    clock.start();
    Hammer hammer(onB, zhang->token(), clock); // the token works on b too: one signing key
    while (hammer.served() < 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto admin = a.client(QStringLiteral("000"), QStringLiteral("001.admin"));
    admin->callAdmin(QStringLiteral("SetUserEnabled"),
                     {{QStringLiteral("user"), QStringLiteral("001.zhang")}, {QStringLiteral("enabled"), false}});
    const qint64 answered = clock.nsecsElapsed();
    EXPECT_EQ(statusOf([&] { zhang->callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}); }), 401);
    std::this_thread::sleep_for(std::chrono::milliseconds(kTokenGenerationCacheMs + 300));
    hammer.stop();
    const qint64 bound = answered + kTokenGenerationCacheMs * 1000000;
    const auto [late, lateServed] = hammer.after(bound);
    EXPECT_GT(late, 0);
    EXPECT_EQ(lateServed, 0) << "server b still served the token " << kTokenGenerationCacheMs << " ms after";
    const auto [all, servedAfterAnswer] = hammer.after(answered);
    std::printf("server b served %d of %d requests begun after the revocation, all within the bound\n",
                servedAfterAnswer, all);
}

} // namespace
