#include "server/httpserver.h"

#include "dataaccess/protocol/protocol.h"
#include "server/applydata.h"
#include "server/methods.h"
#include "server/provider.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <optional>
#include <httplib.h>
#include <zlib.h>

namespace server {

using namespace quillon::protocol;

namespace {

void answerError(httplib::Response &res, int status, const QString &text)
{
    res.status = status;
    const QByteArray body = encodeError(text);
    res.set_content(body.constData(), size_t(body.size()), kCborType);
}

void answerCbor(httplib::Response &res, const QCborValue &value)
{
    const QByteArray body = value.toCbor();
    res.status = 200;
    res.set_content(body.constData(), size_t(body.size()), kCborType);
}

// gzip of a large answer when the client accepts it; level 1, the network is the cost.
void maybeCompress(const httplib::Request &req, httplib::Response &res, bool enabled)
{
    constexpr size_t kThreshold = 64 * 1024;
    if (!enabled || res.body.size() < kThreshold
        || req.get_header_value("Accept-Encoding").find("gzip") == std::string::npos)
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
    res.set_header("Content-Encoding", "gzip");
}

QByteArray bodyOf(const httplib::Request &req)
{
    return QByteArray(req.body.data(), qsizetype(req.body.size()));
}

} // namespace

HttpServer::HttpServer(Backend &backend, const QString &filesRoot, const ServerOptions &options)
    : m_backend(backend)
    , m_files(filesRoot)
    , m_options(options)
    , m_log(options.logFile)
    , m_statements(options.statementsPerUser, std::chrono::milliseconds(options.statementWaitMs))
    , m_throttle(options.logOnThrottle)
{
    m_log.quiet = options.quiet;
    m_backend.setAnswerLimit({options.maxAnswerRows, options.maxAnswerBytes});
    {
        auto conn = m_backend.acquire();
        m_signer = std::make_unique<TokenSigner>(tokenKey(*conn), options.tokenTtl);
    }
    if (!options.certFile.isEmpty() || !options.keyFile.isEmpty()) {
        if (options.certFile.isEmpty() || options.keyFile.isEmpty())
            throw std::runtime_error("TLS needs both --cert and --key");
        auto ssl = std::make_unique<httplib::SSLServer>(options.certFile.toLocal8Bit().constData(),
                                                        options.keyFile.toLocal8Bit().constData());
        if (!ssl->is_valid())
            throw std::runtime_error("cannot load the TLS certificate or key");
        m_http = std::move(ssl);
    } else {
        m_http = std::make_unique<httplib::Server>();
    }
    install();
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::install()
{
    httplib::Server &s = *m_http;
    const int threads = std::max(1, m_options.threads);
    s.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    s.set_tcp_nodelay(true);
    s.set_keep_alive_max_count(1000000);
    s.set_keep_alive_timeout(5); // also bounds how long stop() waits for idle clients
    s.set_payload_max_length(size_t(m_options.bodies.largest()));
    s.set_read_timeout(60, 0);
    s.set_write_timeout(60, 0);

    // Runs a handler with timing, logging and the mapping of errors to answers.
    auto guarded = [this](const char *route, auto &&fn) {
        return [this, route, fn](const httplib::Request &req, httplib::Response &res) {
            QElapsedTimer timer;
            timer.start();
            QString what = QLatin1String(route);
            QString user;
            QString error;
            try {
                fn(req, res, what, user);
            } catch (const LimitError &e) {
                error = e.message();
                answerError(res, e.status(), error);
            } catch (const AnswerTooLarge &e) {
                error = e.message();
                answerError(res, 413, error);
            } catch (const ProtocolError &e) {
                error = e.message();
                answerError(res, e.status() ? e.status() : 400, error);
            } catch (const AuthError &e) {
                error = e.message();
                answerError(res, 401, error);
            } catch (const ApplyError &e) {
                error = e.message();
                answerError(res, e.status(), error);
            } catch (const MethodError &e) {
                error = e.message();
                answerError(res, e.status(), error);
            } catch (const FileError &e) {
                error = e.message();
                answerError(res, e.status(), error);
            } catch (const AccessDenied &e) {
                error = e.message();
                answerError(res, 403, error);
            } catch (const DbError &e) {
                error = e.message();
                const bool refused = error.contains(QLatin1String("writing statements"))
                                     || error.contains(QLatin1String("cannot be read by clients"));
                answerError(res, refused ? 403 : 400, error);
            } catch (const quillon::PacketError &e) {
                error = QString::fromUtf8(e.what());
                answerError(res, 400, error);
            } catch (const std::exception &e) {
                error = QString::fromUtf8(e.what());
                answerError(res, 500, error);
            } catch (...) {
                error = QStringLiteral("internal error");
                answerError(res, 500, error);
            }
            m_log.write(what, user, double(timer.nsecsElapsed()) / 1e6, res.status, error);
        };
    };

    // The signature and expiry of the token (no database work: checked on the header).
    auto verifyToken = [this](const httplib::Request &req) {
        const std::string header = req.get_header_value("Authorization");
        static const std::string prefix = "Bearer ";
        if (header.compare(0, prefix.size(), prefix) != 0)
            throw AuthError(QStringLiteral("no session: log on first"));
        return m_signer->verify(QString::fromStdString(header.substr(prefix.size())),
                                QDateTime::currentSecsSinceEpoch());
    };
    auto authenticate = [this, verifyToken](const httplib::Request &req) {
        SessionInfo session = verifyToken(req);
        // A password change, disabling or deleting the user since the log-on.
        checkTokenGeneration(m_backend, session);
        return session;
    };

    // Limits checked on the header alone, before a body is read: its declared size, one
    // unambiguous length, no compressed bodies, and the token of every route but the
    // session (a caller without one never gets to send a large body).
    s.set_pre_routing_handler([this, verifyToken](const httplib::Request &req,
                                                  httplib::Response &res) {
        QString error;
        int status = 0;
        try {
            checkHeader(req);
            if (req.path != kSessionPath)
                verifyToken(req);
            return httplib::Server::HandlerResponse::Unhandled;
        } catch (const LimitError &e) {
            status = e.status();
            error = e.message();
        } catch (const AuthError &e) {
            status = 401;
            error = e.message();
        }
        answerError(res, status, error);
        res.set_header("Connection", "close"); // the unread body must not pass for a request
        m_log.write(QString::fromStdString(req.path), QString(), 0, status, error);
        return httplib::Server::HandlerResponse::Handled;
    });

    s.Post(kSessionPath, guarded("session", [this](const httplib::Request &req,
                                                   httplib::Response &res, QString &what,
                                                   QString &user) {
               const QCborValue v = decodeBody(bodyOf(req));
               if (!v.isMap())
                   throw ProtocolError(400, QStringLiteral("session request must be a CBOR map"));
               const SessionRequest request = SessionRequest::fromCbor(v.toMap());
               user = AuthUser::split(request.authenticationUser).userName;
               if (user.isEmpty())
                   user = request.userName;
               user = user.trimmed();
               waitOutThrottle(user, QString::fromStdString(req.remote_addr));
               SessionInfo info;
               try {
                   auto conn = m_backend.acquire();
                   info = logOn(*conn, request);
               } catch (const AuthError &) {
                   m_throttle.failed(user, QString::fromStdString(req.remote_addr));
                   throw;
               }
               m_throttle.succeeded(user);
               SessionReply reply;
               reply.token = m_signer->issue(info, QDateTime::currentSecsSinceEpoch());
               reply.expiresAt = info.expiresAt;
               reply.user = info.toUserMap();
               what = QStringLiteral("session");
               answerCbor(res, reply.toCbor());
           }));

    s.Post(R"(/waylink/v1/provider/([^/]+))",
           guarded("provider", [this, authenticate](const httplib::Request &req,
                                                   httplib::Response &res, QString &what,
                                                   QString &user) {
               const SessionInfo session = authenticate(req);
               user = session.user;
               const QString name = QString::fromStdString(req.matches[1]);
               if (name != QLatin1String(kProviderName))
                   throw ProtocolError(404, QStringLiteral("unknown provider: %1").arg(name));
               QString commandText;
               QCborValue params;
               decodeProviderRequest(bodyOf(req), &commandText, &params);
               what = QStringLiteral("provider ") + commandText.simplified().left(80);
               QByteArray packet;
               {
                   const auto slot = m_statements.take(session.user);
                   auto conn = m_backend.acquire(session.sysid);
                   packet = runProviderQueryBinary(*conn, commandText, params);
               }
               res.status = 200;
               res.set_content(packet.constData(), size_t(packet.size()), kPacketType);
               maybeCompress(req, res, m_options.gzip);
           }));

    s.Post(R"(/waylink/v1/call/([^/]+))",
           guarded("call", [this, authenticate](const httplib::Request &req, httplib::Response &res,
                                               QString &what, QString &user) {
               const QString full = QString::fromStdString(req.matches[1]);
               what = full;
               const SessionInfo session = authenticate(req);
               user = session.user;
               const QString prefix = QLatin1String(kServerClass) + QLatin1Char('.');
               if (!full.startsWith(prefix))
                   throw MethodError(404, QStringLiteral("unknown server class in %1").arg(full));
               const QString method = full.mid(prefix.size());
               what = method;
               const QCborValue v = decodeBody(bodyOf(req));
               if (!v.isArray())
                   throw ProtocolError(400, QStringLiteral("parameters must be a CBOR array"));
               MethodContext ctx{m_backend, m_files, session,
                                 QString::fromStdString(req.remote_addr)};
               std::optional<UserStatements::Slot> slot;
               if (method == QLatin1String("GetData") || method == QLatin1String("ApplyData"))
                   slot.emplace(m_statements.take(session.user));
               answerCbor(res, callServerMethod(ctx, method, v.toArray()));
               maybeCompress(req, res, m_options.gzip);
           }));

    s.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            answerError(res, res.status,
                        res.status == 404 ? QStringLiteral("no such route")
                                          : QStringLiteral("HTTP error %1").arg(res.status));
    });
}

