// The server over a real loopback socket: sessions, tokens, every method, the file area,
// and bad requests that must be refused without harm.
#include "testserver.h"

#include "server/auth.h"

#include <QCborArray>
#include <QCborMap>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <httplib.h>
#include <thread>

using namespace server;
using namespace server::test;
using quillon::protocol::ProtocolError;
using quillon::protocol::Transport;

namespace {

qsizetype srv_rows(Backend &b, const QString &sql)
{
    auto c = b.acquireForServer();
    return qsizetype(c->query(sql, {}, true).rows.at(0).at(0).toLongLong());
}

class Http : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { srv = new TestServer(200); }
    static void TearDownTestSuite()
    {
        delete srv;
        srv = nullptr;
    }
    static TestServer *srv;

    // A raw request, for what the transport would never send.
    static httplib::Result raw(const std::string &path, const std::string &body,
                               const std::string &token = std::string())
    {
        httplib::Client c("127.0.0.1", srv->http->port());
        httplib::Headers h;
        if (!token.empty())
            h.emplace("Authorization", "Bearer " + token);
        return c.Post(path, h, body, "application/cbor");
    }

    static QCborArray call(Transport &t, const char *method, const QCborArray &params)
    {
        return t.callMethod(QString::fromLatin1(method), params);
    }
};
TestServer *Http::srv = nullptr;

int statusOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const ProtocolError &e) {
        return e.status();
    }
    return 200;
}

TEST_F(Http, LogOnChecksUserPasswordAndSite)
{
    struct Case
    {
        const char *site, *user, *password;
        int status;
        const char *text;
    } cases[] = {
        {"101", "001.zhang", "123456", 200, ""},
        {"101", "001.zhang", "wrong", 401, "用户名或密码错误"},
        {"101", "001.nobody", "123456", 401, "用户名或密码错误"},
        {"102", "001.zhang", "123456", 401, "网点编号与用户不符"},
        {"101", "", "123456", 401, "请输入用户名"},
        {"000", "DK", "123456", 401, "用户名或密码错误"},
    };
    for (const Case &c : cases) {
        Transport t(srv->options());
        QString text;
        int status = 200;
        try {
            const auto reply = t.openSession(TestServer::logOnRequest(
                QString::fromUtf8(c.site), QString::fromUtf8(c.user), QString::fromUtf8(c.password)));
            EXPECT_EQ(reply.user.value(QStringLiteral("LogOnSiteName")).toString(), QStringLiteral("上海浦东"));
            EXPECT_EQ(reply.user.value(QStringLiteral("sysid")).toString(), QStringLiteral("001"));
            EXPECT_EQ(reply.user.value(QStringLiteral("LogOnFinance")).toString(), QStringLiteral("上海中心"));
            EXPECT_GT(reply.expiresAt, QDateTime::currentSecsSinceEpoch());
        } catch (const ProtocolError &e) {
            status = e.status();
            text = e.message();
        }
        EXPECT_EQ(status, c.status) << c.user << "/" << c.password;
        EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.user;
    }

    Transport dk(srv->options());
    const auto reply = dk.openSession(TestServer::logOnRequest(QStringLiteral("000"), QStringLiteral("dk"),
                                                               QStringLiteral("123456")));
    EXPECT_EQ(reply.user.value(QStringLiteral("sysid")).toString(), QStringLiteral("dk"));
    EXPECT_EQ(reply.user.value(QStringLiteral("LogOnEmpName")).toString(), QStringLiteral("超级管理员"));

    // A finance-centre user is told so.
    auto li = srv->client(QStringLiteral("100"), QStringLiteral("001.li"));
    EXPECT_EQ(call(*li, "GetLstValue", {QStringLiteral("LogOnFinanceType")}).at(1).toString(),
              QStringLiteral("1"));
}

