#include "dataaccess/protocol/transport.h"

#include <algorithm>

#include "dataaccess/protocol/httpclient.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QUuid>
#include <thread>

namespace quillon::protocol {

struct Transport::Impl
{
    std::unique_ptr<HttpClient> client;
};

Transport::Transport()
    : Transport(Options())
{}

Transport::Transport(const Options &options)
    : m_options(options)
    , d(std::make_unique<Impl>())
{}

Transport::~Transport() = default;

void Transport::setOptions(const Options &options)
{
    std::lock_guard lock(m_mutex);
    m_options = options;
    d->client.reset();
    m_token.clear();
}

QString Transport::endPoint() const
{
    return m_options.host + u':' + QString::number(m_options.port);
}

QString Transport::badAnswer() const
{
    return QStringLiteral("服务器 %1 的回答无法识别，请确认所选的是本系统的应用服务器。")
        .arg(endPoint());
}

void Transport::setReachabilityListener(std::function<void(bool)> listener)
{
    std::lock_guard lock(m_mutex);
    m_reachability = std::move(listener);
}

void Transport::notifyReachable(bool reachable)
{
    if (m_reachability)
        m_reachability(reachable);
}

void Transport::ensureClient()
{
    if (d->client)
        return;
    if (m_options.host.trimmed().isEmpty() || m_options.port <= 0 || m_options.port > 65535)
        throw ProtocolError(0, QStringLiteral("invalid server address: %1:%2").arg(m_options.host).arg(m_options.port),
                            QStringLiteral("服务器地址“%1”无效，请检查配置文件中的服务器列表。")
                                .arg(m_options.host));
    HttpClient::Options o;
    o.host = m_options.host.toStdString();
    o.port = m_options.port;
    o.tls = m_options.tls;
    o.caCertFile = m_options.caCertFile.toStdString();
    o.verifyPeer = m_options.verifyPeer;
    o.timeoutMs = m_options.timeoutMs;
    d->client = std::make_unique<HttpClient>(std::move(o));
}

Transport::Reply Transport::post(const QString &path, const QByteArray &body, bool withToken,
                                 const QString &requestId, BodyReceiver *receiver)
{
    m_lostAfterSending = false;
    ensureClient();
    HttpClient::Headers headers;
    if (withToken && !m_token.isEmpty())
        headers.emplace_back("Authorization", "Bearer " + m_token.toStdString());
    if (!requestId.isEmpty())
        headers.emplace_back(kRequestIdHeader, requestId.toStdString());
    if (m_options.gzip)
        headers.emplace_back("Accept-Encoding", "gzip");
    if (receiver)
        headers.emplace_back(kPacketStreamHeader, "1"); // the answer is read while it arrives
    HttpClient::Answer answer;
    try {
        answer = d->client->post(path.toStdString(), headers, body, kCborType, receiver);
    } catch (const HttpFailure &e) {
        d->client.reset(); // a broken socket is not reused
        // No connection at all (refused, unknown host) fails at once: a server that is not
        // there does not come back within a retry. A connection lost after it was made may
        // have been a server or a balancer's back end going away.
        const std::string what = e.what();
        m_lostAfterSending = what.rfind("connect", 0) != 0 && what.rfind("resolve", 0) != 0
                             && what.rfind("TLS set-up", 0) != 0;
        notifyReachable(false);
        throw ProtocolError(0, QStringLiteral("cannot reach the server %1:%2 (%3)")
                                   .arg(m_options.host)
                                   .arg(m_options.port)
                                   .arg(QString::fromStdString(e.what())),
                            failureText(0, QString(), endPoint()));
    }
    notifyReachable(true);
    Reply reply;
    reply.status = answer.status;
    reply.body = std::move(answer.body);
    reply.contentType = std::move(answer.contentType);
    reply.streamed = answer.streamed;
    return reply;
}

Transport::Reply Transport::postAuthorised(const QString &path, const QByteArray &body,
                                           const QString &requestId, BodyReceiver *receiver)
{
    if (m_token.isEmpty()) {
        if (!m_haveCredentials)
            throw ProtocolError(401, QStringLiteral("no session: log on first"),
                                QStringLiteral("尚未登录服务器，请先登录。"));
        openSession(m_credentials);
    }
    Reply reply = post(path, body, true, requestId, receiver);
    if (reply.status == 401 && m_haveCredentials) {
        // The token expired or the server's key changed: log on again once.
        try {
            openSession(m_credentials);
        } catch (const ProtocolError &e) {
            if (e.status() != 401 && e.status() != 403)
                throw;
            // The user typed nothing: his session ended because his password was reset
            // or his account disabled. Say that, not that his log-on was refused.
            throw ProtocolError(e.status(), QStringLiteral("session ended: ") + e.message(),
                                sessionEndedText(e.message()));
        }
        reply = post(path, body, true, requestId, receiver);
    }
    return reply;
}

namespace {

// Counts what reaches a receiver: an answer lost after some of it arrived is not sent again.
struct CountingReceiver : BodyReceiver
{
    BodyReceiver *inner = nullptr;
    qint64 received = 0;
    void expect(qint64 totalBytes) override { inner->expect(totalBytes); }
    void receive(QByteArrayView bytes) override
    {
        received += bytes.size();
        inner->receive(bytes);
    }
};

} // namespace

Transport::Reply Transport::postRetrying(const QString &path, const QByteArray &body, bool safe,
                                         const QString &requestId, bool session, BodyReceiver *receiver)
{
    CountingReceiver counting;
    counting.inner = receiver;
    BodyReceiver *through = receiver ? &counting : nullptr;
    QElapsedTimer elapsed;
    elapsed.start();
    int delayMs = 200;
    auto mayRetry = [&] {
        return safe && elapsed.elapsed() + delayMs <= m_options.retryForMs;
    };
    auto pause = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        delayMs = std::min(delayMs * 2, 3000);
    };
    for (;;) {
        try {
            Reply reply = session ? post(path, body, false, QString(), through)
                                  : postAuthorised(path, body, requestId, through);
            const bool transient = reply.status == 502 || reply.status == 503 || reply.status == 504;
            if (!transient || !mayRetry())
                return reply;
        } catch (const ProtocolError &e) {
            if (e.status() != 0 || !m_lostAfterSending || !mayRetry() || counting.received > 0)
                throw;
        }
        pause();
    }
}

