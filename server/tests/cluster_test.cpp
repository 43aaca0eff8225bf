// Several servers on one database: an ApplyData retried by request id applies once; log-on
// throttling, token revocation and files are seen by every server; the health route and
// the graceful stop; a lost database connection answers 503 and is replaced without a
// restart; the client transport repeats what is safe.
#include "testserver.h"

#include "server/auth.h"
#include "server/httplistener.h"
#include "server/oplog.h"
#include "server/sharedstate.h"
#include "server/sql/pgbackend.h"

#include <QCborArray>
#include <QElapsedTimer>
#include <atomic>
#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace server;
using namespace server::test;
using namespace std::chrono_literals;
using quillon::DataPacket;
using quillon::RowState;
using quillon::protocol::ProtocolError;
using quillon::protocol::Transport;

namespace {

int statusOf(const std::function<void()> &fn, QString *text = nullptr)
{
    try {
        fn();
    } catch (const ProtocolError &e) {
        if (text)
            *text = e.message();
        return e.status();
    }
    return 200;
}

// A read receipt as a window would append it.
DataPacket receipt(Transport &t, const QString &msgId)
{
    DataPacket p = query(t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    QVariantList row;
    for (const auto &f : std::as_const(p.fields)) {
        const QString n = f.name.toUpper();
        row.append(n == QLatin1String("MSGID")         ? QVariant(msgId)
                   : n == QLatin1String("MSGREADSITE") ? QVariant(QStringLiteral("上海浦东"))
                   : n == QLatin1String("MSGREADER")   ? QVariant(QStringLiteral("马超"))
                                                       : QVariant());
    }
    p.rows.append(row);
    DataPacket::Change ch;
    ch.state = RowState::Inserted;
    ch.row = 0;
    p.changes.append(ch);
    return p;
}

QCborArray applyWithId(Transport &t, const DataPacket &p, const QString &id)
{
    return t.callMethod(QStringLiteral("ApplyData"),
                        {QStringLiteral("TAB_MSGREAD"), p.toXml(), 0, QCborValue()}, id);
}

// A GET of the health route over a fresh connection: status and body.
std::pair<int, std::string> health(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return {0, "refused"};
    }
    const std::string req = "GET /waylink/v1/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    (void)!::write(fd, req.data(), req.size());
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        answer.append(buf, size_t(n));
    ::close(fd);
    if (answer.rfind("HTTP/1.1 ", 0) != 0)
        return {0, answer};
    const auto body = answer.find("\r\n\r\n");
    return {std::stoi(answer.substr(9, 3)), body == std::string::npos ? "" : answer.substr(body + 4)};
}

// A second server process on the database of `first`: its own pool and its own memory,
// the files where the first keeps them.
struct SecondServer
{
    SecondServer(TestServer &first, const QString &files,
                 const std::function<void(ServerOptions &)> &tune = {})
    {
        backend = Backend::open(first.dbPath);
        ServerOptions so;
        so.port = 0;
        so.threads = 4;
        so.quiet = true;
        if (tune)
            tune(so);
        http = std::make_unique<HttpServer>(*backend, files, so);
        http->start();
    }
    Transport::Options options() const
    {
        Transport::Options o;
        o.host = QStringLiteral("127.0.0.1");
        o.port = http->port();
        o.timeoutMs = 10000;
        return o;
    }
    std::unique_ptr<Backend> backend;
    std::unique_ptr<HttpServer> http;
};

// Where both servers keep their files: the database on PostgreSQL, the first's folder on
// SQLite.
QString sharedFiles(TestServer &s)
{
    return onPostgres() ? QString::fromLatin1(kFilesInDatabase) : s.dir.filePath(QStringLiteral("files"));
}

std::unique_ptr<TestServer> serverWithSharedFiles(const std::function<void(ServerOptions &)> &tune = {})
{
    auto s = std::make_unique<TestServer>(10, 3600, tune);
    if (onPostgres()) {
        // The first server keeps its files in the database too.
        s->http.reset();
        ServerOptions so;
        so.port = 0;
        so.threads = 4;
        so.quiet = true;
        if (tune)
            tune(so);
        s->http = std::make_unique<HttpServer>(*s->backend, QString::fromLatin1(kFilesInDatabase), so);
        s->http->start();
    }
    return s;
}

} // namespace

