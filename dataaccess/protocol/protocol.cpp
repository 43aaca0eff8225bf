#include "dataaccess/protocol/protocol.h"

#include <QCborStreamReader>
#include <cmath>

namespace quillon::protocol {

QString providerPath(const QString &provider)
{
    return QLatin1String(kProviderPrefix) + provider;
}

QString callPath(const QString &method)
{
    return QLatin1String(kCallPrefix) + QLatin1String(kServerClass) + QLatin1Char('.') + method;
}

ProtocolError::ProtocolError(int status, const QString &message, const QString &userText, const QString &kind)
    : std::runtime_error(message.toStdString())
    , m_status(status)
    , m_message(message)
    , m_userText(userText)
    , m_kind(kind)
{}

QString sessionEndedText(const QString &refusal)
{
    if (refusal.contains(QStringLiteral("停用")))
        return QStringLiteral("您的账号已被系统管理员停用，本次登录已结束。"
                              "如需继续使用，请联系系统管理员。");
    return QStringLiteral("本次登录已结束：您的密码已被修改或重置。"
                          "请从系统菜单选择“重新登录”，用新密码登录。");
}

QString failureText(int status, const QString &serverText, const QString &endPoint)
{
    if (status == 0)
        return QStringLiteral("无法连接服务器 %1，请检查网络或稍后重试。").arg(endPoint);
    const QString said = serverText.trimmed();
    if (host::looksChinese(said)) {
        if (status == 401)
            return QStringLiteral("服务器拒绝了登录：%1。请检查后重新登录。").arg(said);
        return QStringLiteral("服务器拒绝了此操作：%1").arg(said);
    }
    switch (status) {
    case 401:
        return QStringLiteral("服务器不再接受本次登录，请重新登录后再试。");
    case 403:
        return QStringLiteral("服务器拒绝了此操作：没有相应的权限。如需使用，请联系系统管理员。");
    case 404:
        return QStringLiteral("服务器不提供此功能，请联系系统管理员确认服务器版本。");
    case 408:
    case 504:
        return QStringLiteral("服务器处理超时，请缩小查询范围或稍后重试。");
    case 413:
        return QStringLiteral("要处理的数据太多，请缩小查询范围后重试。");
    case 429:
    case 503:
        return QStringLiteral("服务器正忙，请稍后重试。");
    default:
        return QStringLiteral("服务器未能完成此操作，请检查输入后重试；"
                              "问题持续时请把详细信息告诉系统管理员。");
    }
}

QByteArray encodeError(const QString &text, const QString &kind)
{
    QCborMap map;
    map.insert(QStringLiteral("error"), text);
    if (!kind.isEmpty())
        map.insert(QStringLiteral("kind"), kind);
    return map.toCborValue().toCbor();
}

namespace {
QString errorMapText(const QByteArray &body, const QString &key)
{
    QCborParserError err;
    const QCborValue value = QCborValue::fromCbor(body, &err);
    if (err.error != QCborError::NoError || !value.isMap())
        return QString();
    return value.toMap().value(key).toString();
}
} // namespace

QString decodeError(const QByteArray &body)
{
    return errorMapText(body, QStringLiteral("error"));
}

QString decodeErrorKind(const QByteArray &body)
{
    return errorMapText(body, QStringLiteral("kind"));
}

QString AuthUser::join() const
{
    return macName + kAuthSeparator + dbSid + kAuthSeparator + siteCode + kAuthSeparator
           + userName;
}

AuthUser AuthUser::split(const QString &text)
{
    const QStringList parts = text.split(kAuthSeparator);
    AuthUser user;
    if (parts.size() > 0)
        user.macName = parts.at(0);
    if (parts.size() > 1)
        user.dbSid = parts.at(1);
    if (parts.size() > 2)
        user.siteCode = parts.at(2);
    if (parts.size() > 3)
        user.userName = parts.mid(3).join(kAuthSeparator);
    return user;
}

namespace {
QString text(const QCborMap &map, const char *key)
{
    return map.value(QLatin1String(key)).toString();
}
} // namespace

QCborMap SessionRequest::toCbor() const
{
    QCborMap map;
    map.insert(QStringLiteral("DSAuthenticationUser"), authenticationUser);
    map.insert(QStringLiteral("DSAuthenticationPassword"), authenticationPassword);
    map.insert(QStringLiteral("DBSid"), dbSid);
    map.insert(QStringLiteral("SiteCode"), siteCode);
    map.insert(QStringLiteral("ClientMAC"), clientMac);
    map.insert(QStringLiteral("User_Name"), userName);
    map.insert(QStringLiteral("Database"), database);
    return map;
}

SessionRequest SessionRequest::fromCbor(const QCborMap &map)
{
    SessionRequest r;
    r.authenticationUser = text(map, "DSAuthenticationUser");
    r.authenticationPassword = text(map, "DSAuthenticationPassword");
    const qint64 sid = integerOf(map.value(QStringLiteral("DBSid")), 1);
    r.dbSid = sid >= INT32_MIN && sid <= INT32_MAX ? int(sid) : 1;
    r.siteCode = text(map, "SiteCode");
    r.clientMac = text(map, "ClientMAC");
    r.userName = text(map, "User_Name");
    r.database = text(map, "Database");
    return r;
}

QCborMap SessionReply::toCbor() const
{
    QCborMap map;
    map.insert(QStringLiteral("token"), token);
    map.insert(QStringLiteral("expires"), expiresAt);
    map.insert(QStringLiteral("user"), user);
    return map;
}

SessionReply SessionReply::fromCbor(const QCborMap &map)
{
    SessionReply r;
    r.token = text(map, "token");
    r.expiresAt = integerOf(map.value(QStringLiteral("expires")));
    r.user = map.value(QStringLiteral("user")).toMap();
    return r;
}

int MethodInfo::requestCount() const
{
    int n = 0;
    for (const ParamInfo &p : params)
        if (p.dir != ParamDir::Result)
            ++n;
    return n;
}

const std::vector<MethodInfo> &serverMethods()
{
    using K = ParamKind;
    using D = ParamDir;
    static const std::vector<MethodInfo> methods = {
        {"DSServerModuleCreate", {{"Sender", K::Object, D::In}}},
        {"DSServerModuleDestroy", {{"Sender", K::Object, D::In}}},
        {"dspPublicAfterGetRecords",
         {{"Sender", K::Object, D::In}, {"OwnerData", K::Variant, D::InOut}}},
        {"dspPublicBeforeGetRecords",
         {{"Sender", K::Object, D::In}, {"OwnerData", K::Variant, D::InOut}}},
        {"EchoString", {{"Value", K::Text, D::In}, {"Result", K::Text, D::Result}}},
        {"ReverseString", {{"Value", K::Text, D::In}, {"Result", K::Text, D::Result}}},
        {"MyUpDownFile",
         {{"pfName", K::Text, D::In},
          {"UJSON", K::JsonBytes, D::In},
          {"DJSON", K::JsonBytes, D::Out},
          {"pFlag", K::Int32, D::In},
          {"Result", K::Boolean, D::Result}}},
        {"DownloadByStream", {{"AfileName", K::Text, D::In}, {"Result", K::Stream, D::Result}}},
        {"UploadByStream",
         {{"AfileName", K::Text, D::In},
          {"Stream", K::Stream, D::In},
          {"Result", K::Boolean, D::Result}}},
        {"GetLstFile", {{"pPath", K::Text, D::In}, {"Result", K::Text, D::Result}}},
        {"GetFileVer", {{"pFile", K::Text, D::In}, {"Result", K::Text, D::Result}}},
        {"GetData",
         {{"pSQL", K::Text, D::In},
          {"DBSid", K::Int32, D::In},
          {"Result", K::Packet, D::Result}}},
        {"GetLstValue", {{"sesion", K::Text, D::In}, {"Result", K::Text, D::Result}}},
        {"ApplyData",
         {{"TableName", K::Text, D::In},
          {"cltData", K::Text, D::In},
          {"MaxError", K::Int32, D::In},
          {"dResult", K::Variant, D::InOut},
          {"Result", K::Boolean, D::Result}}},
    };
    return methods;
}

const MethodInfo *findMethod(const QString &name)
{
    for (const MethodInfo &m : serverMethods())
        if (name == QLatin1String(m.name))
            return &m;
    return nullptr;
}

qint64 integerOf(const QCborValue &value, qint64 fallback)
{
    if (value.isInteger())
        return value.toInteger();
    if (value.isDouble()) {
        const double d = value.toDouble();
        // 2^63 itself does not fit; -2^63 does.
        if (std::isfinite(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return qint64(d);
    }
    return fallback;
}

bool acceptsValue(ParamKind kind, const QCborValue &value)
{
    switch (kind) {
    case ParamKind::Object:
        return value.isNull() || value.isUndefined() || value.isMap();
    case ParamKind::Variant:
        return true;
    case ParamKind::Text:
        return value.isString();
    case ParamKind::Int32:
        return value.isInteger() && value.toInteger() >= INT32_MIN
               && value.toInteger() <= INT32_MAX;
    case ParamKind::Boolean:
        return value.isBool();
    case ParamKind::Stream:
    case ParamKind::JsonBytes:
    case ParamKind::Packet:
        return value.isByteArray();
    }
    return false;
}

QByteArray encodeProviderRequest(const QString &commandText, const QCborValue &params)
{
    QCborMap map;
    map.insert(QStringLiteral("commandText"), commandText);
    map.insert(QStringLiteral("params"), params);
    return map.toCborValue().toCbor();
}

void decodeProviderRequest(const QByteArray &body, QString *commandText, QCborValue *params)
{
    const QCborValue value = decodeBody(body);
    if (!value.isMap())
        throw ProtocolError(400, QStringLiteral("provider request must be a CBOR map"));
    const QCborMap map = value.toMap();
    const QCborValue cmd = map.value(QStringLiteral("commandText"));
    if (!cmd.isString())
        throw ProtocolError(400, QStringLiteral("provider request lacks its command text"));
    const QCborValue p = map.value(QStringLiteral("params"));
    if (!(p.isNull() || p.isUndefined() || p.isArray() || p.isMap()))
        throw ProtocolError(400, QStringLiteral("provider parameters must be an array or a map"));
    *commandText = cmd.toString();
    *params = p;
}

QCborValue decodeBody(const QByteArray &body)
{
    if (body.isEmpty())
        throw ProtocolError(400, QStringLiteral("empty request body"));
    QCborStreamReader reader(body);
    const QCborValue value = QCborValue::fromCbor(reader);
    if (reader.lastError() != QCborError::NoError)
        throw ProtocolError(400, QStringLiteral("malformed CBOR: ") + reader.lastError().toString());
    if (reader.currentOffset() != body.size())
        throw ProtocolError(400, QStringLiteral("malformed CBOR: trailing bytes"));
    return value;
}

QByteArray jsonArrayToBytes(const QList<int> &numbers)
{
    QByteArray bytes;
    bytes.resize(numbers.size());
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        const int n = numbers.at(i);
        if (n < 0 || n > 255)
            throw ProtocolError(0, QStringLiteral("byte value out of range: %1").arg(n));
        bytes[i] = char(n);
    }
    return bytes;
}

QList<int> bytesToJsonArray(const QByteArray &bytes)
{
    QList<int> numbers;
    numbers.reserve(bytes.size());
    for (char c : bytes)
        numbers.append(int(uchar(c)));
    return numbers;
}

} // namespace quillon::protocol
