#pragma once

#include "dataaccess/protocol/httpclient.h"
#include "dataaccess/protocol/protocol.h"

#include <functional>
#include <memory>
#include <mutex>

namespace quillon::protocol {

// Blocking client transport to the application server: one keep-alive HTTP connection
// (TCP_NODELAY, optional TLS), the session token, and one call per request. Requests of
// one Transport are serialised; use one Transport per thread for parallel calls.
// Every failure throws ProtocolError carrying the server's text (status 0 when the
// server could not be reached).
class Transport
{
public:
    struct Options
    {
        QString host = QStringLiteral("localhost");
        int port = kDefaultPort;
        bool tls = false;
        QString caCertFile;      // TLS: trusted certificates; empty = system default
        bool verifyPeer = true;  // TLS: verify the server certificate
        // Time limits of one step (connect, read, write) in milliseconds: log-on checks are
        // short; queries, runs and transfers may take as long as the server lets a
        // statement run (120 s) and a margin.
        int timeoutMs = 130000;
        int logOnTimeoutMs = 15000;
        bool gzip = true;        // accept gzip answers (the server decides whether to send them)
        // How long requests that are safe to repeat are retried after a lost answer or an
        // answer 502/503/504 (a server or database failover): reads, log-ons, downloads
        // and ApplyData, which carries a request id so that it applies once. 0: no retry.
        int retryForMs = 20000;
    };

    Transport();
    explicit Transport(const Options &options);
    ~Transport();
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    const Options &options() const { return m_options; }
    // Changing the end point drops the socket and the token.
    void setOptions(const Options &options);
    // The time limit of the calls from now on; socket and token stay.
    void setTimeout(int ms);

    // Opens a session; remembers the request so that an expired token is renewed once
    // transparently. Throws ProtocolError (401) when the server refuses the user.
    SessionReply openSession(const SessionRequest &request);
    // Logs on only when there is no session yet, the credentials differ from those of
    // the current session, or its token has expired: re-opening a connection with
    // unchanged credentials costs no password check. Returns true when it logged on.
    bool ensureSession(const SessionRequest &request);
    const SessionReply &lastSession() const { return m_session; }
    bool hasSession() const;
    QString token() const;
    void setToken(const QString &token);   // a token obtained elsewhere
    void closeSession();                   // forgets token and credentials

    // Calls TfrmServerMethods.<method> with the request positions (in and in-out values,
    // null for out positions) and returns every position (out, in-out and result filled).
    // ApplyData carries a new request id (kRequestIdHeader), the same on every retry;
    // `requestId` gives one (a caller that repeats a call after an error of its own).
    QCborArray callMethod(const QString &method, const QCborArray &params,
                          const QString &requestId = QString());

    // A new request id (random, 32 hexadecimal digits).
    static QString newRequestId();
    // Whether a call may be sent again when its answer was lost: it changes nothing, or
    // (ApplyData) the server recognises the repetition by its request id.
    static bool isSafeToRetry(const QString &method, const QCborArray &params);

    // Calls an administration function of the server (kAdminPrefix + call) with a map
    // of named arguments; returns the answer map.
    QCborMap callAdmin(const QString &call, const QCborMap &args);

    // Runs a query through the provider; returns the binary data packet.
    // params: null, an array (:1 is element 0) or a map of names ("1", "Pi_Dest", ...).
    QByteArray provider(const QString &commandText, const QCborValue &params = QCborValue());
    // The same, the packet's bytes handed to `receiver` while they arrive (all at once when
    // the answer came compressed). What the receiver throws is passed on.
    void provider(const QString &commandText, const QCborValue &params, BodyReceiver &receiver);

    // Drops the keep-alive socket (the token stays valid).
    void disconnect();

    // Told after every request whether the server answered (any HTTP status) or could not
    // be reached. Called on the calling thread, with the transport's lock held.
    void setReachabilityListener(std::function<void(bool reachable)> listener);

private:
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QByteArray contentType;
        bool streamed = false;
    };
    Reply post(const QString &path, const QByteArray &body, bool withToken,
               const QString &requestId = QString(), BodyReceiver *receiver = nullptr);
    Reply postAuthorised(const QString &path, const QByteArray &body,
                         const QString &requestId = QString(), BodyReceiver *receiver = nullptr);
    // postAuthorised, repeated while the answer was lost after sending or was 502/503/504,
    // up to options().retryForMs, when `safe` (and nothing of the answer reached `receiver`).
    Reply postRetrying(const QString &path, const QByteArray &body, bool safe,
                       const QString &requestId = QString(), bool session = false,
                       BodyReceiver *receiver = nullptr);
    [[noreturn]] void fail(const Reply &reply) const;
    QString endPoint() const;  // "host:port"
    QString badAnswer() const; // the user text for an answer that is not ours
    void notifyReachable(bool reachable);
    void ensureClient();

    struct Impl;
    Options m_options;
    std::unique_ptr<Impl> d;
    std::function<void(bool)> m_reachability;
    mutable std::recursive_mutex m_mutex;
    bool m_lostAfterSending = false; // the last failure of post() came after connecting
    QString m_token;
    bool m_haveCredentials = false;
    SessionRequest m_credentials;
    SessionReply m_session;
};

} // namespace quillon::protocol
