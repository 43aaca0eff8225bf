#include "dataaccess/mysktconnection.h"
#include "dataaccess/packet/packetstream.h"

#include "dataaccess/protocol/protocol.h"
#include "dataaccess/protocol/transport.h"
#include "dataaccess/servermethods.h"

#include <QCborMap>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace quillon {

namespace {

struct DriverOfType
{
    const char *type;
    const char *driver;
};

constexpr DriverOfType kDrivers[] = {
    {"dbtAccess", ""},        {"dbtSybase", "ASE"},     {"dbtDB2", "Db2"},
    {"dbtSQLServer", "MSSQL"}, {"dbtOracle", "Oracle"}, {"dbtDataSnap", "Datasnap"},
};

QString errorText(const std::exception &e)
{
    if (const auto *p = dynamic_cast<const protocol::ProtocolError *>(&e))
        return p->message();
    if (const auto *u = dynamic_cast<const host::UserError *>(&e))
        return u->message();
    return QString::fromUtf8(e.what());
}

QByteArray readLocalFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw ConnectionError(QStringLiteral("无法打开文件 '%1': %2").arg(fileName, file.errorString()));
    return file.readAll();
}

void writeLocalFile(const QString &fileName, const QByteArray &bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw ConnectionError(QStringLiteral("无法写入文件 '%1': %2").arg(fileName, file.errorString()));
}

QCborValue paramValue(const TParam &p)
{
    bool ok = false;
    const QVariant v = convertValue(p.type, p.value, &ok);
    if (!ok)
        throw ConnectionError(QStringLiteral("'%1' 不是参数 %2 的有效值").arg(p.value.toString(), p.name));
    if (v.isNull())
        return QCborValue(QCborValue::Null);
    switch (p.type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        return QCborValue(qint64(v.toLongLong()));
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        return QCborValue(v.toDouble());
    case FieldType::Boolean:
        return QCborValue(v.toBool());
    case FieldType::Date:
        return QCborValue(QDateTime(v.toDate(), QTime(0, 0)));
    case FieldType::Time:
        return QCborValue(v.toTime().toString(QStringLiteral("HH:mm:ss")));
    case FieldType::DateTime:
        return QCborValue(v.toDateTime());
    case FieldType::Blob:
        return QCborValue(v.toByteArray());
    default:
        return QCborValue(v.toString());
    }
}

} // namespace

TDSProviderConnection::TDSProviderConnection(TMySktConnection *owner)
    : QObject(owner)
    , m_connection(owner)
{}

TMySktConnection::TMySktConnection(QObject *owner)
    : QObject(owner)
    , m_macName(adapterAddress())
    , m_transport(std::make_unique<protocol::Transport>())
{
    SetDBType(QStringLiteral("dbtDataSnap"));
    m_dspConn = new TDSProviderConnection(this);
    m_dspConn->setObjectName(QStringLiteral("MyConn"));
    m_dspConn->SetServerClassName(QString::fromLatin1(protocol::kServerClass));
    // Queued: the listener runs inside a request, and whoever shows the state must not
    // start another request from within it.
    m_transport->setReachabilityListener([this](bool reachable) {
        QMetaObject::invokeMethod(this, [this, reachable] { setServerReachable(reachable); },
                                  Qt::QueuedConnection);
        m_lastReachable = reachable;
    });
}

void TMySktConnection::setServerReachable(bool reachable)
{
    if (m_serverReachable == reachable)
        return;
    m_serverReachable = reachable;
    emit serverReachableChanged(reachable);
}

TMySktConnection::~TMySktConnection()
{
    m_clientMethods.reset();
    if (m_connected)
        DoDisconnect();
}

void TMySktConnection::setTimeout(int ms)
{
    m_timeoutMs = ms;
    if (m_transport)
        m_transport->setTimeout(ms);
}