void HttpServer::checkHeader(const httplib::Request &req) const
{
    // Two lengths (or a length with a chunked body) can be read two ways by two parsers.
    const size_t lengths = req.get_header_value_count("Content-Length");
    if (lengths > 1) {
        const std::string first = req.get_header_value("Content-Length", 0);
        for (size_t i = 1; i < lengths; ++i)
            if (req.get_header_value("Content-Length", i) != first)
                throw LimitError(400, QStringLiteral("conflicting Content-Length headers"));
    }
    if (lengths > 0 && req.has_header("Transfer-Encoding"))
        throw LimitError(400, QStringLiteral("Content-Length together with Transfer-Encoding"));
    const std::string encoding = req.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity")
        throw LimitError(415, QStringLiteral("compressed request bodies are not accepted"));
    const qint64 limit = m_options.bodies.forPath(req.path);
    if (lengths > 0) {
        const std::string text = req.get_header_value("Content-Length");
        char *end = nullptr;
        const unsigned long long length = std::strtoull(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || text.find_first_not_of("0123456789") != std::string::npos)
            throw LimitError(400, QStringLiteral("bad Content-Length"));
        if (length > quint64(limit))
            throw LimitError(413, QStringLiteral("request body too large: %1 bytes, this route takes "
                                                 "at most %2")
                                      .arg(quint64(length))
                                      .arg(limit));
    }
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
        throw LimitError(429, QStringLiteral("登录尝试过多，请 %1 秒后再试")
                                  .arg((wait.count() + 999) / 1000));
    }
    std::this_thread::sleep_for(wait);
    m_logOnWaiting.fetch_sub(1);
}

int HttpServer::bind()
{
    const std::string host = m_options.listen.toStdString();
    if (m_options.port == 0) {
        m_port = m_http->bind_to_any_port(host);
        if (m_port <= 0)
            throw std::runtime_error("cannot bind " + host);
    } else {
        if (!m_http->bind_to_port(host, m_options.port))
            throw std::runtime_error("cannot bind " + host + ":" + std::to_string(m_options.port));
        m_port = m_options.port;
    }
    m_log.note(QStringLiteral("waylink-server listening on %1:%2 (%3, %4)")
                   .arg(m_options.listen)
                   .arg(m_port)
                   .arg(m_backend.describe(), m_files.root()));
    return m_port;
}

void HttpServer::run()
{
    m_http->listen_after_bind();
}

void HttpServer::start()
{
    bind();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::thread([this, finished] {
        run();
        *finished = true;
    });
    while (!m_http->is_running()) {
        if (*finished)
            throw std::runtime_error("the server stopped at once");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void HttpServer::stop()
{
    if (m_http)
        m_http->stop();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace server
