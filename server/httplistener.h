#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace server {

class ResponseStream;

// One HTTP request as the handlers see it: the path percent-decoded, header names in
// lower case, the body complete (empty while only the header is known).
struct HttpRequest
{
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string remoteAddress;
    // On a worker: sends the answer while it is produced instead (null on the event loop).
    ResponseStream *stream = nullptr;

    // The first value of a header (name in any case); empty when missing.
    std::string header(const std::string &name) const;
};

struct HttpResponse
{
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false; // close the connection after this answer
    bool streamed = false; // sent through the request's stream: only its end is left to send
};

// An answer sent while it is produced, from the worker that runs the request: begin()
// sends the status line and header (the body chunked), write() each piece as it is ready;
// the handler then returns a response with `streamed` set. Pieces go out in order while
// the worker goes on. write() throws StreamGone once the client has gone (the answer
// cannot reach it: the producer should stop), and waits while much is still unsent.
class ResponseStream
{
public:
    struct StreamGone : std::runtime_error
    {
        StreamGone() : std::runtime_error("the client closed the connection during the answer") {}
    };
    virtual ~ResponseStream() = default;
    virtual void begin(const HttpResponse &head) = 0;
    // The piece is kept (implicitly shared), not copied, until it is written.
    virtual void write(QByteArray piece) = 0;
    virtual bool begun() const = 0;
};

// What the listener asks of the application.
class HttpHandler
{
public:
    virtual ~HttpHandler() = default;
    // On the header alone, before a byte of the body is read: an answer that refuses the
    // request, or nothing and the most bytes its body may have.
    virtual std::optional<HttpResponse> onHeader(const HttpRequest &request, long long *bodyLimit) = 0;
    // The whole request, on a worker thread (may block on the database).
    virtual HttpResponse handle(HttpRequest &request) = 0;
    // The whole request, on the event loop that read it: answers it there and returns true
    // when that needs nothing that may block (no database, no files, nothing large), else
    // returns false and the request goes to a worker (handle()). Must not block.
    virtual bool handleInline(HttpRequest &request, HttpResponse &response)
    {
        (void)request;
        (void)response;
        return false;
    }
    // A request that never reached the application (bad header, a body too large or too
    // slow, a connection over the cap): logs it and gives the answer (if one can be sent).
    virtual HttpResponse refuse(const HttpRequest &request, int status, const QString &why) = 0;
};

struct ListenerOptions
{
    std::string address = "127.0.0.1";
    int port = 0;                      // 0: any free port
    int ioThreads = 1;                 // event loops, one thread each; 0: four per core
    int workers = 8;                   // running handlers (database work)
    std::string certFile, keyFile;     // TLS (PEM) when both are given
    int headerTimeoutMs = 10000;       // a whole request header, from its first wait
    int idleTimeoutMs = 5000;          // between requests of a kept-alive connection
    int bodyTimeoutMs = 30000;         // a whole body, plus one second per 256 KB
    int writeTimeoutMs = 60000;
    int connectionsPerAddress = 256;   // open connections of one client address; 0: no cap
    int maxConnections = 10000;        // open connections in all
    int headerLimit = 16 * 1024;
};

// An event-driven HTTP/1.1 server (Boost.Beast on Asio): a few event loops (one thread
// each, connections dealt out in turn) serve every connection's reads and writes with
// deadlines and answer the requests that cannot block; a pool of workers runs the others.
// Requests of one connection are answered in order (pipelined ones wait their turn).
class HttpListener
{
public:
    HttpListener(HttpHandler &handler, const ListenerOptions &options);
    ~HttpListener();
    int bind();       // returns the port; throws std::runtime_error
    void run();       // serves until stop()
    void stop();
    // Closes the listening socket (graceful stop); open connections are still served.
    void stopAccepting();
    bool running() const;
    int openConnections() const;

    struct Impl; // the Asio side, in the source file

private:
    std::unique_ptr<Impl> d;
};

} // namespace server
