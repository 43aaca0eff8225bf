#pragma once

#include "host/errors.h"

#include <QByteArray>
#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QString>
#include <QStringList>
#include <stdexcept>
#include <vector>

// The wire protocol of Waylink: HTTP/1.1 with CBOR bodies. Shared by the client transport
// and the application server so that both sides agree on routes, the method table and
// the encoding of every parameter kind. See docs/protocol.md.
namespace quillon::protocol {

inline constexpr int kDefaultPort = 8801;
inline constexpr char kCborType[] = "application/cbor";
// Provider answers carry the binary data packet as the raw body.
inline constexpr char kPacketType[] = "application/vnd.waylink.packet";

inline constexpr char kSessionPath[] = "/waylink/v1/session";
inline constexpr char kProviderPrefix[] = "/waylink/v1/provider/";
inline constexpr char kProviderName[] = "dspPublic";
inline constexpr char kCallPrefix[] = "/waylink/v1/call/";
inline constexpr char kServerClass[] = "TfrmServerMethods";
// The client's id of one ApplyData call (8 to 64 letters, digits, "-", "_"), the same on
// every retry: the server applies a change once and answers a retry with the first outcome.
inline constexpr char kRequestIdHeader[] = "Waylink-Request-Id";
// Sent by a client that reads a provider answer while it arrives ("1"): the server may then
// send a large answer while its rows are stepped (chunked, the packet's stream form, an
// error after the first rows inside the packet; docs/datapacket.md).
inline constexpr char kPacketStreamHeader[] = "Waylink-Packet-Stream";
// Health of a server for a load balancer (GET): 200 while it serves, 503 otherwise.
inline constexpr char kHealthPath[] = "/waylink/v1/health";
inline constexpr char kAdminPrefix[] = "/waylink/v1/admin/"; // + call name: accounts, roles, menu

// Separator of the four parts of the authentication user name.
inline constexpr QChar kAuthSeparator = QChar(0x0E);

QString providerPath(const QString &provider = QString::fromLatin1(kProviderName));
QString callPath(const QString &method); // "/waylink/v1/call/TfrmServerMethods.<method>"

// An error reported by the server (or by the transport itself). message() is the text
// that the server sent; status() the HTTP status, 0 for transport failures. The client's
// transport adds userText(): what the user is told, in Chinese (see failureText).
class ProtocolError : public std::runtime_error, public host::UserFacing
{
public:
    ProtocolError(int status, const QString &message, const QString &userText = {}, const QString &kind = {});
    int status() const noexcept { return m_status; }
    // What kind of refusal the server named, for a caller that handles one kind itself
    // (kDuplicateKeyError); empty when it named none.
    const QString &kind() const noexcept { return m_kind; }
    const QString &message() const noexcept { return m_message; }
    QString userText() const override { return m_userText; }
    QString technicalText() const override { return m_message; }

private:
    int m_status;
    QString m_message;
    QString m_userText;
    QString m_kind;
};

// What a user is told about a failed exchange with the server at `endPoint` ("host:port"):
// status 0 means the server could not be reached; a Chinese server text (a refusal the
// server words for users) is passed on; a technical one is replaced by advice.
QString failureText(int status, const QString &serverText, const QString &endPoint);

// What a user is told when his session ends under him (no log-on of his own) and logging
// on again with the same credentials is refused with the server's `refusal`: a disabled
// account or a changed password, and what to do next.
QString sessionEndedText(const QString &refusal);

// Error body: CBOR map {"error": text}, and {"kind": name} for a refusal that callers may
// tell apart without reading its text.
QByteArray encodeError(const QString &text, const QString &kind = QString());
QString decodeError(const QByteArray &body); // empty when the body is not an error map
QString decodeErrorKind(const QByteArray &body); // empty when it names none
// A row with the same key exists already (ApplyData, 409; another 409 is a row changed by
// someone else).
inline constexpr char kDuplicateKeyError[] = "duplicate-key";

// The four parts of the authentication user name, split at character 14.
struct AuthUser
{
    QString macName;
    QString dbSid;
    QString siteCode;
    QString userName;

    QString join() const;
    // Missing parts stay empty; parts beyond the fourth are joined back into the user name.
    static AuthUser split(const QString &text);
};

// Connection parameters that open a session (POST kSessionPath).
struct SessionRequest
{
    QString authenticationUser;     // "DSAuthenticationUser"
    QString authenticationPassword; // "DSAuthenticationPassword"
    int dbSid = 1;                  // "DBSid"
    QString siteCode;               // "SiteCode"
    QString clientMac;              // "ClientMAC"
    QString userName;               // "User_Name"
    QString database;               // "Database"

    QCborMap toCbor() const;
    static SessionRequest fromCbor(const QCborMap &map);
    bool operator==(const SessionRequest &) const = default;
};

// The session answer: a signed token and what the server knows of the user.
struct SessionReply
{
    QString token;
    qint64 expiresAt = 0;       // seconds since the epoch (UTC)
    QCborMap user;              // sysid, LogOnSiteName, LogOnEmpName, LogOnTime, ...

    QCborMap toCbor() const;
    static SessionReply fromCbor(const QCborMap &map);
};

// Parameter kinds of the server methods and how each travels (docs/protocol.md).
enum class ParamKind {
    Object,    // CBOR map or null
    Variant,   // any CBOR value
    Text,      // CBOR text
    Int32,     // CBOR integer
    Boolean,   // CBOR bool
    Stream,    // CBOR byte string
    JsonBytes, // CBOR byte string (logically an array of numbers 0..255)
    Packet,    // CBOR byte string holding a binary data packet
};
enum class ParamDir { In, Out, InOut, Result };

struct ParamInfo
{
    const char *name;
    ParamKind kind;
    ParamDir dir;
};

struct MethodInfo
{
    const char *name;
    std::vector<ParamInfo> params; // by position; the result, when any, is last

    int positionCount() const { return int(params.size()); }
    int requestCount() const;      // positions without the result
};

// The fourteen methods of TfrmServerMethods, in the order of the proxy.
const std::vector<MethodInfo> &serverMethods();
const MethodInfo *findMethod(const QString &name); // exact name; nullptr when unknown

// True when a value is acceptable for a parameter kind (null is accepted for Object,
// Variant and, as "absent", for every out position).
bool acceptsValue(ParamKind kind, const QCborValue &value);

// A whole number sent as CBOR: an integer as it stands, a double when it is finite and
// within the range of qint64 (its fraction dropped), `fallback` for anything else.
// QCborValue::toInteger() converts any double, which is undefined behaviour out of range.
qint64 integerOf(const QCborValue &value, qint64 fallback = 0);

// Body of a provider request: {"commandText": text, "params": array|map|null}.
QByteArray encodeProviderRequest(const QString &commandText, const QCborValue &params);
void decodeProviderRequest(const QByteArray &body, QString *commandText, QCborValue *params);

// Strict CBOR decoding of a whole body: throws ProtocolError(400) on malformed input or
// trailing bytes.
QCborValue decodeBody(const QByteArray &body);

// JSON byte arrays: the logical array of numbers 0..255 and its wire form.
QByteArray jsonArrayToBytes(const QList<int> &numbers); // throws ProtocolError on out-of-range
QList<int> bytesToJsonArray(const QByteArray &bytes);

} // namespace quillon::protocol
