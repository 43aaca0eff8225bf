#pragma once

#include "dataaccess/mydataset.h"
#include "dataaccess/packet/datapacket.h"

#include <QCborMap>
#include <QObject>
#include <QStringList>

#include <memory>

namespace quillon {

namespace protocol {
class Transport;
struct SessionReply;
}

class TfrmServerMethodsClient;
class TMySktConnection;

// A failure of the connection itself (not connected, local file unreadable ...). Errors
// that the server reports arrive as protocol::ProtocolError with the server's text.
class ConnectionError : public host::UserError
{
public:
    using host::UserError::UserError;
};

// The provider connection: the channel of datasets to the server's provider module.
// Owned by its TMySktConnection.
class TDSProviderConnection : public QObject
{
    Q_OBJECT

public:
    explicit TDSProviderConnection(TMySktConnection *owner);
    TMySktConnection *SQLConnection() const { return m_connection; }
    QString ServerClassName() const { return m_serverClassName; }
    void SetServerClassName(const QString &name) { m_serverClassName = name; }
    bool Connected() const { return m_connected; }
    void SetConnected(bool connected) { m_connected = connected; }

private:
    TMySktConnection *m_connection;
    QString m_serverClassName;
    bool m_connected = false;
};

// The one connection of the client to the application server. Opening it logs on (or
// reuses the session of unchanged credentials); datasets open and close it around every
// request, so the session token and the keep-alive socket outlive a close and are
// dropped only when the credentials change.
class TMySktConnection : public QObject
{
    Q_OBJECT

public:
    explicit TMySktConnection(QObject *owner = nullptr);
    ~TMySktConnection() override;

    // ---- properties -------------------------------------------------------------------------
    QString AbortInfo() const { return m_abortInfo; }
    QString MACName() const { return m_macName; }
    QString DBType() const { return m_dbType; }
    void SetDBType(const QString &type);
    int DBSid() const { return m_dbSid; }
    void SetDBSid(int sid) { m_dbSid = sid; }
    QString ServerName() const { return m_serverName; }
    void SetServerName(const QString &name);
    QString SiteCode() const { return m_siteCode; }
    void SetSiteCode(const QString &code);
    QString Username() const { return m_username; }
    void SetUsername(const QString &name);
    QString Password() const { return m_password; }
    void SetPassword(const QString &password);
    int Port() const { return m_port; }
    void SetPort(int port) { m_port = port; }
    QString Host() const { return m_host; }
    void SetHost(const QString &host) { m_host = host; }

    // The driver the database type selects ("Datasnap", "Oracle", ...; empty for none).
    QString DriverName() const { return m_driverName; }
    bool LoginPrompt() const { return false; }

    // The connection parameters as name=value lines; DoConnect writes them.
    QStringList &Params() { return m_params; }
    const QStringList &Params() const { return m_params; }
    QString ParamValue(const QString &name) const;

    TDSProviderConnection *idspConn() const { return m_dspConn; }
    // Frees the previous proxy (and the streams and arrays it owns) and makes a new one.
    TfrmServerMethodsClient *iClientMethods() { return GetClientMethods(); }
    TfrmServerMethodsClient *GetClientMethods();

    // ---- state ---------------------------------------------------------------------------------
    bool Connected() const { return m_connected; }
    void SetConnected(bool connected) { connected ? Open() : Close(); }
    void Open();
    void Close();
    // The driver connection; nullptr while closed.
    protocol::Transport *DBXConnection() const { return m_connected ? m_transport.get() : nullptr; }
    // Log-ons made so far (a reopen with unchanged credentials makes none).
    int logOnCount() const { return m_logOnCount; }
    // What the server answered at the last log-on (sysid, site and employee names ...).
    QVariantMap logOnInfo() const { return m_logOnInfo; }
    // Time limit of a call's step in milliseconds (default: the server's statement limit
    // of 120 s and a margin). The log-on check keeps its own short limit (the transport's
    // logOnTimeoutMs), so no step leaves its limit behind for the calls after it.
    void setTimeout(int ms);
    int timeout() const { return m_timeoutMs; }
    // Whether the server answered the last request (true until a request fails for want
    // of the server). serverReachableChanged follows from the event loop.
    bool serverReachable() const { return m_serverReachable; }
    // The answer of the very last request, already before the event loop has run.
    bool lastRequestReached() const { return m_lastReachable; }

signals:
    void serverReachableChanged(bool reachable);

public:
    // ---- file transfer and server helpers -------------------------------------------------------
    bool MyClientToServer(const QString &pfName, const QString &pfDest);
    bool MyServerToClient(const QString &pfName, const QString &pfDest);
    bool MyClientToServerByStream(const QString &pfName, const QString &pfDest);
    bool MyServerToClientByStream(const QString &pfName, const QString &pfDest);
    QString MyGetLstValue(const QString &sesion);
    // Errors come back as ConnectionError with the text "Error Message:" + the error's text.
    DataPacket MyGetData(const QString &pSQL);
    QString MyGetLstFile(const QString &pPath);
    QString MyGetFileVer(const QString &pFile);

    // Reads a stream of unknown size (size() < 0 or sequential) in blocks of 61440 bytes,
    // appending each block that brought bytes, until a read brings none; a stream that
    // knows its size is copied whole. Returns the bytes.
    static QByteArray readStreamBlocks(QIODevice *stream);
    static constexpr int kStreamBlock = 61440;

    // ---- provider ------------------------------------------------------------------------------------
    // Runs a command text (with parameters) through the named provider, opening the
    // connection on demand; returns the packet.
    DataPacket providerFetch(const QString &providerName, const QString &commandText,
                             const QList<TParam> &params);
    // The same, answering the packet in its binary form, undecoded.
    QByteArray providerFetchBinary(const QString &providerName, const QString &commandText,
                                   const QList<TParam> &params);
    // The same, decoded into `sink` while the answer arrives: the first rows are in place
    // before the last bytes come. Throws PacketError for an answer that is not a packet.
    void providerFetchInto(const QString &providerName, const QString &commandText,
                           const QList<TParam> &params, PacketSink &sink);

    // ---- administration ------------------------------------------------------------------------------
    // Calls an administration function of the server (accounts, roles, menus; see
    // docs/roles.md), opening the connection on demand. Throws protocol::ProtocolError with
    // the server's text when the server refuses.
    QCborMap callAdmin(const QString &call, const QCborMap &args = QCborMap());

    // The last hardware address that the network interfaces report, 12 upper-case hex digits.
    static QString adapterAddress();

protected:
    virtual void DoConnect();
    virtual void DoDisconnect();

private:
    void closeForNewCredentials();
    void setServerReachable(bool reachable);
    void setParam(const QString &name, const QString &value);

    int m_dbSid = 1;
    QString m_dbType;
    QString m_host = QStringLiteral("localhost");
    int m_port = 8801;
    QString m_serverName;
    QString m_siteCode;
    QString m_username;
    QString m_password;
    QString m_macName;
    QString m_abortInfo = QStringLiteral("1.0");
    QString m_driverName;
    QStringList m_params;
    TDSProviderConnection *m_dspConn = nullptr;
    std::unique_ptr<TfrmServerMethodsClient> m_clientMethods;
    std::unique_ptr<protocol::Transport> m_transport;
    QByteArray m_sessionKey; // the session request that the current token belongs to
    bool m_connected = false;
    int m_logOnCount = 0;
    int m_timeoutMs = 130000;
    bool m_serverReachable = true;
    bool m_lastReachable = true;
    QVariantMap m_logOnInfo;
};

} // namespace quillon