void TMySktConnection::SetDBType(const QString &type)
{
    if (type.isEmpty()) {
        m_driverName.clear();
        return;
    }
    m_dbType = type;
    for (const DriverOfType &d : kDrivers)
        if (type == QLatin1String(d.type))
            m_driverName = QString::fromLatin1(d.driver);
}

void TMySktConnection::closeForNewCredentials()
{
    Close();
    m_transport->closeSession();
    m_transport->disconnect();
    m_sessionKey.clear();
}

void TMySktConnection::SetServerName(const QString &name)
{
    if (name == m_serverName)
        return;
    closeForNewCredentials();
    m_serverName = name;
}

void TMySktConnection::SetUsername(const QString &name)
{
    if (name == m_username)
        return;
    closeForNewCredentials();
    m_username = name;
}

void TMySktConnection::SetPassword(const QString &password)
{
    if (password == m_password)
        return;
    closeForNewCredentials();
    m_password = password;
}

void TMySktConnection::SetSiteCode(const QString &code)
{
    // Stored without closing; the next log-on sends it (a session of another site is
    // not reused, see DoConnect).
    m_siteCode = code;
}

QString TMySktConnection::ParamValue(const QString &name) const
{
    const QString prefix = name + u'=';
    for (const QString &line : m_params)
        if (line.startsWith(prefix, Qt::CaseInsensitive))
            return line.mid(prefix.size());
    return {};
}

void TMySktConnection::setParam(const QString &name, const QString &value)
{
    const QString prefix = name + u'=';
    for (QString &line : m_params) {
        if (line.startsWith(prefix, Qt::CaseInsensitive)) {
            line = prefix + value;
            return;
        }
    }
    m_params.append(prefix + value);
}

void TMySktConnection::Open()
{
    if (m_connected)
        return;
    DoConnect();
}

void TMySktConnection::Close()
{
    if (!m_connected)
        return;
    DoDisconnect();
}

void TMySktConnection::DoConnect()
{
    if (!m_serverName.isEmpty())
        setParam(QStringLiteral("Database"), m_serverName);
    if (!m_username.isEmpty())
        setParam(QStringLiteral("User_Name"), m_username);
    if (!m_password.isEmpty())
        setParam(QStringLiteral("Password"), m_password);
    setParam(QStringLiteral("DBSid"), QString::number(m_dbSid));
    setParam(QStringLiteral("ClientMAC"), m_macName);
    setParam(QStringLiteral("HostName"), m_host);
    setParam(QStringLiteral("Port"), QString::number(m_port));
    setParam(QStringLiteral("SiteCode"), m_siteCode);
    const QChar sep(0x0E);
    setParam(QStringLiteral("DSAuthenticationUser"),
             m_macName + sep + QString::number(m_dbSid) + sep + m_siteCode + sep + m_username);
    setParam(QStringLiteral("DSAuthenticationPassword"), m_password);

    // The driver connect: only the multi-tier driver reaches a server.
    if (m_driverName != u"Datasnap")
        throw ConnectionError(QStringLiteral("驱动 '%1' 不能连接应用服务器").arg(m_driverName));
    protocol::Transport::Options options = m_transport->options();
    options.host = ParamValue(QStringLiteral("HostName"));
    options.port = ParamValue(QStringLiteral("Port")).toInt();
    options.timeoutMs = m_timeoutMs;
    if (options.host != m_transport->options().host || options.port != m_transport->options().port) {
        m_transport->setOptions(options); // another end point: socket and token go
        m_sessionKey.clear();
    } else if (options.timeoutMs != m_transport->options().timeoutMs) {
        m_transport->setTimeout(options.timeoutMs);
    }

    protocol::SessionRequest request;
    request.authenticationUser = ParamValue(QStringLiteral("DSAuthenticationUser"));
    request.authenticationPassword = ParamValue(QStringLiteral("DSAuthenticationPassword"));
    request.dbSid = m_dbSid;
    request.siteCode = ParamValue(QStringLiteral("SiteCode"));
    request.clientMac = ParamValue(QStringLiteral("ClientMAC"));
    request.userName = ParamValue(QStringLiteral("User_Name"));
    request.database = ParamValue(QStringLiteral("Database"));
    // A reopen with the very same parameters keeps the session: no new password check.
    const QByteArray key = request.toCbor().toCborValue().toCbor();
    if (key != m_sessionKey || !m_transport->hasSession()) {
        m_transport->closeSession();
        const protocol::SessionReply reply = m_transport->openSession(request);
        ++m_logOnCount;
        m_sessionKey = key;
        m_logOnInfo = reply.user.toVariantMap();
    }
    m_connected = true;
    m_dspConn->SetConnected(true);
}