TEST(RequestIds, ARetriedApplyDataAppliesOnceAndAnswersTheFirstOutcome)
{
    TestServer s(10);
    auto t = s.client(QStringLiteral("000"), QStringLiteral("001.admin"));
    auto countRows = [&](const QString &msgId) {
        return s.native(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID=?"), {msgId})
            .rows.value(0)
            .value(0)
            .toLongLong();
    };
    const QString id = Transport::newRequestId();
    const DataPacket p = receipt(*t, QStringLiteral("R1"));
    const QCborArray first = applyWithId(*t, p, id);
    ASSERT_TRUE(first.at(4).toBool());
    // The answer was "lost": the same call again is answered with the first outcome.
    const QCborArray again = applyWithId(*t, p, id);
    EXPECT_TRUE(again.at(4).toBool());
    EXPECT_EQ(again.at(3).toByteArray(), first.at(3).toByteArray());
    EXPECT_EQ(countRows(QStringLiteral("R1")), 1);
    // Without the id the same packet is a second insert, which the key refuses: the id,
    // not the key, made the retry succeed.
    EXPECT_EQ(statusOf([&] { applyWithId(*t, p, Transport::newRequestId()); }), 409);

    // Retries racing each other (two servers answering one client's repeats): one applies.
    const DataPacket p2 = receipt(*t, QStringLiteral("R2"));
    const QString id2 = Transport::newRequestId();
    std::atomic<int> ok{0};
    std::vector<std::thread> racers;
    for (int i = 0; i < 4; ++i)
        racers.emplace_back([&] {
            Transport own(s.options());
            own.openSession(TestServer::logOnRequest(QStringLiteral("000"), QStringLiteral("001.admin"),
                                                     QStringLiteral("123456")));
            if (statusOf([&] { applyWithId(own, p2, id2); }) == 200)
                ++ok;
        });
    for (auto &r : racers)
        r.join();
    EXPECT_EQ(ok.load(), 4);
    EXPECT_EQ(countRows(QStringLiteral("R2")), 1);

    // An id is no key to another user's answer; a malformed one is refused.
    auto other = s.client(QStringLiteral("101"), QStringLiteral("001.zhang"));
    EXPECT_EQ(statusOf([&] { applyWithId(*other, p, id); }), 409);
    EXPECT_EQ(statusOf([&] { applyWithId(*t, receipt(*t, QStringLiteral("R3")), QStringLiteral("bad id!")); }),
              400);
    EXPECT_EQ(countRows(QStringLiteral("R3")), 0);
    // The outcomes are the server's: no client query reads them.
    EXPECT_NE(statusOf([&] { query(*t, QStringLiteral("select * from sys_request")); }), 200);
}

TEST(RequestIds, AFailedApplyStoresNothingSoItsRetryAppliesAfterTheCauseIsMended)
{
    TestServer s(10);
    auto t = s.client(QStringLiteral("000"), QStringLiteral("001.admin"));
    DataPacket p = receipt(*t, QStringLiteral("F1"));
    p.rows[0][p.fieldIndex(QStringLiteral("MSGREADER"))] = QString(300, QLatin1Char('x')); // too long
    const QString id = Transport::newRequestId();
    EXPECT_EQ(statusOf([&] { applyWithId(*t, p, id); }), 400);
    p.rows[0][p.fieldIndex(QStringLiteral("MSGREADER"))] = QStringLiteral("马超");
    EXPECT_TRUE(applyWithId(*t, p, id).at(4).toBool());
    EXPECT_EQ(s.native(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='F1'")).rows.value(0).value(0).toLongLong(),
              1);
}

TEST(TwoServers, ShareLogOnThrottlingTokenRevocationAndFiles)
{
    auto tune = [](ServerOptions &o) {
        o.logOnThrottle.freeUserFailures = 2;
        o.logOnThrottle.freeAddressFailures = 1000;
        o.logOnThrottle.firstDelay = 1500ms;
        o.logOnThrottle.maxDelay = 1500ms;
    };
    auto a = serverWithSharedFiles(tune);
    SecondServer b(*a, sharedFiles(*a), tune);

    // Files: uploaded through one server, listed, dated and downloaded through the other.
    auto onA = a->client();
    Transport onB(b.options());
    onB.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                             QStringLiteral("123456")));
    QByteArray big(DbFileStore::kChunkBytes * 2 + 123, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7 + i / 1000) & 0xff);
    const QString path = QStringLiteral("notice\\20261208\\big.bin");
    ASSERT_TRUE(onA->callMethod(QStringLiteral("UploadByStream"), {path, big}).at(2).toBool());
    EXPECT_EQ(onB.callMethod(QStringLiteral("DownloadByStream"), {path}).at(1).toByteArray(), big);
    EXPECT_EQ(onB.callMethod(QStringLiteral("GetLstFile"), {QStringLiteral("notice")}).at(1).toString(),
              QStringLiteral("20261208\\big.bin"));
    EXPECT_TRUE(onB.callMethod(QStringLiteral("GetFileVer"), {path}).at(1).toString().endsWith(
        QStringLiteral("|%1").arg(big.size())));
    // Replaced through B (smaller): A reads the new bytes whole, nothing of the old.
    ASSERT_TRUE(onB.callMethod(QStringLiteral("MyUpDownFile"), {path, QByteArray("v2"), QCborValue(), 0})
                    .at(4)
                    .toBool());
    EXPECT_EQ(onA->callMethod(QStringLiteral("DownloadByStream"), {path}).at(1).toByteArray(), QByteArray("v2"));
    if (onPostgres()) {
        EXPECT_EQ(a->native(QStringLiteral("select count(*) from sys_filechunk")).rows.value(0).value(0).toLongLong(), 1);
        // Another deployment's key does not reach the file.
        EXPECT_EQ(a->native(QStringLiteral("select AREA from sys_file")).rows.value(0).value(0).toString(),
                  QStringLiteral("001"));
    }

    // Token revocation: a password change through A ends the session on B at once.
    {
        auto c = a->backend->acquireForServer();
        setPassword(*c, QStringLiteral("001.zhang"), QStringLiteral("654321"), true);
    }
    // B remembers generations for a moment (refreshed from the database every 250 ms, at
    // most a second old): the session ends within that bound.
    QElapsedTimer revoked;
    revoked.start();
    int status = 200;
    while ((status = statusOf([&] { onB.callMethod(QStringLiteral("GetFileVer"), {path}); })) == 200
           && revoked.elapsed() < 3000)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(status, 401);
    EXPECT_LT(revoked.elapsed(), 2500);

    // Throttling: failures counted on A delay the next attempt on B.
    const auto wrong = TestServer::logOnRequest(QStringLiteral("100"), QStringLiteral("001.li"),
                                                QStringLiteral("wrong"));
    for (int i = 0; i < 3; ++i) {
        Transport t(a->options());
        EXPECT_EQ(statusOf([&] { t.openSession(wrong); }), 401);
    }
    Transport late(b.options());
    QElapsedTimer timer;
    timer.start();
    late.openSession(TestServer::logOnRequest(QStringLiteral("100"), QStringLiteral("001.li"),
                                              QStringLiteral("123456")));
    EXPECT_GE(timer.elapsed(), 700) << "B did not see A's failed log-ons";
    // The right password cleared the count for both.
    timer.restart();
    Transport again(a->options());
    again.openSession(TestServer::logOnRequest(QStringLiteral("100"), QStringLiteral("001.li"),
                                               QStringLiteral("123456")));
    EXPECT_LT(timer.elapsed(), 700);
}

