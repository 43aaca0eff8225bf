#include "dataaccess/protocol/transport.h"

#include <QDateTime>
#include <httplib.h>

namespace quillon::protocol {

struct Transport::Impl
{
    std::unique_ptr<httplib::Client> client;
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
    const std::string scheme = m_options.tls ? "https://" : "http://";
    const std::string url = scheme + m_options.host.toStdString() + ':'
                            + std::to_string(m_options.port);
    auto client = std::make_unique<httplib::Client>(url);
    if (!client->is_valid())
        throw ProtocolError(0, QStringLiteral("invalid server address: %1").arg(m_options.host),
                            QStringLiteral("服务器地址“%1”无效，请检查配置文件中的服务器列表。")
                                .arg(m_options.host));
    client->set_tcp_nodelay(true);
    client->set_keep_alive(true);
    const time_t sec = m_options.timeoutMs / 1000;
    const time_t usec = (m_options.timeoutMs % 1000) * 1000;
    client->set_connection_timeout(sec, usec);
    client->set_read_timeout(sec, usec);
    client->set_write_timeout(sec, usec);
    if (m_options.tls) {
        if (!m_options.caCertFile.isEmpty())
            client->set_ca_cert_path(m_options.caCertFile.toStdString());
        client->enable_server_certificate_verification(m_options.verifyPeer);
    }
    d->client = std::move(client);
}

Transport::Reply Transport::post(const QString &path, const QByteArray &body, bool withToken)
{
    ensureClient();
    httplib::Headers headers;
    if (withToken && !m_token.isEmpty())
        headers.emplace("Authorization", "Bearer " + m_token.toStdString());
    if (m_options.gzip)
        headers.emplace("Accept-Encoding", "gzip");
    auto res = d->client->Post(path.toStdString(), headers, body.constData(), size_t(body.size()),
                               kCborType);
    if (!res) {
        const auto err = res.error();
        d->client.reset(); // a broken socket is not reused
        notifyReachable(false);
        throw ProtocolError(0, QStringLiteral("cannot reach the server %1:%2 (%3)")
                                   .arg(m_options.host)
                                   .arg(m_options.port)
                                   .arg(QString::fromStdString(httplib::to_string(err))),
                            failureText(0, QString(), endPoint()));
    }
    notifyReachable(true);
    Reply reply;
    reply.status = res->status;
    reply.body = QByteArray(res->body.data(), qsizetype(res->body.size()));
    reply.contentType = QByteArray::fromStdString(res->get_header_value("Content-Type"));
    return reply;
}

Transport::Reply Transport::postAuthorised(const QString &path, const QByteArray &body)
{
    if (m_token.isEmpty()) {
        if (!m_haveCredentials)
            throw ProtocolError(401, QStringLiteral("no session: log on first"),
                                QStringLiteral("尚未登录服务器，请先登录。"));
        openSession(m_credentials);
    }
    Reply reply = post(path, body, true);
    if (reply.status == 401 && m_haveCredentials) {
        // The token expired or the server's key changed: log on again once.
        openSession(m_credentials);
        reply = post(path, body, true);
    }
    return reply;
}

void Transport::fail(const Reply &reply) const
{
    QString text = decodeError(reply.body);
    if (text.isEmpty())
        text = QStringLiteral("server error (HTTP %1)").arg(reply.status);
    throw ProtocolError(reply.status, text, failureText(reply.status, text, endPoint()));
}

SessionReply Transport::openSession(const SessionRequest &request)
{
    std::lock_guard lock(m_mutex);
    const Reply reply = post(QLatin1String(kSessionPath), request.toCbor().toCborValue().toCbor(),
                             false);
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

QCborArray Transport::callMethod(const QString &method, const QCborArray &params)
{
    std::lock_guard lock(m_mutex);
    const Reply reply = postAuthorised(callPath(method), params.toCborValue().toCbor());
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

QByteArray Transport::provider(const QString &commandText, const QCborValue &params)
{
    std::lock_guard lock(m_mutex);
    const Reply reply = postAuthorised(providerPath(), encodeProviderRequest(commandText, params));
    if (reply.status != 200)
        fail(reply);
    return reply.body;
}

void Transport::disconnect()
{
    std::lock_guard lock(m_mutex);
    d->client.reset();
}

} // namespace quillon::protocol