TEST_F(Http, RequestsWithoutAValidTokenAreRefused)
{
    const std::string echo = "/waylink/v1/call/TfrmServerMethods.EchoString";
    const std::string body = QCborValue(QCborArray{QStringLiteral("x")}).toCbor().toStdString();
    auto t = srv->client();
    const std::string good = t->token().toStdString();
    std::string forged = good;
    forged[forged.size() / 3] = forged[forged.size() / 3] == 'A' ? 'B' : 'A';
    // A token signed with another key.
    SessionInfo info;
    info.user = QStringLiteral("001.zhang");
    info.sysid = QStringLiteral("001");
    const std::string foreign =
        TokenSigner(QByteArray(32, 'k'), 3600).issue(info, QDateTime::currentSecsSinceEpoch()).toStdString();

    for (const std::string &token : {std::string(), std::string("garbage"), forged, foreign}) {
        for (const std::string &path : {echo, std::string("/waylink/v1/provider/dspPublic")}) {
            auto res = raw(path, body, token);
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 401) << path << " token " << token;
            EXPECT_FALSE(quillon::protocol::decodeError(QByteArray::fromStdString(res->body)).isEmpty());
        }
    }
    auto ok = raw(echo, body, good);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);

    Transport anonymous(srv->options());
    EXPECT_EQ(statusOf([&] { anonymous.callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}); }), 401);
}

TEST(Tokens, ExpireAndResistTampering)
{
    const TokenSigner signer(QByteArray(32, 's'), 60);
    SessionInfo info;
    info.user = QStringLiteral("001.zhang");
    info.sysid = QStringLiteral("001");
    info.siteName = QStringLiteral("上海浦东");
    const QString token = signer.issue(info, 1000);
    EXPECT_EQ(signer.verify(token, 1059).siteName, QStringLiteral("上海浦东"));
    EXPECT_THROW(signer.verify(token, 1060), AuthError);
    EXPECT_THROW(TokenSigner(QByteArray(32, 't'), 60).verify(token, 1000), AuthError);
    QString tampered = token;
    tampered[2] = tampered[2] == QLatin1Char('a') ? QLatin1Char('b') : QLatin1Char('a');
    EXPECT_THROW(signer.verify(tampered, 1000), AuthError);
    EXPECT_THROW(signer.verify(token.left(token.indexOf(QLatin1Char('.'))), 1000), AuthError);
}

TEST(HttpExpiry, AnExpiredTokenIsRefusedAndTheTransportLogsOnAgain)
{
    TestServer s(10, 1);
    auto t = s.client();
    const QString old = t->token();
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    Transport stale(s.options());
    stale.setToken(old);
    EXPECT_EQ(statusOf([&] { stale.callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}); }), 401);
    // The transport that knows the credentials renews its token once, transparently.
    EXPECT_EQ(t->callMethod(QStringLiteral("EchoString"), {QStringLiteral("x")}).at(1).toString(),
              QStringLiteral("x"));
    EXPECT_NE(t->token(), old);
}

