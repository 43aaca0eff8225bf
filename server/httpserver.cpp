#include "server/httpserver.h"

#include "dataaccess/protocol/protocol.h"
#include "host/errors.h"
#include "server/admin.h"
#include "server/applydata.h"
#include "server/checks.h"
#include "server/methods.h"
#include "server/provider.h"
#include "server/servererror.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <arpa/inet.h>
#include <QElapsedTimer>
#include <optional>
#include <zlib.h>

namespace server {

using namespace quillon::protocol;

namespace {

const std::string kCallPrefix = "/waylink/v1/call/";

bool startsWith(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// "16 KB", "1 MB", "1.5 MB".
QString sizeText(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    return QStringLiteral("%1 MB").arg(QString::number(double(bytes) / (1024.0 * 1024.0), 'g', 3));
}

QString tooLargeText(qint64 limit)
{
    return QStringLiteral("提交的数据太大（此功能一次最多 %1），请分批提交或缩小附件后重试。")
        .arg(sizeText(limit));
}

} // namespace

QString refusalText(int status)
{
    return standardRefusalText(status);
}

QString databaseUnavailableText()
{
    return QStringLiteral("数据库暂时无法访问（可能正在切换到备用服务器），本次操作没有完成，"
                          "请稍等几秒后重试；持续出现时请联系系统管理员。");
}

namespace {

void answerError(HttpResponse &res, int status, const QString &text, const QString &kind = QString())
{
    res.status = status;
    const QByteArray body = encodeError(text, kind);
    res.body.assign(body.constData(), size_t(body.size()));
    res.contentType = kCborType;
}

void answerCbor(HttpResponse &res, const QCborValue &value)
{
    const QByteArray body = value.toCbor();
    res.status = 200;
    res.body.assign(body.constData(), size_t(body.size()));
    res.contentType = kCborType;
}

// gzip of a large answer when the client accepts it; level 1, the network is the cost.
void maybeCompress(const HttpRequest &req, HttpResponse &res, bool enabled)
{
    constexpr size_t kThreshold = 64 * 1024;
    if (!enabled || res.body.size() < kThreshold
        || req.header("accept-encoding").find("gzip") == std::string::npos)
        return;
    z_stream zs{};
    if (deflateInit2(&zs, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    std::string out;
    out.resize(deflateBound(&zs, uLong(res.body.size())));
    zs.next_in = reinterpret_cast<Bytef *>(res.body.data());
    zs.avail_in = uInt(res.body.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    const size_t produced = zs.total_out;
    deflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return;
    out.resize(produced);
    res.body = std::move(out);
    res.headers.emplace_back("Content-Encoding", "gzip");
}

// A gzip (or zlib) body inflated piece by piece; past `cap` bytes it is refused before
// more memory is taken.
QByteArray inflateCapped(const std::string &packed, qint64 cap)
{
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 32) != Z_OK)
        throw ServerError(500, refusalText(500), QStringLiteral("cannot start inflating the body"));
    QByteArray out;
    char chunk[64 * 1024];
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
    zs.avail_in = uInt(packed.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        zs.next_out = reinterpret_cast<Bytef *>(chunk);
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&zs);
            throw ServerError(400, QStringLiteral("提交的数据在传输中损坏，请重试。"),
                          QStringLiteral("the compressed body is damaged"));
        }
        const qsizetype produced = qsizetype(sizeof chunk - zs.avail_out);
        if (out.size() + produced > cap) {
            inflateEnd(&zs);
            throw ServerError(413, tooLargeText(cap),
                          QStringLiteral("request body too large once inflated: this route "
                                         "takes at most %1 bytes")
                              .arg(cap));
        }
        out.append(chunk, produced);
        if (rc == Z_OK && zs.avail_in == 0 && produced == 0) {
            inflateEnd(&zs);
            throw ServerError(400, QStringLiteral("提交的数据在传输中损坏，请重试。"),
                          QStringLiteral("the compressed body is cut short"));
        }
    }
    inflateEnd(&zs);
    return out;
}

} // namespace

HttpServer::HttpServer(Backend &backend, const QString &filesRoot, const ServerOptions &options)
    : m_backend(backend)
    , m_files(filesRoot == QLatin1String(kFilesInDatabase) ? FileAreas(backend) : FileAreas(filesRoot))
    , m_options(options)
    , m_log(options.logFile)
    , m_generations(backend)
    , m_statements(options.statementsPerUser, std::chrono::milliseconds(options.statementWaitMs))
    , m_throttle(backend, options.logOnThrottle)
{
    m_log.quiet = options.quiet;
    if (filesRoot == QLatin1String(kFilesInDatabase)
        && !backend.describe().startsWith(QLatin1String("PostgreSQL")))
        throw std::runtime_error("file areas in the database need PostgreSQL; with SQLite give "
                                 "a folder to --files");
    m_backend.setAnswerLimit({options.maxAnswerRows, options.maxAnswerBytes});
    {
        auto conn = m_backend.acquireForServer();
        m_signer = std::make_unique<TokenSigner>(tokenKey(*conn), options.tokenTtl);
    }
    ListenerOptions lo;
    lo.address = options.listen.toStdString();
    lo.port = options.port;
    lo.workers = std::max(1, options.threads);
    lo.ioThreads = options.ioThreads;
    lo.certFile = options.certFile.toStdString();
    lo.keyFile = options.keyFile.toStdString();
    lo.headerTimeoutMs = options.headerTimeoutMs;
    lo.idleTimeoutMs = options.idleTimeoutMs;
    lo.bodyTimeoutMs = options.bodyTimeoutMs;
    lo.connectionsPerAddress = options.connectionsPerAddress;
    m_listener = std::make_unique<HttpListener>(static_cast<HttpHandler &>(*this), lo);
}

HttpServer::~HttpServer()
{
    stop();
}

// Limits checked on the header alone, before a body is read: its declared size, the
// encoding, and the token of every route but the session (a caller without one never
// gets to send a large body). Conflicting lengths the listener's parser refuses itself.
std::optional<HttpResponse> HttpServer::onHeader(const HttpRequest &req, long long *bodyLimit)
{
    try {
        checkHeader(req);
        const RouteRule *route = findRoute(req.method, req.path);
        if (req.method == "POST" && (!route || route->need != Need::Anyone))
            verifyToken(req);
        *bodyLimit = m_options.bodies.forPath(req.path);
        return std::nullopt;
    } catch (const ServerError &e) {
        return refuse(req, e.status(), e.reason(), e.userText());
    } catch (const AuthError &e) {
        return refuse(req, 401, e.message(), e.message());
    }
}

HttpResponse HttpServer::refuse(const HttpRequest &req, int status, const QString &why)
{
    return refuse(req, status, why, refusalText(status));
}

HttpResponse HttpServer::refuse(const HttpRequest &req, int status, const QString &why,
                                const QString &userText)
{
    HttpResponse res;
    answerError(res, status, userText);
    QString what = QString::fromStdString(req.path);
    if (what.isEmpty())
        what = QStringLiteral("connection from %1").arg(QString::fromStdString(req.remoteAddress));
    m_log.write(what, QString(), 0, status, why);
    return res;
}

void HttpServer::checkHeader(const HttpRequest &req) const
{
    const std::string encoding = req.header("content-encoding");
    if (!encoding.empty() && encoding != "identity" && encoding != "gzip")
        throw ServerError(415, refusalText(415),
                      QStringLiteral("request bodies are accepted plain or gzip-compressed, not %1")
                          .arg(QString::fromStdString(encoding)));
    const qint64 limit = m_options.bodies.forPath(req.path);
    const std::string text = req.header("content-length");
    if (!text.empty()) {
        if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18)
            throw ServerError(400, refusalText(400), QStringLiteral("bad Content-Length"));
        const qint64 length = std::stoll(text);
        if (length > limit)
            throw ServerError(413, tooLargeText(limit),
                          QStringLiteral("request body too large: %1 bytes, this route takes "
                                         "at most %2")
                              .arg(length)
                              .arg(limit));
    }
}

