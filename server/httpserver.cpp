#include "server/httpserver.h"

#include "dataaccess/protocol/protocol.h"
#include "server/applydata.h"
#include "server/methods.h"
#include "server/provider.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <QElapsedTimer>
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
{
    m_log.quiet = options.quiet;
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
    s.set_payload_max_length(size_t(1) << 30);
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

    auto authenticate = [this](const httplib::Request &req) {
        const std::string header = req.get_header_value("Authorization");
        static const std::string prefix = "Bearer ";
        if (header.compare(0, prefix.size(), prefix) != 0)
            throw AuthError(QStringLiteral("no session: log on first"));
        SessionInfo session = m_signer->verify(QString::fromStdString(header.substr(prefix.size())),
                                               QDateTime::currentSecsSinceEpoch());
        // A password change, disabling or deleting the user since the log-on.
        checkTokenGeneration(m_backend, session);
        return session;
    };

    s.Post(kSessionPath, guarded("session", [this](const httplib::Request &req,
                                                   httplib::Response &res, QString &what,
                                                   QString &user) {
               const QCborValue v = decodeBody(bodyOf(req));
               if (!v.isMap())
                   throw ProtocolError(400, QStringLiteral("session request must be a CBOR map"));
               const SessionRequest request = SessionRequest::fromCbor(v.toMap());
               user = AuthUser::split(request.authenticationUser).userName;
               SessionInfo info;
               {
                   auto conn = m_backend.acquire();
                   info = logOn(*conn, request);
               }
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
                   auto conn = m_backend.acquire(session.sysid);
                   packet = runProviderQuery(*conn, commandText, params).toBinary();
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
