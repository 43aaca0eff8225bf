#include "dataaccess/servermethods.h"

#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"
#include "dataaccess/protocol/transport.h"

#include <QCborMap>
#include <QMetaProperty>

#include <stdexcept>

namespace quillon {

void TJSONArray::Add(int number)
{
    if (number < 0 || number > 255)
        throw std::out_of_range("a JSON byte array holds numbers 0..255 only");
    m_bytes.append(char(number));
}

TfrmServerMethodsClient::TfrmServerMethodsClient(protocol::Transport *driver, bool instanceOwner)
    : m_driver(driver)
    , m_instanceOwner(instanceOwner)
{}

// The commands free what they own (streams and arrays of earlier calls) with the proxy.
TfrmServerMethodsClient::~TfrmServerMethodsClient() = default;

QString TfrmServerMethodsClient::methodName(Method m)
{
    static const char *const names[kMethodCount] = {
        "DSServerModuleCreate", "DSServerModuleDestroy", "dspPublicAfterGetRecords",
        "dspPublicBeforeGetRecords", "EchoString", "ReverseString", "MyUpDownFile",
        "DownloadByStream", "UploadByStream", "GetLstFile", "GetFileVer", "GetData",
        "GetLstValue", "ApplyData"};
    return QString::fromLatin1(names[m]);
}

TfrmServerMethodsClient::Command &TfrmServerMethodsClient::command(Method m)
{
    auto &cmd = m_commands[m];
    if (!cmd) {
        cmd = std::make_unique<Command>();
        cmd->text = QStringLiteral("TfrmServerMethods.") + methodName(m);
        // Preparing checks the method against the shared method table once per proxy.
        if (!protocol::findMethod(methodName(m)))
            throw ConnectionError(QStringLiteral("未知的服务器方法 %1").arg(cmd->text));
        ++cmd->prepared;
    }
    return *cmd;
}

int TfrmServerMethodsClient::preparedCount(const QString &method) const
{
    for (int m = 0; m < kMethodCount; ++m)
        if (methodName(Method(m)) == method)
            return m_commands[m] ? m_commands[m]->prepared : 0;
    return 0;
}

QCborArray TfrmServerMethodsClient::execute(Method m, const QCborArray &params)
{
    if (!m_driver)
        throw ConnectionError(QStringLiteral("没有与应用服务器的连接，不能调用 %1").arg(methodName(m)));
    return m_driver->callMethod(methodName(m), params);
}

void TfrmServerMethodsClient::adopt(Command &cmd, QObject *object)
{
    if (object && m_instanceOwner)
        cmd.owned.emplace_back(object);
}

QCborValue TfrmServerMethodsClient::marshal(QObject *sender, Command &cmd)
{
    if (!sender)
        return QCborValue(QCborValue::Null);
    QCborMap map;
    map.insert(QStringLiteral("type"), QString::fromLatin1(sender->metaObject()->className()));
    map.insert(QStringLiteral("name"), sender->objectName());
    const QMetaObject *mo = sender->metaObject();
    for (int i = 0; i < mo->propertyCount(); ++i) {
        const QMetaProperty p = mo->property(i);
        const QVariant v = p.read(sender);
        const QCborValue c = QCborValue::fromVariant(v);
        if (!c.isInvalid() && !c.isUndefined() && !c.isMap() && !c.isArray())
            map.insert(QString::fromLatin1(p.name()), c);
    }
    Q_UNUSED(cmd);
    // With the instance-owner flag the proxy frees the object once it is marshalled.
    if (m_instanceOwner)
        delete sender;
    return map;
}

void TfrmServerMethodsClient::DSServerModuleCreate(QObject *sender)
{
    Command &cmd = command(mDSServerModuleCreate);
    execute(mDSServerModuleCreate, {marshal(sender, cmd)});
}

void TfrmServerMethodsClient::DSServerModuleDestroy(QObject *sender)
{
    Command &cmd = command(mDSServerModuleDestroy);
    execute(mDSServerModuleDestroy, {marshal(sender, cmd)});
}

void TfrmServerMethodsClient::dspPublicAfterGetRecords(QObject *sender, QVariant &ownerData)
{
    Command &cmd = command(mdspPublicAfterGetRecords);
    const QCborArray r = execute(mdspPublicAfterGetRecords,
                                 {marshal(sender, cmd), QCborValue::fromVariant(ownerData)});
    ownerData = r.at(1).toVariant();
}

void TfrmServerMethodsClient::dspPublicBeforeGetRecords(QObject *sender, QVariant &ownerData)
{
    Command &cmd = command(mdspPublicBeforeGetRecords);
    const QCborArray r = execute(mdspPublicBeforeGetRecords,
                                 {marshal(sender, cmd), QCborValue::fromVariant(ownerData)});
    ownerData = r.at(1).toVariant();
}

QString TfrmServerMethodsClient::EchoString(const QString &value)
{
    command(mEchoString);
    return execute(mEchoString, {value}).at(1).toString();
}

QString TfrmServerMethodsClient::ReverseString(const QString &value)
{
    command(mReverseString);
    return execute(mReverseString, {value}).at(1).toString();
}

bool TfrmServerMethodsClient::MyUpDownFile(const QString &pfName, TJSONArray *uJSON,
                                           TJSONArray *&dJSON, int pFlag)
{
    Command &cmd = command(mMyUpDownFile);
    const QByteArray up = uJSON ? uJSON->bytes() : QByteArray();
    adopt(cmd, uJSON);
    const QCborArray r = execute(mMyUpDownFile, {pfName, up, QCborValue(QCborValue::Null), pFlag});
    dJSON = new TJSONArray(r.at(2).toByteArray());
    adopt(cmd, dJSON);
    return r.at(4).toBool();
}

QIODevice *TfrmServerMethodsClient::DownloadByStream(const QString &afileName)
{
    Command &cmd = command(mDownloadByStream);
    const QCborArray r = execute(mDownloadByStream, {afileName});
    auto *stream = new QBuffer;
    stream->setData(r.at(1).toByteArray());
    stream->open(QIODevice::ReadOnly);
    adopt(cmd, stream);
    return stream;
}

bool TfrmServerMethodsClient::UploadByStream(const QString &afileName, QIODevice *stream)
{
    Command &cmd = command(mUploadByStream);
    const QByteArray bytes = stream ? stream->readAll() : QByteArray();
    adopt(cmd, stream);
    return execute(mUploadByStream, {afileName, bytes}).at(2).toBool();
}

QString TfrmServerMethodsClient::GetLstFile(const QString &pPath)
{
    command(mGetLstFile);
    return execute(mGetLstFile, {pPath}).at(1).toString();
}

QString TfrmServerMethodsClient::GetFileVer(const QString &pFile)
{
    command(mGetFileVer);
    return execute(mGetFileVer, {pFile}).at(1).toString();
}

DataPacket TfrmServerMethodsClient::GetData(const QString &pSQL, int dbSid)
{
    command(mGetData);
    const QCborArray r = execute(mGetData, {pSQL, dbSid});
    return DataPacket::fromBinary(r.at(2).toByteArray());
}

QString TfrmServerMethodsClient::GetLstValue(const QString &sesion)
{
    command(mGetLstValue);
    return execute(mGetLstValue, {sesion}).at(1).toString();
}

bool TfrmServerMethodsClient::ApplyData(const QString &tableName, const QString &cltData,
                                        int maxError, DataPacket &dResult)
{
    command(mApplyData);
    const QCborValue in = dResult.fields.isEmpty() ? QCborValue(QCborValue::Null)
                                                   : QCborValue(dResult.toBinary());
    const QCborArray r = execute(mApplyData, {tableName, cltData, maxError, in});
    const QCborValue out = r.at(3);
    dResult = out.isByteArray() ? DataPacket::fromBinary(out.toByteArray()) : DataPacket();
    return r.at(4).toBool();
}

} // namespace quillon