TEST(TwoServers, WriteOneOperationLogChainUnderTheDatabaseLock)
{
    auto a = std::make_unique<TestServer>(10);
    SecondServer b(*a, a->dir.filePath(QStringLiteral("files")));
    {
        auto c = a->backend->acquireForServer();
        c->execute(QStringLiteral("delete from SYS_TABLES where upper(TABLENAME)='TAB_ACCOUNT' and sysid='001'"));
        c->execute(QStringLiteral("insert into SYS_TABLES (TABLENAME, sysid) values ('TAB_ACCOUNT','001')"));
    }
    // Writers on both servers change different rows at once; every change is logged and
    // the chain stays whole.
    const QueryResult bills = a->native(QStringLiteral(
        "select distinct BILLCODE from TAB_ACCOUNT where sysid='001' order by BILLCODE"));
    ASSERT_GE(bills.rows.size(), 8);
    std::vector<std::thread> writers;
    std::atomic<int> done{0};
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            Transport t(w % 2 ? b.options() : a->options());
            t.openSession(TestServer::logOnRequest(QStringLiteral("000"), QStringLiteral("001.admin"),
                                                   QStringLiteral("123456")));
            for (int k = 0; k < 2; ++k) {
                const QString bill = bills.rows.at(w * 2 + k).value(0).toString();
                DataPacket p = query(t, QStringLiteral("select * from TAB_ACCOUNT where BILLCODE='%1' "
                                                       "and sysid='001'").arg(bill));
                DataPacket::Change ch;
                ch.state = RowState::Modified;
                ch.row = 0;
                ch.original = p.rows.at(0);
                p.rows[0][p.fieldIndex(QStringLiteral("WEIGHT"))] = 40.0 + w * 2 + k;
                p.changes.append(ch);
                QString error;
                if (statusOf([&] {
                        t.callMethod(QStringLiteral("ApplyData"),
                                     {QStringLiteral("TAB_ACCOUNT"), p.toXml(), 0, QCborValue()});
                    }, &error) == 200)
                    ++done;
                else
                    ADD_FAILURE() << qPrintable(error);
            }
        });
    for (auto &w : writers)
        w.join();
    EXPECT_EQ(done.load(), 8);
    auto c = a->backend->acquireForServer();
    const QList<OpLogAudit> audits = verifyOpLog(*c, QStringLiteral("001"));
    ASSERT_EQ(audits.size(), 1);
    EXPECT_TRUE(audits.first().intact) << qPrintable(audits.first().problem);
    EXPECT_GE(audits.first().rows, 8);
}

