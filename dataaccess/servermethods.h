#pragma once

#include "dataaccess/packet/datapacket.h"

#include <QBuffer>
#include <QCborArray>
#include <QObject>
#include <QPointer>
#include <QVariant>

#include <array>
#include <memory>
#include <vector>

namespace quillon {

namespace protocol {
class Transport;
}

// A JSON array of bytes: logically a list of numbers 0..255 (the wire carries the bytes).
class TJSONArray : public QObject
{
    Q_OBJECT

public:
    explicit TJSONArray(QByteArray bytes = {}, QObject *parent = nullptr)
        : QObject(parent), m_bytes(std::move(bytes))
    {}
    int Count() const { return int(m_bytes.size()); }
    int Get(int index) const { return quint8(m_bytes.at(index)); }
    // Raises std::out_of_range for a number outside 0..255.
    void Add(int number);
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// The client-side proxy of the server's method class "TfrmServerMethods". One prepared
// command per method, created on its first call and kept for the life of the proxy.
//
// Ownership: with the instance-owner flag set (the default), streams and arrays passed in
// belong to the proxy from the call on (the caller must not free them), and streams and
// arrays returned stay the proxy's: they are freed with it, so copy what you need before
// asking the connection for the next proxy. Errors of the server or the driver propagate
// unchanged (protocol::ProtocolError; ConnectionError when there is no driver connection).
class TfrmServerMethodsClient
{
public:
    explicit TfrmServerMethodsClient(protocol::Transport *driver, bool instanceOwner = true);
    ~TfrmServerMethodsClient();
    TfrmServerMethodsClient(const TfrmServerMethodsClient &) = delete;
    TfrmServerMethodsClient &operator=(const TfrmServerMethodsClient &) = delete;

    bool InstanceOwner() const { return m_instanceOwner; }

    void DSServerModuleCreate(QObject *sender);
    void DSServerModuleDestroy(QObject *sender);
    void dspPublicAfterGetRecords(QObject *sender, QVariant &ownerData);
    void dspPublicBeforeGetRecords(QObject *sender, QVariant &ownerData);
    QString EchoString(const QString &value);
    QString ReverseString(const QString &value);
    bool MyUpDownFile(const QString &pfName, TJSONArray *uJSON, TJSONArray *&dJSON, int pFlag);
    QIODevice *DownloadByStream(const QString &afileName);
    bool UploadByStream(const QString &afileName, QIODevice *stream);
    QString GetLstFile(const QString &pPath);
    QString GetFileVer(const QString &pFile);
    DataPacket GetData(const QString &pSQL, int dbSid);
    QString GetLstValue(const QString &sesion);
    bool ApplyData(const QString &tableName, const QString &cltData, int maxError, DataPacket &dResult);

    // How often a method's command was prepared on this proxy (0 or 1).
    int preparedCount(const QString &method) const;

private:
    enum Method {
        mDSServerModuleCreate, mDSServerModuleDestroy, mdspPublicAfterGetRecords,
        mdspPublicBeforeGetRecords, mEchoString, mReverseString, mMyUpDownFile,
        mDownloadByStream, mUploadByStream, mGetLstFile, mGetFileVer, mGetData,
        mGetLstValue, mApplyData, kMethodCount
    };
    // A prepared server-method command: its remote name, and the objects it owns.
    struct Command
    {
        QString text;                                  // "TfrmServerMethods.<name>"
        QString commandType = QStringLiteral("DataSnap.ServerMethod");
        int prepared = 0;
        std::vector<std::unique_ptr<QObject>> owned;   // streams and arrays of its calls
    };

    Command &command(Method m);
    QCborArray execute(Method m, const QCborArray &params);
    QCborValue marshal(QObject *sender, Command &cmd);
    void adopt(Command &cmd, QObject *object);
    static QString methodName(Method m);

    protocol::Transport *m_driver;
    bool m_instanceOwner;
    std::array<std::unique_ptr<Command>, kMethodCount> m_commands;
};

} // namespace quillon