QString Transport::newRequestId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

bool Transport::isSafeToRetry(const QString &method, const QCborArray &params)
{
    static const QStringList reads = {
        QStringLiteral("GetData"), QStringLiteral("GetLstValue"), QStringLiteral("GetLstFile"),
        QStringLiteral("GetFileVer"), QStringLiteral("DownloadByStream"),
        QStringLiteral("EchoString"), QStringLiteral("ReverseString"),
        QStringLiteral("ApplyData")};
    if (reads.contains(method))
        return true;
    // MyUpDownFile with flag 1 downloads.
    return method == QLatin1String("MyUpDownFile") && params.size() > 3
           && integerOf(params.at(3)) == 1;
}

void Transport::fail(const Reply &reply) const
{
    QString text = decodeError(reply.body);
    if (text.isEmpty())
        text = QStringLiteral("server error (HTTP %1)").arg(reply.status);
    throw ProtocolError(reply.status, text, failureText(reply.status, text, endPoint()),
                        decodeErrorKind(reply.body));
}

void Transport::setTimeout(int ms)
{
    std::lock_guard lock(m_mutex);
    m_options.timeoutMs = ms;
    if (d->client)
        d->client->setTimeout(ms);
}

SessionReply Transport::openSession(const SessionRequest &request)
{
    std::lock_guard lock(m_mutex);
    // The log-on check has its own short limit; the calls after it get theirs back,
    // however the check ends.
    ensureClient();
    d->client->setTimeout(std::min(m_options.logOnTimeoutMs, m_options.timeoutMs));
    struct RestoreLimit
    {
        Transport *t;
        ~RestoreLimit()
        {
            if (t->d->client)
                t->d->client->setTimeout(t->m_options.timeoutMs);
        }
    } restore{this};
    // A log-on changes nothing but the throttling counters: safe to send again.
    const Reply reply = postRetrying(QLatin1String(kSessionPath),
                                     request.toCbor().toCborValue().toCbor(), true, QString(), true);
    if (reply.status != 200)
        fail(reply);
    QCborValue value;
    try {
        value = decodeBody(reply.body);
    } catch (const ProtocolError &e) {
        throw ProtocolError(0, QStringLiteral("bad session answer: ") + e.message(), badAnswer());
    }
    SessionReply session = SessionReply::fromCbor(value.toMap());
    if (session.token.isEmpty())
        throw ProtocolError(0, QStringLiteral("bad session answer: no token"), badAnswer());
    m_token = session.token;
    m_credentials = request;
    m_haveCredentials = true;
    m_session = session;
    return session;
}