TEST(Health, AnswersWhileServingAndTheGracefulStopFinishesRunningRequests)
{
    // A log-on after a failed one waits out its delay inside the request: a request that
    // runs for a known time.
    TestServer s(10, 3600, [](ServerOptions &o) {
        o.logOnThrottle.freeUserFailures = 0;
        o.logOnThrottle.firstDelay = 1500ms;
        o.logOnThrottle.maxDelay = 1500ms;
    });
    auto h = health(s.http->port());
    EXPECT_EQ(h.first, 200) << h.second;
    EXPECT_EQ(h.second, "ok\n");

    Transport t(s.options());
    EXPECT_EQ(statusOf([&] {
                  t.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                                         QStringLiteral("wrong")));
              }),
              401);
    std::atomic<int> slowStatus{-1};
    QString slowError;
    std::thread running([&] {
        slowStatus = statusOf(
            [&] {
                t.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                                       QStringLiteral("123456")));
            },
            &slowError);
    });
    QElapsedTimer started;
    started.start();
    while (s.http->runningRequests() == 0 && started.elapsed() < 3000)
        std::this_thread::sleep_for(1ms);
    if (s.http->runningRequests() != 1) {
        running.join();
        FAIL() << "the slow request never ran: " << slowStatus.load() << " " << qPrintable(slowError);
    }
    // While it runs the stop begins: the request is answered, no new connection is taken,
    // and the stop waited for it.
    QElapsedTimer draining;
    draining.start();
    const int cut = s.http->drain(10s);
    running.join();
    EXPECT_EQ(cut, 0);
    EXPECT_EQ(slowStatus.load(), 200) << qPrintable(slowError);
    EXPECT_GE(draining.elapsed(), 800);
    EXPECT_TRUE(s.http->draining());
    EXPECT_EQ(health(s.http->port()).first, 0) << "a new connection was still accepted";
}

