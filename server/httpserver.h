#pragma once

#include "server/auth.h"
#include "server/filearea.h"
#include "server/limits.h"
#include "server/requestlog.h"

#include <QString>
#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
struct Request;
}

namespace server {

class Backend;

struct ServerOptions
{
    QString listen = QStringLiteral("127.0.0.1");
    int port = 8801;          // 0: any free port (tests)
    int threads = 8;
    QString certFile;         // TLS when both are given
    QString keyFile;
    qint64 tokenTtl = 12 * 3600;
    QString logFile;          // empty: stderr
    bool quiet = false;       // no request log at all
    bool gzip = false;        // gzip large answers for clients that accept it

    // Limits (docs/server.md "Limits").
    BodyLimits bodies;                       // per route, before a body is read
    qint64 maxAnswerRows = 200000;           // provider / GetData answer; 0: none
    qint64 maxAnswerBytes = 256LL << 20;
    int statementsPerUser = 3;               // queries and writes of one user at once
    int statementWaitMs = 2000;              // how long a further one waits for a turn
    LogOnThrottle::Policy logOnThrottle;
    int logOnWaiting = 0;                    // log-ons waiting out a delay at once; 0: threads/2
};

// The HTTP front of the application server: session, provider and server-method routes
// (docs/protocol.md). A bad request gets an error answer; it never stops the server.
class HttpServer
{
public:
    HttpServer(Backend &backend, const QString &filesRoot, const ServerOptions &options);
    ~HttpServer();

    // Binds the address; returns the port (the chosen one when options.port is 0).
    // Throws std::runtime_error when the address cannot be bound.
    int bind();
    void run();     // serves until stop(); call after bind()
    void start();   // bind() and serve on a background thread
    void stop();
    int port() const { return m_port; }
    RequestLog &log() { return m_log; }

private:
    void install();
    void checkHeader(const httplib::Request &req) const; // throws LimitError
    void waitOutThrottle(const QString &user, const QString &address);

    Backend &m_backend;
    FileArea m_files;
    ServerOptions m_options;
    RequestLog m_log;
    std::unique_ptr<TokenSigner> m_signer;
    UserStatements m_statements;
    LogOnThrottle m_throttle;
    std::atomic<int> m_logOnWaiting{0};
    std::unique_ptr<httplib::Server> m_http;
    std::thread m_thread;
    int m_port = 0;
};

} // namespace server