SessionInfo HttpServer::verifyToken(const HttpRequest &req) const
{
    const std::string header = req.header("authorization");
    static const std::string prefix = "Bearer ";
    if (!startsWith(header, prefix))
        throw AuthError(QStringLiteral("no session: log on first"));
    return m_signer->verifyRemembered(header.substr(prefix.size()), QDateTime::currentSecsSinceEpoch());
}

namespace {
// A request begun on the event loop that needs a worker after all.
struct NeedsWorker
{
};

// Server methods that touch neither the database nor the files and take little time: run
// on the event loop that read them. Larger or compressed bodies go to a worker.
bool runsOnLoop(const HttpRequest &req)
{
    static const std::string prefix = kCallPrefix + kServerClass + ".";
    static const std::string methods[] = {"EchoString",           "ReverseString",
                                          "GetLstValue",          "DSServerModuleCreate",
                                          "DSServerModuleDestroy", "dspPublicAfterGetRecords",
                                          "dspPublicBeforeGetRecords"};
    constexpr size_t kMaxBody = 64 * 1024;
    if (req.method != "POST" || req.body.size() > kMaxBody || !startsWith(req.path, prefix))
        return false;
    const std::string_view method = std::string_view(req.path).substr(prefix.size());
    if (std::find(std::begin(methods), std::end(methods), method) == std::end(methods))
        return false;
    const std::string encoding = req.header("content-encoding");
    return encoding.empty() || encoding == "identity";
}
} // namespace

