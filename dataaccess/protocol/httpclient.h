#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quillon::protocol {

// The connection broke or could not be made: what happened, for the log.
class HttpFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Takes the body of a successful answer (status 200, not compressed) while it arrives,
// instead of its being kept whole. receive() may throw: the answer is then abandoned, the
// connection dropped and the exception passed on to the caller of post().
class BodyReceiver
{
public:
    virtual ~BodyReceiver() = default;
    virtual void expect(qint64 totalBytes) { Q_UNUSED(totalBytes); } // Content-Length, when sent
    virtual void receive(QByteArrayView bytes) = 0;
};

// One keep-alive HTTP/1.1 connection to the application server, plain or TLS, blocking,
// with a time limit on every step. Answers are read in large pieces straight into the
// body's bytes (a provider answer of a few megabytes costs a few dozen reads, not a read
// and a poll per 4 KB). Not thread-safe: the transport serialises its requests.
class HttpClient
{
public:
    struct Options
    {
        std::string host;
        int port = 0;
        bool tls = false;
        std::string caCertFile;  // TLS: trusted certificates; empty = system default
        bool verifyPeer = true;  // TLS: verify the server certificate and its name
        int timeoutMs = 60000;   // connect, write and read, each
    };
    struct Answer
    {
        int status = 0;
        QByteArray body;          // inflated when the server sent it gzip-compressed
        QByteArray contentType;
        bool streamed = false;    // the body went to the BodyReceiver (body is empty)
    };
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // The largest answer accepted, inflated or not: far above the server's own cap on
    // provider answers, so that only a broken or foreign server reaches it.
    static constexpr qsizetype kMaxAnswerBytes = qsizetype(1) << 30;

    explicit HttpClient(Options options);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // Sends one POST and reads its answer. A kept-alive connection that the server has
    // closed meanwhile is replaced and the request sent once more on a new one, as long as
    // nothing of an answer had arrived. Throws HttpFailure. With a receiver, the body of a
    // successful answer goes to it as it arrives.
    Answer post(const std::string &target, const Headers &headers, QByteArrayView body,
                const std::string &contentType, BodyReceiver *receiver = nullptr);

    void close();
    // The time limit of the following steps (milliseconds); the connection stays.
    void setTimeout(int ms);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace quillon::protocol