TEST_F(Http, SimpleMethodsAndEvents)
{
    auto t = srv->client();
    EXPECT_EQ(call(*t, "EchoString", {QStringLiteral("公告 ok")}).at(1).toString(), QStringLiteral("公告 ok"));
    EXPECT_EQ(call(*t, "ReverseString", {QStringLiteral("ab网点😀")}).at(1).toString(),
              QStringLiteral("😀点网ba"));
    QCborMap sender;
    sender.insert(QStringLiteral("ClassName"), QStringLiteral("TDSServerModule"));
    EXPECT_EQ(call(*t, "DSServerModuleCreate", {QCborValue()}).size(), 1);
    EXPECT_EQ(call(*t, "DSServerModuleDestroy", {sender}).size(), 1);
    QCborMap owner;
    owner.insert(QStringLiteral("k"), 5);
    for (const char *m : {"dspPublicAfterGetRecords", "dspPublicBeforeGetRecords"})
        EXPECT_EQ(call(*t, m, {QCborValue(), owner}).at(1).toMap(), owner) << m;

    const QDateTime server = QDateTime::fromString(
        call(*t, "GetLstValue", {QStringLiteral("ServerTime")}).at(1).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    EXPECT_LE(qAbs(server.secsTo(QDateTime::currentDateTime())), 2);
    EXPECT_EQ(call(*t, "GetLstValue", {QStringLiteral("logonsitename")}).at(1).toString(), QStringLiteral("上海浦东"));
    EXPECT_TRUE(call(*t, "GetLstValue", {QStringLiteral("")}).at(1).toString().contains(QStringLiteral("LogOnEmpName=马超")));
    EXPECT_EQ(call(*t, "GetLstValue", {QStringLiteral("NoSuchValue")}).at(1).toString(), QString());

    const QCborArray data = call(*t, "GetData", {QStringLiteral("select SiteName from tab_Site where SiteCode='101' and sysid='001'"), 1});
    const quillon::DataPacket p = quillon::DataPacket::fromBinary(data.at(2).toByteArray());
    ASSERT_EQ(p.rows.size(), 1);
    EXPECT_EQ(p.fields.at(0).name, QStringLiteral("SITENAME"));
    EXPECT_EQ(p.rows.at(0).at(0).toString(), QStringLiteral("上海浦东"));

    // Wrong calls are refused with a reason.
    EXPECT_EQ(statusOf([&] { call(*t, "NoSuchMethod", {}); }), 404);
    EXPECT_EQ(statusOf([&] { call(*t, "EchoString", {}); }), 400);
    EXPECT_EQ(statusOf([&] { call(*t, "EchoString", {42}); }), 400);
    EXPECT_EQ(statusOf([&] { call(*t, "GetData", {QStringLiteral("select * from no_table"), 1}); }), 400);
    EXPECT_EQ(statusOf([&] { call(*t, "GetData", {QStringLiteral("delete from tab_Site"), 1}); }), 403);
    EXPECT_EQ(statusOf([&] { call(*t, "MyUpDownFile", {QStringLiteral("a.txt"), QByteArray(), QCborValue(), 7}); }), 400);
}

TEST_F(Http, FilesTravelBothWaysInsideTheArea)
{
    auto t = srv->client();
    QByteArray blob(70000, '\0');
    for (int i = 0; i < blob.size(); ++i)
        blob[i] = char(i * 7);
    const QString path = QStringLiteral("notice\\20261207\\20261207101010_{ABC}.rtf");
    EXPECT_TRUE(call(*t, "MyUpDownFile", {path, blob, QCborValue(), 0}).at(4).toBool());
    QCborArray down = call(*t, "MyUpDownFile", {path, QByteArray(), QCborValue(), 1});
    EXPECT_TRUE(down.at(4).toBool());
    EXPECT_EQ(down.at(2).toByteArray(), blob);
    QFile onDisk(srv->dir.filePath(QStringLiteral("files/001/notice/20261207/20261207101010_{ABC}.rtf")));
    EXPECT_TRUE(onDisk.exists());

    // An empty file is a file; a missing one is "false" with nothing.
    EXPECT_TRUE(call(*t, "MyUpDownFile", {QStringLiteral("empty.txt"), QByteArray(), QCborValue(), 0}).at(4).toBool());
    down = call(*t, "MyUpDownFile", {QStringLiteral("empty.txt"), QByteArray(), QCborValue(), 1});
    EXPECT_TRUE(down.at(4).toBool());
    EXPECT_TRUE(down.at(2).toByteArray().isEmpty());
    down = call(*t, "MyUpDownFile", {QStringLiteral("MSGData\\missing.rtf"), QByteArray(), QCborValue(), 1});
    EXPECT_FALSE(down.at(4).toBool());

    EXPECT_TRUE(call(*t, "UploadByStream", {QStringLiteral("up/stream.bin"), blob}).at(2).toBool());
    EXPECT_EQ(call(*t, "DownloadByStream", {QStringLiteral("up\\stream.bin")}).at(1).toByteArray(), blob);
    EXPECT_EQ(statusOf([&] { call(*t, "DownloadByStream", {QStringLiteral("up\\none.bin")}); }), 404);

    const QString list = call(*t, "GetLstFile", {QStringLiteral("notice")}).at(1).toString();
    EXPECT_EQ(list, QStringLiteral("20261207\\20261207101010_{ABC}.rtf"));
    const QString ver = call(*t, "GetFileVer", {QStringLiteral("up\\stream.bin")}).at(1).toString();
    EXPECT_TRUE(ver.endsWith(QStringLiteral("|70000"))) << qPrintable(ver);
    EXPECT_EQ(call(*t, "GetFileVer", {QStringLiteral("up\\nothing")}).at(1).toString(), QString());
}

TEST_F(Http, PathsLeavingTheAreaAreRefused)
{
    auto t = srv->client();
    // A link inside the area that points outside it.
    const QString outside = srv->dir.filePath(QStringLiteral("outside"));
    QDir().mkpath(outside);
    QDir().mkpath(srv->dir.filePath(QStringLiteral("files/001"))); // the area of deployment 001
    ASSERT_TRUE(QFile::link(outside, srv->dir.filePath(QStringLiteral("files/001/link"))));
    const char *bad[] = {"..\\secret.txt", "a\\..\\..\\secret.txt", "C:\\Windows\\win.ini",
                         "/etc/passwd", "\\\\server\\share\\x", "a/../../x", "link\\x.txt",
                         "c:secret.txt", ".."};
    for (const char *p : bad) {
        const QString path = QString::fromUtf8(p);
        EXPECT_EQ(statusOf([&] { call(*t, "MyUpDownFile", {path, QByteArray("x"), QCborValue(), 0}); }), 403) << p;
        EXPECT_EQ(statusOf([&] { call(*t, "MyUpDownFile", {path, QByteArray(), QCborValue(), 1}); }), 403) << p;
        EXPECT_EQ(statusOf([&] { call(*t, "UploadByStream", {path, QByteArray("x")}); }), 403) << p;
        EXPECT_EQ(statusOf([&] { call(*t, "DownloadByStream", {path}); }), 403) << p;
        EXPECT_EQ(statusOf([&] { call(*t, "GetLstFile", {path}); }), 403) << p;
    }
    EXPECT_FALSE(QFile::exists(srv->dir.filePath(QStringLiteral("secret.txt"))));
    EXPECT_FALSE(QFile::exists(outside + QStringLiteral("/x.txt")));
}

TEST_F(Http, MalformedBodiesAreRefusedAndTheServerCarriesOn)
{
    auto t = srv->client();
    const std::string token = t->token().toStdString();
    const std::string call = "/waylink/v1/call/TfrmServerMethods.EchoString";
    const std::string cbor = QCborValue(QCborArray{QStringLiteral("x")}).toCbor().toStdString();
    struct Case
    {
        std::string path, body;
    } cases[] = {
        {call, "\xff\xff\xff"},
        {call, cbor.substr(0, cbor.size() - 1)},          // truncated
        {call, cbor + "\x01"},                            // trailing byte
        {call, ""},
        {call, QCborValue(QCborMap()).toCbor().toStdString()}, // a map, not an array
        {"/waylink/v1/provider/dspPublic", "\x9f"},       // unterminated indefinite array
        {"/waylink/v1/provider/dspPublic", QCborValue(QCborArray{1}).toCbor().toStdString()},
        {"/waylink/v1/session", "\xa1\x61"},
        {"/waylink/v1/session", QCborValue(42).toCbor().toStdString()},
    };
    for (const Case &c : cases) {
        auto res = raw(c.path, c.body, token);
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->status, 400) << c.path << " body size " << c.body.size();
    }
    EXPECT_EQ(raw("/waylink/v1/provider/other", cbor, token)->status, 404);
    EXPECT_EQ(raw("/waylink/v1/call/Other.EchoString", cbor, token)->status, 404);
    EXPECT_EQ(raw("/nothing", cbor, token)->status, 404);
    EXPECT_EQ(t->callMethod(QStringLiteral("EchoString"), {QStringLiteral("still here")}).at(1).toString(),
              QStringLiteral("still here"));
}