SessionInfo HttpServer::authenticate(const HttpRequest &req, bool onLoop)
{
    SessionInfo session = verifyToken(req);
    // A password change, disabling or deleting the user since the log-on.
    if (!onLoop)
        m_generations.check(session);
    else if (!m_generations.checkFromMemory(session))
        throw NeedsWorker();
    return session;
}

QByteArray HttpServer::requestBody(const HttpRequest &req) const
{
    if (req.header("content-encoding") == "gzip")
        return inflateCapped(req.body, m_options.bodies.forPath(req.path));
    return QByteArray(req.body.data(), qsizetype(req.body.size()));
}

HttpResponse HttpServer::handle(HttpRequest &req)
{
    return *serve(req, false);
}

bool HttpServer::handleInline(HttpRequest &req, HttpResponse &res)
{
    if (!runsOnLoop(req))
        return false;
    std::optional<HttpResponse> answer = serve(req, true);
    if (!answer)
        return false;
    res = std::move(*answer);
    return true;
}

std::optional<HttpResponse> HttpServer::serve(HttpRequest &req, bool onLoop)
{
    // Token generations bumped by this request are forgotten again once it has finished.
    const TokenGenerations::Serving serving(m_generations);
    QElapsedTimer timer;
    timer.start();
    HttpResponse res;
    // Every route and what it needs: routeRules() in server/checks.h.
    const RouteRule *route = findRoute(req.method, req.path);
    if (route && req.path == kHealthPath) {
        health(res); // not logged: the balancer asks every second or two
        return res;
    }
    struct Running
    {
        std::atomic<int> &n;
        explicit Running(std::atomic<int> &c) : n(c) { ++n; }
        ~Running() { --n; }
    } running(m_running);
    QString what = QStringLiteral("request");
    QString user;
    QString error;
    try {
        if (!route) {
            what = QString::fromStdString(req.path);
            throw ProtocolError(404, QStringLiteral("no such route"));
        }
        what = QString::fromLatin1(route->name);
        const QString rest = route->prefix
                                 ? QString::fromStdString(req.path.substr(std::strlen(route->path)))
                                 : QString();
        if (route->need == Need::Anyone) {
            session(req, res, what, user);
        } else {
            const SessionInfo caller = authenticate(req, onLoop);
            user = caller.user;
            if (route->path == std::string_view("/waylink/v1/provider/"))
                provider(req, caller, rest, res, what);
            else if (route->path == std::string_view("/waylink/v1/call/"))
                call(req, caller, rest, res, what);
            else
                admin(req, caller, rest, res, what);
        }
    } catch (const NeedsWorker &) {
        return std::nullopt;
    } catch (const ServerError &e) {
        error = e.reason();
        answerError(res, e.status(), e.userText(), e.kind());
    } catch (const AnswerTooLarge &e) {
        error = e.message();
        answerError(res, 413, error);
    } catch (const ProtocolError &e) {
        error = e.message();
        const int status = e.status() ? e.status() : 400;
        answerError(res, status, refusalText(status));
    } catch (const AuthError &e) {
        error = e.message();
        answerError(res, 401, error);
    } catch (const ClientRefusal &e) {
        error = e.message();
        answerError(res, 403, error);
    } catch (const AccessDenied &e) {
        // The engine refused the statement: the reason goes to the log.
        error = e.message();
        answerError(res, 403, QStringLiteral("查询被拒绝：语句读取了您无权查看的数据（或不允许的操作）。"
                                             "请只查询您的功能所用的数据表，如需更多权限请联系系统管理员。"));
    } catch (const DbUnavailable &e) {
        // Lost primary or a failover under way: nothing of this request was committed (or
        // its ApplyData outcome is stored under its request id); the client may retry.
        error = e.message();
        answerError(res, 503, databaseUnavailableText());
        res.headers.emplace_back("Retry-After", "2");
    } catch (const DbError &e) {
        error = e.message();
        answerError(res, 400, error);
    } catch (const quillon::PacketError &e) {
        error = QString::fromUtf8(e.what());
        answerError(res, 400, refusalText(400));
    } catch (const ResponseStream::StreamGone &e) {
        // Nobody is left to answer; logged as "client closed request".
        error = QString::fromUtf8(e.what());
        res.status = 499;
        res.streamed = true;
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
        answerError(res, 500, refusalText(500));
    } catch (...) {
        error = QStringLiteral("internal error");
        answerError(res, 500, refusalText(500));
    }
    if (!res.streamed && req.stream && req.stream->begun()) {
        // The rows of a streamed answer went out already: the failure goes into the packet,
        // which the client's reader then raises as the error it is (never a short answer).
        const QString text = QCborValue::fromCbor(QByteArray::fromStdString(res.body))
                                 .toMap()
                                 .value(QStringLiteral("error"))
                                 .toString();
        try {
            const QByteArray end = quillon::BinaryPacketWriter::streamError(res.status, text);
            req.stream->write(end);
        } catch (const std::exception &) {
            // the client has gone
        }
        res.streamed = true;
    }
    m_log.write(what, user, double(timer.nsecsElapsed()) / 1e6, res.status, error);
    if (m_draining)
        res.close = true; // the client's next request goes to another server
    return res;
}

