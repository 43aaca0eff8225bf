#pragma once

#include "server/auth.h"
#include "server/filearea.h"
#include "server/httplistener.h"
#include "server/limits.h"
#include "server/requestlog.h"
#include "server/sharedstate.h"

#include <QString>
#include <atomic>
#include <memory>
#include <thread>

namespace server {

class Backend;

// What a user is told of a request the HTTP layer refused with `status` (Chinese, what to
// do next); the technical reason goes to the request log.
QString refusalText(int status);
// What a user is told when the database cannot be reached (a failover under way ...).
QString databaseUnavailableText();

struct ServerOptions
{
    QString listen = QStringLiteral("127.0.0.1");
    int port = 8801;          // 0: any free port (tests)
    int threads = 8;          // workers running requests (database work)
    int ioThreads = 0;        // event loops reading and writing the connections; 0: four per core
    QString certFile;         // TLS when both are given
    QString keyFile;
    qint64 tokenTtl = 12 * 3600;
    QString logFile;          // empty: stderr
    bool quiet = false;       // no request log at all
    bool gzip = false;        // gzip large answers for clients that accept it
    // A provider answer past this many bytes goes out while its rows are stepped, in pieces
    // of about this size, to clients that read it so (not when it is to be compressed).
    qint64 streamAnswersFrom = 128 * 1024;

    // Limits (docs/server.md "Limits").
    BodyLimits bodies;                       // per route, before a body is read
    qint64 maxAnswerRows = 200000;           // provider / GetData answer; 0: none
    qint64 maxAnswerBytes = 256LL << 20;
    int statementsPerUser = 3;               // queries and writes of one user at once
    int statementWaitMs = 2000;              // how long a further one waits for a turn
    LogOnThrottlePolicy logOnThrottle;
    int logOnWaiting = 0;                    // log-ons waiting out a delay at once; 0: threads/2
    int headerTimeoutMs = 10000;             // a request header must be complete in this time
    int idleTimeoutMs = 5000;                // kept-alive connection closed after this idle time
    int bodyTimeoutMs = 30000;               // a body: this plus one second per 256 KB
    int connectionsPerAddress = 256;         // open connections of one client address; 0: none
    // Addresses of reverse proxies whose X-Forwarded-For names the client (the operation
    // log's 操作IP); from any other peer the header is ignored.
    QStringList trustedProxies;
};

// The client's address as the operation log records it: the peer's, or, when the peer is
// one of `trustedProxies`, the nearest address of X-Forwarded-For that is not a trusted
// proxy. IPv4 peers of a dual-stack socket without their "::ffff:" prefix.
QString clientAddressOf(const std::string &peer, const std::vector<std::string> &forwardedFor,
                        const QStringList &trustedProxies);
// As the files root: keep the file areas in the database (PostgreSQL), shared by every
// server on it.
inline constexpr char kFilesInDatabase[] = "database";

// The HTTP front of the application server: session, provider and server-method routes
// (docs/protocol.md) behind an event-driven listener. A bad request gets an error answer;
// it never stops the server.
class HttpServer : private HttpHandler
{
public:
    HttpServer(Backend &backend, const QString &filesRoot, const ServerOptions &options);
    ~HttpServer() override;

    // Binds the address; returns the port (the chosen one when options.port is 0).
    // Throws std::runtime_error when the address cannot be bound.
    int bind();
    void run();     // serves until stop(); call after bind()
    void start();   // bind() and serve on a background thread
    void stop();
    // Graceful stop: the health route answers 503 and new connections are no longer
    // accepted; requests already running get up to `grace` to finish; then stop().
    // Returns the number of requests that were still running when the grace ran out.
    int drain(std::chrono::milliseconds grace);
    bool draining() const { return m_draining; }
    int runningRequests() const { return m_running; }
    int port() const { return m_port; }
    RequestLog &log() { return m_log; }
    int openConnections() const { return m_listener->openConnections(); }

private:
    std::optional<HttpResponse> onHeader(const HttpRequest &request, long long *bodyLimit) override;
    HttpResponse handle(HttpRequest &request) override;
    bool handleInline(HttpRequest &request, HttpResponse &response) override;
    HttpResponse refuse(const HttpRequest &request, int status, const QString &why) override;
    // Runs a request with timing, logging and the mapping of errors to answers. onLoop: on
    // the event loop, nothing may block; nothing when the request needs a worker after all.
    std::optional<HttpResponse> serve(HttpRequest &request, bool onLoop);
    // Answers `userText`, logs `why`.
    HttpResponse refuse(const HttpRequest &request, int status, const QString &why,
                        const QString &userText);

    void checkHeader(const HttpRequest &req) const; // throws ServerError
    SessionInfo verifyToken(const HttpRequest &req) const; // signature and expiry only
    // onLoop: the token generation from memory only (throws NeedsWorker when it cannot tell).
    SessionInfo authenticate(const HttpRequest &req, bool onLoop = false);
    QString clientAddress(const HttpRequest &req) const;
    void waitOutThrottle(const QString &user, const QString &address);
    void health(HttpResponse &res);
    QByteArray requestBody(const HttpRequest &req) const; // inflated when compressed
    void session(const HttpRequest &req, HttpResponse &res, QString &what, QString &user);
    // The routes of a signed-on caller: the dispatcher (serve) found the route's rule in
    // routeRules() (server/checks.h) and checked the session before.
    void provider(const HttpRequest &req, const SessionInfo &session, const QString &name,
                  HttpResponse &res, QString &what);
    void call(const HttpRequest &req, const SessionInfo &session, const QString &full,
              HttpResponse &res, QString &what);
    // Administration calls (server/admin.h): a CBOR map in, a CBOR map out.
    void admin(const HttpRequest &req, const SessionInfo &session, const QString &call,
               HttpResponse &res, QString &what);

    Backend &m_backend;
    FileAreas m_files;
    ServerOptions m_options;
    RequestLog m_log;
    std::unique_ptr<TokenSigner> m_signer;
    TokenGenerations m_generations;
    UserStatements m_statements;
    SharedLogOnThrottle m_throttle; // counters in the database: every server sees them
    std::atomic<bool> m_draining{false};
    std::atomic<int> m_running{0};
    std::atomic<int> m_logOnWaiting{0};
    std::unique_ptr<HttpListener> m_listener;
    std::thread m_thread;
    int m_port = 0;
};

} // namespace server