TEST(Health, AStopCutsOffWhatOutlastsTheGrace)
{
    TestServer s(10, 3600, [](ServerOptions &o) {
        o.logOnThrottle.freeUserFailures = 0;
        o.logOnThrottle.firstDelay = 3000ms;
        o.logOnThrottle.maxDelay = 3000ms;
    });
    Transport::Options quick = s.options();
    quick.timeoutMs = 4000;
    quick.retryForMs = 0;
    Transport t(quick);
    const auto wrong = TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"),
                                                QStringLiteral("wrong"));
    EXPECT_EQ(statusOf([&] { t.openSession(wrong); }), 401);
    std::thread running([&] { statusOf([&] { t.openSession(wrong); }); });
    QElapsedTimer started;
    started.start();
    while (s.http->runningRequests() == 0 && started.elapsed() < 3000)
        std::this_thread::sleep_for(1ms);
    QElapsedTimer draining;
    draining.start();
    // The request runs on in its worker (a database statement has its own time limit), but
    // its answer is not waited for.
    EXPECT_EQ(s.http->drain(300ms), 1);
    running.join();
}

TEST(Failover, ALostDatabaseConnectionAnswers503AndIsReplacedWithoutARestart)
{
    TestServer s(10);
    if (!onPostgres())
        GTEST_SKIP() << "a SQLite file cannot be lost like a database server";
    auto dropServerConnections = [&] {
        PgBackend killer(s.dbPath, false);
        auto c = killer.acquireForServer();
        c->query(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where "
                                "datname = current_database() and usename = current_user and "
                                "pid <> pg_backend_pid()"),
                 {}, false);
    };
    auto t = s.client(QStringLiteral("000"), QStringLiteral("001.admin"));
    Transport::Options noRetry = s.options();
    noRetry.retryForMs = 0;
    Transport once(noRetry);
    once.openSession(TestServer::logOnRequest(QStringLiteral("000"), QStringLiteral("001.admin"),
                                              QStringLiteral("123456")));

    dropServerConnections();
    QString text;
    EXPECT_EQ(statusOf([&] { applyWithId(once, receipt(once, QStringLiteral("X1")), Transport::newRequestId()); },
                       &text),
              503);
    EXPECT_TRUE(text.contains(QStringLiteral("重试"))) << qPrintable(text);
    // The next request connects afresh: no restart needed.
    EXPECT_TRUE(applyWithId(once, receipt(once, QStringLiteral("X2")), Transport::newRequestId()).at(4).toBool());
    EXPECT_EQ(health(s.http->port()).first, 200);

    // With the transport's retries the loss does not even show.
    dropServerConnections();
    EXPECT_TRUE(t->callMethod(QStringLiteral("ApplyData"),
                              {QStringLiteral("TAB_MSGREAD"), receipt(*t, QStringLiteral("X3")).toXml(), 0,
                               QCborValue()})
                    .at(4)
                    .toBool());
    EXPECT_EQ(s.native(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID in ('X1','X2','X3')"))
                  .rows.value(0)
                  .value(0)
                  .toLongLong(),
              2);
}