void HttpServer::session(const HttpRequest &req, HttpResponse &res, QString &what, QString &user)
{
    const QCborValue v = decodeBody(requestBody(req));
    if (!v.isMap())
        throw ProtocolError(400, QStringLiteral("session request must be a CBOR map"));
    const SessionRequest request = SessionRequest::fromCbor(v.toMap());
    user = AuthUser::split(request.authenticationUser).userName;
    if (user.isEmpty())
        user = request.userName;
    user = user.trimmed();
    const QString address = QString::fromStdString(req.remoteAddress);
    waitOutThrottle(user, address);
    SessionInfo info;
    try {
        auto conn = m_backend.acquireForServer();
        info = logOn(*conn, request);
    } catch (const AuthError &) {
        m_throttle.failed(user, address);
        throw;
    }
    m_throttle.succeeded(user);
    SessionReply reply;
    reply.token = m_signer->issue(info, QDateTime::currentSecsSinceEpoch());
    reply.expiresAt = info.expiresAt;
    reply.user = info.toUserMap();
    what = QStringLiteral("session");
    answerCbor(res, reply.toCbor());
}

void HttpServer::provider(const HttpRequest &req, const SessionInfo &session, const QString &name,
                          HttpResponse &res, QString &what)
{
    if (name != QLatin1String(kProviderName))
        throw ProtocolError(404, QStringLiteral("unknown provider: %1").arg(name));
    QString commandText;
    QCborValue params;
    decodeProviderRequest(requestBody(req), &commandText, &params);
    what = QStringLiteral("provider ") + commandText.simplified().left(80);
    // A large answer goes out while its rows are stepped, to a client that reads it so and
    // when it is not to be compressed: the client decodes while the server steps.
    const bool gzip = m_options.gzip && req.header("accept-encoding").find("gzip") != std::string::npos;
    ResponseStream *stream = req.stream && req.header(kPacketStreamHeader) == "1" && !gzip ? req.stream : nullptr;
    struct Out : Connection::PacketOutput
    {
        HttpResponse &res;
        ResponseStream *stream;
        Out(HttpResponse &r, ResponseStream *s) : res(r), stream(s) {}
        void whole(QByteArray packet) override { res.body.assign(packet.constData(), size_t(packet.size())); }
        void piece(QByteArray bytes) override
        {
            if (!stream->begun()) {
                HttpResponse head;
                head.status = 200;
                head.contentType = kPacketType;
                stream->begin(head);
            }
            stream->write(std::move(bytes));
        }
    } out(res, stream);
    {
        const auto slot = m_statements.take(session.user);
        runClientQueryStream(m_backend, session, commandText, params, out, stream ? qsizetype(std::max<qint64>(1, m_options.streamAnswersFrom)) : -1);
    }
    res.status = 200;
    res.contentType = kPacketType;
    if (stream && stream->begun()) {
        res.streamed = true;
        return;
    }
    maybeCompress(req, res, m_options.gzip);
}