void TMySktConnection::DoDisconnect()
{
    m_connected = false;
    m_dspConn->SetConnected(false);
}

TfrmServerMethodsClient *TMySktConnection::GetClientMethods()
{
    m_clientMethods.reset();
    m_clientMethods = std::make_unique<TfrmServerMethodsClient>(DBXConnection(), true);
    return m_clientMethods.get();
}

QString TMySktConnection::adapterAddress()
{
    QString last;
    QDir dir(QStringLiteral("/sys/class/net"));
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &name : names) {
        QFile file(dir.filePath(name + QStringLiteral("/address")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QString mac = QString::fromLatin1(file.readAll()).trimmed().remove(u':').toUpper();
        if (mac.size() != 12 || mac == QLatin1String("000000000000"))
            continue;
        bool hex = true;
        for (QChar c : mac)
            hex = hex && (c.isDigit() || (c >= u'A' && c <= u'F'));
        if (hex)
            last = mac;
    }
    return last.isEmpty() ? QStringLiteral("000000000000") : last;
}

// ---- file transfer -------------------------------------------------------------------------

bool TMySktConnection::MyClientToServer(const QString &pfName, const QString &pfDest)
{
    if (!m_connected)
        Open();
    auto *array = new TJSONArray(readLocalFile(pfName));
    TJSONArray *out = nullptr;
    TfrmServerMethodsClient *proxy = GetClientMethods();
    return proxy->MyUpDownFile(pfDest, array, out, 0);
}

bool TMySktConnection::MyServerToClient(const QString &pfName, const QString &pfDest)
{
    if (!m_connected)
        Open();
    TJSONArray *out = nullptr;
    TfrmServerMethodsClient *proxy = GetClientMethods();
    if (!proxy->MyUpDownFile(pfName, new TJSONArray, out, 1))
        return false; // the local file stays as it was
    writeLocalFile(pfDest, out ? out->bytes() : QByteArray());
    return true;
}

bool TMySktConnection::MyClientToServerByStream(const QString &pfName, const QString &pfDest)
{
    auto stream = std::make_unique<QBuffer>();
    stream->setData(readLocalFile(pfName));
    stream->open(QIODevice::ReadOnly);
    TfrmServerMethodsClient *proxy = GetClientMethods();
    return proxy->UploadByStream(pfDest, stream.release());
}

bool TMySktConnection::MyServerToClientByStream(const QString &pfName, const QString &pfDest)
{
    TfrmServerMethodsClient *proxy = GetClientMethods();
    QIODevice *stream = proxy->DownloadByStream(pfName);
    writeLocalFile(pfDest, readStreamBlocks(stream));
    return true;
}

QByteArray TMySktConnection::readStreamBlocks(QIODevice *stream)
{
    QByteArray out;
    if (!stream)
        return out;
    if (stream->isSequential() || stream->size() < 0) {
        // A short read of a stream of unknown size does not mean its end (a network
        // stream hands out what has arrived): only a read that brings nothing ends it.
        for (;;) {
            const QByteArray block = stream->read(kStreamBlock);
            if (block.isEmpty())
                break;
            out.append(block);
        }
        return out;
    }
    stream->seek(0);
    return stream->readAll();
}

QString TMySktConnection::MyGetLstValue(const QString &sesion)
{
    if (!m_connected)
        Open();
    return GetClientMethods()->GetLstValue(sesion);
}

DataPacket TMySktConnection::MyGetData(const QString &pSQL)
{
    try {
        if (!m_connected)
            Open();
        return GetClientMethods()->GetData(pSQL, m_dbSid);
    } catch (const protocol::ProtocolError &e) {
        throw ConnectionError(QStringLiteral("错误信息：") + e.userText(), e.message());
    } catch (const std::exception &e) {
        throw ConnectionError(QStringLiteral("错误信息：") + errorText(e));
    }
}

QString TMySktConnection::MyGetLstFile(const QString &pPath)
{
    if (!m_connected)
        Open();
    return GetClientMethods()->GetLstFile(pPath);
}

QString TMySktConnection::MyGetFileVer(const QString &pFile)
{
    if (!m_connected)
        Open();
    return GetClientMethods()->GetFileVer(pFile);
}

// ---- provider -----------------------------------------------------------------------------------

DataPacket TMySktConnection::providerFetch(const QString &providerName, const QString &commandText,
                                           const QList<TParam> &params)
{
    const QByteArray bytes = providerFetchBinary(providerName, commandText, params);
    try {
        return DataPacket::fromBinary(bytes);
    } catch (const PacketError &e) {
        throw ConnectionError(QStringLiteral("服务器的回答不是有效的数据包: %1").arg(QString::fromUtf8(e.what())));
    }
}

namespace {

// Parameters as the provider takes them: a map when every one is named, else an array.
QCborValue providerParams(const QList<TParam> &params)
{
    if (params.isEmpty())
        return QCborValue();
    bool named = true;
    for (const TParam &p : params)
        named = named && !p.name.isEmpty();
    if (named) {
        QCborMap map;
        for (const TParam &p : params)
            map.insert(p.name, paramValue(p));
        return map;
    }
    QCborArray array;
    for (const TParam &p : params)
        array.append(paramValue(p));
    return array;
}

// The answer's bytes into a packet reader as they arrive.
class StreamingReceiver : public protocol::BodyReceiver
{
public:
    StreamingReceiver(PacketSink &sink, QString endPoint)
        : reader(sink)
        , m_endPoint(std::move(endPoint))
    {}
    void expect(qint64 totalBytes) override { reader.expectBytes(qsizetype(totalBytes)); }
    void receive(QByteArrayView bytes) override
    {
        try {
            reader.feed(bytes);
        } catch (const PacketAborted &e) {
            // The server failed after the first rows went out (a statement stopped, the
            // answer over its limit): the same error as had it failed before them.
            throw protocol::ProtocolError(e.status(), e.text(),
                                          protocol::failureText(e.status(), e.text(), m_endPoint));
        }
    }
    PacketStreamReader reader;

private:
    QString m_endPoint;
};

} // namespace

QByteArray TMySktConnection::providerFetchBinary(const QString &providerName, const QString &commandText,
                                                 const QList<TParam> &params)
{
    if (providerName != QLatin1String(protocol::kProviderName))
        throw ConnectionError(QStringLiteral("服务器没有数据提供者 '%1'").arg(providerName));
    if (!m_connected)
        Open();
    return m_transport->provider(commandText, providerParams(params));
}

void TMySktConnection::providerFetchInto(const QString &providerName, const QString &commandText,
                                         const QList<TParam> &params, PacketSink &sink)
{
    if (providerName != QLatin1String(protocol::kProviderName))
        throw ConnectionError(QStringLiteral("服务器没有数据提供者 '%1'").arg(providerName));
    if (!m_connected)
        Open();
    StreamingReceiver receiver(sink, QStringLiteral("%1:%2").arg(m_host).arg(m_port));
    m_transport->provider(commandText, providerParams(params), receiver);
    receiver.reader.finish();
}

QCborMap TMySktConnection::callAdmin(const QString &call, const QCborMap &args)
{
    if (!m_connected)
        Open();
    return m_transport->callAdmin(call, args);
}

} // namespace quillon
