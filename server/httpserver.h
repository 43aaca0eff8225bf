#pragma once

#include "server/auth.h"
#include "server/filearea.h"
#include "server/requestlog.h"

#include <QString>
#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
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

    Backend &m_backend;
    FileAreas m_files;
    ServerOptions m_options;
    RequestLog m_log;
    std::unique_ptr<TokenSigner> m_signer;
    std::unique_ptr<httplib::Server> m_http;
    std::thread m_thread;
    int m_port = 0;
};

} // namespace server