void HttpServer::call(const HttpRequest &req, const SessionInfo &session, const QString &full,
                      HttpResponse &res, QString &what)
{
    what = full;
    const QString prefix = QLatin1String(kServerClass) + QLatin1Char('.');
    if (!full.startsWith(prefix))
        throw ServerError::technical(404, QStringLiteral("unknown server class in %1").arg(full));
    const QString method = full.mid(prefix.size());
    what = method;
    const QCborValue v = decodeBody(requestBody(req));
    if (!v.isArray())
        throw ProtocolError(400, QStringLiteral("parameters must be a CBOR array"));
    MethodContext ctx{m_backend, m_files, session, clientAddress(req),
                      QString::fromStdString(req.header(kRequestIdHeader))};
    std::optional<UserStatements::Slot> slot;
    if (method == QLatin1String("GetData") || method == QLatin1String("ApplyData"))
        slot.emplace(m_statements.take(session.user));
    answerCbor(res, callServerMethod(ctx, method, v.toArray()));
    maybeCompress(req, res, m_options.gzip);
}

void HttpServer::admin(const HttpRequest &req, const SessionInfo &session, const QString &call,
                       HttpResponse &res, QString &what)
{
    what = QStringLiteral("admin ") + call;
    const QCborValue v = decodeBody(requestBody(req));
    if (!v.isMap())
        throw ProtocolError(400, QStringLiteral("arguments must be a CBOR map"));
    // The old password of ChangePassword is a password guess like a log-on: counted and
    // slowed down by the same throttle, so a stolen token cannot try passwords at speed.
    const QString address = clientAddress(req);
    if (call.trimmed() != QLatin1String("ChangePassword")) {
        answerCbor(res, callAdmin(m_backend, session, call, v.toMap(), address));
        return;
    }
    waitOutThrottle(session.user, address);
    try {
        answerCbor(res, callAdmin(m_backend, session, call, v.toMap(), address));
    } catch (const ServerError &e) {
        if (e.status() == 403)
            m_throttle.failed(session.user, address);
        throw;
    }
    m_throttle.succeeded(session.user);
}

namespace {
bool isIpAddress(const QString &text)
{
    const QByteArray a = text.toLatin1();
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, a.constData(), buffer) == 1
           || inet_pton(AF_INET6, a.constData(), buffer) == 1;
}

QString plainAddress(QString a)
{
    a = a.trimmed();
    if (a.startsWith(QLatin1String("::ffff:")) && a.contains(QLatin1Char('.')))
        a = a.mid(7);
    return a;
}
} // namespace