namespace {
// A server that fails the first `failures` requests with `status` (or by closing the
// connection when status is 0) and then answers an empty method result; it notes every
// request's path and request id.
struct FlakyServer : HttpHandler
{
    explicit FlakyServer(int failures, int status)
        : m_failures(failures)
        , m_status(status)
    {
        ListenerOptions o;
        o.workers = 2;
        listener = std::make_unique<HttpListener>(*this, o);
        port = listener->bind();
        thread = std::thread([this] { listener->run(); });
        while (!listener->running())
            std::this_thread::sleep_for(1ms);
    }
    ~FlakyServer() override
    {
        listener->stop();
        thread.join();
    }
    std::optional<HttpResponse> onHeader(const HttpRequest &, long long *limit) override
    {
        *limit = 1 << 20;
        return std::nullopt;
    }
    HttpResponse handle(HttpRequest &r) override
    {
        std::lock_guard lock(mutex);
        ids.push_back(r.header("waylink-request-id"));
        HttpResponse res;
        res.contentType = "application/cbor";
        if (int(ids.size()) <= m_failures) {
            if (m_status == 0)
                throw std::runtime_error("gone"); // never reached: see close below
            res.status = m_status;
            const QByteArray body = QCborValue(QCborMap{{QStringLiteral("error"), QStringLiteral("稍后重试")}}).toCbor();
            res.body.assign(body.constData(), size_t(body.size()));
            return res;
        }
        const QByteArray body = QCborValue(QCborArray{QCborValue(), QCborValue(), QCborValue(),
                                                      QByteArray(), true})
                                    .toCbor();
        res.body.assign(body.constData(), size_t(body.size()));
        return res;
    }
    HttpResponse refuse(const HttpRequest &, int status, const QString &) override
    {
        HttpResponse r;
        r.status = status;
        return r;
    }
    int m_failures, m_status;
    std::mutex mutex;
    std::vector<std::string> ids;
    std::unique_ptr<HttpListener> listener;
    std::thread thread;
    int port = 0;
};

Transport::Options flakyOptions(int port, int retryForMs)
{
    Transport::Options o;
    o.host = QStringLiteral("127.0.0.1");
    o.port = port;
    o.timeoutMs = 5000;
    o.retryForMs = retryForMs;
    return o;
}
} // namespace

TEST(ClientRetries, SafeCallsAreRepeatedWithTheSameRequestIdOthersAreNot)
{
    const QCborArray apply{QStringLiteral("T"), QStringLiteral("<x/>"), 0, QCborValue()};
    {
        // ApplyData through a failover: repeated, each time with the one id of the call.
        FlakyServer f(2, 503);
        Transport t(flakyOptions(f.port, 10000));
        t.setToken(QStringLiteral("token"));
        EXPECT_TRUE(t.callMethod(QStringLiteral("ApplyData"), apply).at(4).toBool());
        ASSERT_EQ(f.ids.size(), 3u);
        EXPECT_FALSE(f.ids[0].empty());
        EXPECT_EQ(f.ids[1], f.ids[0]);
        EXPECT_EQ(f.ids[2], f.ids[0]);
        // The next call is another change: another id.
        t.callMethod(QStringLiteral("ApplyData"), apply);
        EXPECT_NE(f.ids.back(), f.ids[0]);
    }
    {
        // An upload is not repeated (the caller decides); a 502 of the balancer is passed on.
        FlakyServer f(1, 502);
        Transport t(flakyOptions(f.port, 10000));
        t.setToken(QStringLiteral("token"));
        EXPECT_EQ(statusOf([&] {
                      t.callMethod(QStringLiteral("UploadByStream"), {QStringLiteral("a.txt"), QByteArray("x")});
                  }),
                  502);
        EXPECT_EQ(f.ids.size(), 1u);
        EXPECT_TRUE(f.ids[0].empty()) << "only ApplyData carries a request id";
    }
    {
        // Retries end with the time given: the last answer is the caller's.
        FlakyServer f(1000, 503);
        Transport t(flakyOptions(f.port, 700));
        t.setToken(QStringLiteral("token"));
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(statusOf([&] { t.callMethod(QStringLiteral("GetData"), {QStringLiteral("select 1 from dual"), 1}); }),
                  503);
        EXPECT_LT(timer.elapsed(), 3000);
        EXPECT_GE(f.ids.size(), 2u);
    }
    // Nobody listening: no retry, the error comes at once.
    Transport nobody(flakyOptions(1, 10000));
    nobody.setToken(QStringLiteral("token"));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(statusOf([&] { nobody.callMethod(QStringLiteral("GetData"), {QStringLiteral("x"), 1}); }), 0);
    EXPECT_LT(timer.elapsed(), 1000);
}