bool Transport::ensureSession(const SessionRequest &request)
{
    std::lock_guard lock(m_mutex);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (m_haveCredentials && !m_token.isEmpty() && request == m_credentials
        && (m_session.expiresAt == 0 || now < m_session.expiresAt - 5))
        return false;
    openSession(request);
    return true;
}

bool Transport::hasSession() const
{
    std::lock_guard lock(m_mutex);
    return !m_token.isEmpty();
}

QString Transport::token() const
{
    std::lock_guard lock(m_mutex);
    return m_token;
}

void Transport::setToken(const QString &token)
{
    std::lock_guard lock(m_mutex);
    m_token = token;
}

void Transport::closeSession()
{
    std::lock_guard lock(m_mutex);
    m_token.clear();
    m_session = SessionReply();
    m_haveCredentials = false;
    m_credentials = SessionRequest();
}

QCborArray Transport::callMethod(const QString &method, const QCborArray &params,
                                 const QString &requestId)
{
    std::lock_guard lock(m_mutex);
    QString id = requestId;
    if (id.isEmpty() && method == QLatin1String("ApplyData"))
        id = newRequestId();
    const Reply reply = postRetrying(callPath(method), params.toCborValue().toCbor(),
                                     isSafeToRetry(method, params), id);
    if (reply.status != 200)
        fail(reply);
    QCborValue value;
    try {
        value = decodeBody(reply.body);
    } catch (const ProtocolError &e) {
        throw ProtocolError(0, QStringLiteral("bad answer of %1: %2").arg(method, e.message()),
                            badAnswer());
    }
    if (!value.isArray())
        throw ProtocolError(0, QStringLiteral("bad answer of %1: not an array").arg(method),
                            badAnswer());
    return value.toArray();
}

QCborMap Transport::callAdmin(const QString &call, const QCborMap &args)
{
    std::lock_guard lock(m_mutex);
    const Reply reply = postAuthorised(QLatin1String(kAdminPrefix) + call,
                                       args.toCborValue().toCbor());
    if (reply.status != 200)
        fail(reply);
    QCborValue value;
    try {
        value = decodeBody(reply.body);
    } catch (const ProtocolError &e) {
        throw ProtocolError(0, QStringLiteral("bad answer of %1: %2").arg(call, e.message()));
    }
    if (!value.isMap())
        throw ProtocolError(0, QStringLiteral("bad answer of %1: not a map").arg(call));
    return value.toMap();
}

QByteArray Transport::provider(const QString &commandText, const QCborValue &params)
{
    std::lock_guard lock(m_mutex);
    // The provider only reads: safe to send again.
    const Reply reply = postRetrying(providerPath(), encodeProviderRequest(commandText, params), true);
    if (reply.status != 200)
        fail(reply);
    return reply.body;
}

void Transport::provider(const QString &commandText, const QCborValue &params, BodyReceiver &receiver)
{
    std::lock_guard lock(m_mutex);
    // The provider only reads: safe to send again while nothing of the answer has arrived.
    const Reply reply = postRetrying(providerPath(), encodeProviderRequest(commandText, params), true,
                                     QString(), false, &receiver);
    if (reply.status != 200)
        fail(reply);
    if (!reply.streamed)
        receiver.receive(reply.body);
}

void Transport::disconnect()
{
    std::lock_guard lock(m_mutex);
    d->client.reset();
}

} // namespace quillon::protocol