TEST_F(Http, ParallelClientsAreServed)
{
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&ok, k] {
            auto t = srv->client();
            for (int i = 0; i < 25; ++i) {
                const QString v = QStringLiteral("%1-%2").arg(k).arg(i);
                if (t->callMethod(QStringLiteral("EchoString"), {v}).at(1).toString() == v
                    && query(*t, QStringLiteral("select count(*) from tab_Site where sysid='001'")).rows.size() == 1)
                    ++ok;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(ok.load(), 100);
}

} // namespace

namespace {

TEST(HttpTls, SessionsAndCallsRunOverTls)
{
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        GTEST_SKIP() << "openssl cannot make a test certificate";

    const QString db = testDatabase(dir, QStringLiteral("tls.sqlite"));
    auto backend = Backend::open(db, true);
    {
        auto c = backend->acquireForServer();
        createSchema(*c);
        SeedOptions o;
        o.waybills = 5;
        o.fastHash = true;
        seedDemo(*c, o);
    }
    ServerOptions so;
    so.port = 0;
    so.quiet = true;
    so.certFile = cert;
    so.keyFile = key;
    HttpServer http(*backend, dir.filePath(QStringLiteral("files")), so);
    http.start();

    Transport::Options o;
    o.host = QStringLiteral("127.0.0.1");
    o.port = http.port();
    o.tls = true;
    o.caCertFile = cert;
    Transport t(o);
    t.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456")));
    EXPECT_EQ(t.callMethod(QStringLiteral("EchoString"), {QStringLiteral("secret")}).at(1).toString(),
              QStringLiteral("secret"));

    // Plain HTTP to the TLS port gets no answer; an untrusted certificate is refused.
    o.tls = false;
    Transport plain(o);
    EXPECT_EQ(statusOf([&] { plain.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"))); }), 0);
    o.tls = true;
    o.caCertFile = dir.filePath(QStringLiteral("missing.pem"));
    Transport untrusted(o);
    EXPECT_EQ(statusOf([&] { untrusted.openSession(TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"))); }), 0);
}

} // namespace

namespace {

TEST(HttpOptions, GzipAnswersAndTheRequestLog)
{
    QTemporaryDir dir;
    auto backend = Backend::open(testDatabase(dir, QStringLiteral("g.sqlite")), true);
    {
        auto c = backend->acquireForServer();
        createSchema(*c);
        SeedOptions o;
        o.waybills = 300;
        o.fastHash = true;
        seedDemo(*c, o);
    }
    ServerOptions so;
    so.port = 0;
    so.gzip = true;
    so.logFile = dir.filePath(QStringLiteral("server.log"));
    HttpServer http(*backend, dir.filePath(QStringLiteral("files")), so);
    http.start();

    Transport::Options o;
    o.host = QStringLiteral("127.0.0.1");
    o.port = http.port();
    Transport t(o);
    // Head-office finance reads every account line (a site's finance only its own).
    const auto logOn = TestServer::logOnRequest(QStringLiteral("100"), QStringLiteral("001.li"), QStringLiteral("123456"));
    t.openSession(logOn);
    const QString sql = QStringLiteral("select * from TAB_ACCOUNT order by BILLCODE, STATIONCODE");
    const QByteArray zipped = t.provider(sql);

    // The raw answer is compressed; the transport hands back the same packet as unzipped.
    httplib::Client raw("127.0.0.1", http.port());
    raw.set_decompress(false);
    httplib::Headers h{{"Authorization", "Bearer " + t.token().toStdString()}, {"Accept-Encoding", "gzip"}};
    const QByteArray body = quillon::protocol::encodeProviderRequest(sql, QCborValue());
    auto res = raw.Post("/waylink/v1/provider/dspPublic", h, body.constData(), size_t(body.size()), "application/cbor");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("Content-Encoding"), "gzip");
    EXPECT_LT(res->body.size(), size_t(zipped.size()) / 2);

    o.gzip = false;
    Transport plain(o);
    plain.openSession(logOn);
    EXPECT_EQ(plain.provider(sql), zipped);
    EXPECT_EQ(quillon::DataPacket::fromBinary(zipped).rows.size(),
              srv_rows(*backend, QStringLiteral("select count(*) from TAB_ACCOUNT")));

    try {
        t.callMethod(QStringLiteral("DownloadByStream"), {QStringLiteral("..\\x")});
    } catch (const ProtocolError &) {
    }
    t.disconnect();
    plain.disconnect();
    raw.stop();
    http.stop();
    QFile log(so.logFile);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("session user=001.li"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("status=200")));
    EXPECT_TRUE(text.contains(QStringLiteral("DownloadByStream user=001.li")));
    EXPECT_TRUE(text.contains(QStringLiteral("status=403 error=path refused")));
    EXPECT_TRUE(text.contains(QStringLiteral("ms ")));
}

} // namespace

namespace {

TEST_F(Http, ReopeningWithUnchangedCredentialsNeedsNoNewLogOn)
{
    Transport t(srv->options());
    auto request = TestServer::logOnRequest(QStringLiteral("101"), QStringLiteral("001.zhang"), QStringLiteral("123456"));
    EXPECT_TRUE(t.ensureSession(request));
    const QString token = t.token();
    EXPECT_FALSE(t.ensureSession(request));
    EXPECT_EQ(t.token(), token);
    EXPECT_EQ(t.lastSession().user.value(QStringLiteral("LogOnEmpName")).toString(), QStringLiteral("马超"));
    request.authenticationPassword = QStringLiteral("changed");
    EXPECT_EQ(statusOf([&] { t.ensureSession(request); }), 401);
}

} // namespace