QString clientAddressOf(const std::string &peer, const std::vector<std::string> &forwardedFor,
                        const QStringList &trustedProxies)
{
    const QString direct = plainAddress(QString::fromStdString(peer));
    if (!trustedProxies.contains(direct))
        return direct;
    QStringList hops;
    for (const std::string &header : forwardedFor)
        hops += QString::fromStdString(header).split(QLatin1Char(','), Qt::SkipEmptyParts);
    // The proxies append, so the nearest hop is the last one; a client may have put
    // anything before it.
    for (auto it = hops.crbegin(); it != hops.crend(); ++it) {
        const QString hop = plainAddress(*it);
        if (!isIpAddress(hop))
            break;
        if (!trustedProxies.contains(hop))
            return hop;
    }
    return direct;
}

QString HttpServer::clientAddress(const HttpRequest &req) const
{
    if (m_options.trustedProxies.isEmpty())
        return plainAddress(QString::fromStdString(req.remoteAddress));
    std::vector<std::string> forwarded;
    for (const auto &[name, value] : req.headers)
        if (QByteArray::fromStdString(name).compare("x-forwarded-for", Qt::CaseInsensitive) == 0)
            forwarded.push_back(value);
    return clientAddressOf(req.remoteAddress, forwarded, m_options.trustedProxies);
}

// 200 "ok" while the database answers and the server is not stopping; 503 otherwise, so
// that the balancer sends no new work here.
void HttpServer::health(HttpResponse &res)
{
    res.contentType = "text/plain; charset=utf-8";
    if (m_draining) {
        res.status = 503;
        res.body = "draining\n";
    } else if (!m_backend.reachable()) {
        res.status = 503;
        res.body = "database unreachable\n";
    } else {
        res.status = 200;
        res.body = "ok\n";
    }
    res.headers.emplace_back("Cache-Control", "no-store");
}

void HttpServer::waitOutThrottle(const QString &user, const QString &address)
{
    const auto wait = m_throttle.waitFor(user, address);
    if (wait.count() <= 0)
        return;
    const int allowed = m_options.logOnWaiting > 0 ? m_options.logOnWaiting
                                                   : std::max(1, m_options.threads / 2);
    if (m_logOnWaiting.fetch_add(1) >= allowed) {
        m_logOnWaiting.fetch_sub(1);
        throw ServerError(429, QStringLiteral("登录尝试过多，请 %1 秒后再试")
                                  .arg((wait.count() + 999) / 1000));
    }
    std::this_thread::sleep_for(wait);
    m_logOnWaiting.fetch_sub(1);
}

int HttpServer::bind()
{
    m_port = m_listener->bind();
    m_log.note(QStringLiteral("waylink-server listening on %1:%2 (%3, %4)")
                   .arg(m_options.listen)
                   .arg(m_port)
                   .arg(m_backend.describe(), m_files.root()));
    return m_port;
}

void HttpServer::run()
{
    m_generations.startRefreshing();
    m_listener->run();
}

void HttpServer::start()
{
    bind();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::thread([this, finished] {
        run();
        *finished = true;
    });
    while (!m_listener->running()) {
        if (*finished)
            throw std::runtime_error("the server stopped at once");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int HttpServer::drain(std::chrono::milliseconds grace)
{
    m_draining = true;
    if (m_listener)
        m_listener->stopAccepting();
    m_log.note(QStringLiteral("waylink-server stopping: %1 requests running").arg(m_running.load()));
    const auto until = std::chrono::steady_clock::now() + grace;
    while (m_running.load() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int left = m_running.load();
    // The last answers are still being written: connections close after their answer while
    // draining, idle kept-alive ones stay until their idle time; up to two seconds more.
    const auto flushed = std::min(until, std::chrono::steady_clock::now() + std::chrono::seconds(2));
    while (left == 0 && m_listener && m_listener->openConnections() > 0
           && std::chrono::steady_clock::now() < flushed)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop();
    return left;
}

void HttpServer::stop()
{
    if (m_listener)
        m_listener->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_log.flush(); // a stopped server's log is complete on disk
}

} // namespace server
