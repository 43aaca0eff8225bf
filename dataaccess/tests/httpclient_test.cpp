// The client's HTTP connection against a scripted server on loopback: answers of every
// shape arrive whole, a kept-alive connection the server dropped is replaced, and a
// server that says nothing or something else than HTTP ends in a failure, not a hang.
#include "dataaccess/protocol/httpclient.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

using quillon::protocol::HttpClient;
using quillon::protocol::HttpFailure;

namespace {

// Accepts connections one after another; for each request read on a connection it calls
// the script with the connection's number and the request's number overall, and writes
// what the script answers. An empty answer closes the connection without a word; an
// answer starting with '!' is sent without the '!' and the connection closed after it; in
// an answer starting with '~', a '\x01' is not sent but waited on for 150 ms (an answer
// trickling in).
class ScriptedServer
{
public:
    using Script = std::function<std::string(int connection, int request)>;

    explicit ScriptedServer(Script script)
        : m_script(std::move(script))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listen, 8);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~ScriptedServer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }

    int port() const { return m_port; }
    int connections() const { return m_connections; }
    int requests() const { return m_requests; }

private:
    void serve()
    {
        for (int conn = 0; !m_stop; ++conn) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            ++m_connections;
            std::string pending;
            char buf[65536];
            for (;;) {
                // One request: the header up to the blank line, then Content-Length bytes.
                size_t end;
                while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
                    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    if (n <= 0)
                        goto closed;
                    pending.append(buf, size_t(n));
                }
                size_t length = 0;
                const size_t cl = pending.find("Content-Length: ");
                if (cl != std::string::npos && cl < end)
                    length = std::stoul(pending.substr(cl + 16));
                while (pending.size() < end + 4 + length) {
                    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    if (n <= 0)
                        goto closed;
                    pending.append(buf, size_t(n));
                }
                pending.erase(0, end + 4 + length);
                const std::string answer = m_script(conn, m_requests++);
                if (answer.empty())
                    break;
                const bool closeAfter = answer[0] == '!';
                const bool trickle = answer[0] == '~';
                size_t from = closeAfter || trickle;
                for (size_t pause; trickle && (pause = answer.find('\x01', from)) != std::string::npos;
                     from = pause + 1) {
                    ::send(fd, answer.data() + from, pause - from, MSG_NOSIGNAL);
                    std::this_thread::sleep_for(std::chrono::milliseconds(150));
                }
                ::send(fd, answer.data() + from, answer.size() - from, MSG_NOSIGNAL);
                if (closeAfter)
                    break;
            }
        closed:
            ::close(fd);
        }
    }

    Script m_script;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

std::string ok(const std::string &body, const std::string &extra = std::string())
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/cbor\r\nContent-Length: "
           + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

std::string gzipped(const std::string &plain)
{
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(uLong(plain.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.data()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

HttpClient client(int port, int timeoutMs = 5000)
{
    HttpClient::Options o;
    o.host = "127.0.0.1";
    o.port = port;
    o.timeoutMs = timeoutMs;
    return HttpClient(o);
}

HttpClient::Answer post(HttpClient &c, const std::string &body = "x")
{
    return c.post("/waylink/v1/provider/dspPublic", {}, QByteArrayView(body.data(), qsizetype(body.size())),
                  "application/cbor");
}

} // namespace

TEST(HttpClient, AnswersOfEveryShapeArriveWhole)
{
    std::string large(3 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 251);
    const std::string text = "总部 " + std::string(1000, 'a');
    ScriptedServer server([&](int, int request) -> std::string {
        switch (request) {
        case 0: return ok(large);
        case 1: // chunked, in two pieces
            return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
        case 2: return ok(gzipped(text), "Content-Encoding: gzip\r\n");
        case 3: return "HTTP/1.1 403 Forbidden\r\nContent-Length: 2\r\n\r\nno";
        case 4: return ok("");
        default: // no length: the body ends with the connection
            return "!HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nto the end " + std::string(100000, 'z');
        }
    });
    HttpClient c = client(server.port());
    HttpClient::Answer a = post(c);
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.contentType, "application/cbor");
    ASSERT_EQ(a.body.size(), qsizetype(large.size()));
    EXPECT_EQ(a.body.toStdString(), large);
    EXPECT_EQ(post(c).body, "hello world");
    EXPECT_EQ(post(c).body.toStdString(), text);
    a = post(c);
    EXPECT_EQ(a.status, 403);
    EXPECT_EQ(a.body, "no");
    EXPECT_EQ(post(c).body, "");
    EXPECT_EQ(server.connections(), 1); // all on one kept-alive connection
    EXPECT_EQ(post(c).body.toStdString(), "to the end " + std::string(100000, 'z'));
}

TEST(HttpClient, AConnectionTheServerDroppedIsReplaced)
{
    // Connection 0 is closed by the server once it has answered (while the client is
    // idle): the client notices before it sends. Connection 1 answers once, then reads the
    // next request and closes without answering (the server going away just as it came):
    // nothing of an answer came, so the request goes once more on connection 2.
    ScriptedServer server([](int connection, int) -> std::string {
        switch (connection) {
        case 0: return "!" + ok("first", "Connection: keep-alive\r\n");
        case 1: {
            static int seen = 0;
            return seen++ == 0 ? ok("second") : std::string();
        }
        default: return ok("again");
        }
    });
    HttpClient c = client(server.port());
    EXPECT_EQ(post(c).body, "first");
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the close reaches the client
    EXPECT_EQ(post(c).body, "second");
    EXPECT_EQ(post(c).body, "again");
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(server.requests(), 4);

    // A connection that breaks on its first request is not tried again.
    ScriptedServer rude([](int, int) { return std::string(); });
    HttpClient fresh = client(rude.port());
    EXPECT_THROW(post(fresh), HttpFailure);
    EXPECT_EQ(rude.requests(), 1);
}

TEST(HttpClient, TheTimeLimitCountsWhileNothingMoves)
{
    // Five pieces 150 ms apart: 600 ms in all, never 300 ms without a byte.
    ScriptedServer trickle([](int, int) -> std::string {
        return "~HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n\x01" "ab\x01" "cd\x01" "ef\x01" "gh\x01" "ij";
    });
    HttpClient c = client(trickle.port(), 300);
    EXPECT_EQ(post(c).body, "abcdefghij");
}

TEST(HttpClient, SilenceDamageAndNoServerEndInAFailure)
{
    {
        ScriptedServer silent([](int, int) -> std::string {
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
            return ok("late");
        });
        HttpClient c = client(silent.port(), 200);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(post(c), HttpFailure);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
    }
    {
        ScriptedServer garbage([](int, int) -> std::string { return "SSH-2.0-OpenSSH\r\n\r\n"; });
        HttpClient c = client(garbage.port());
        EXPECT_THROW(post(c), HttpFailure);
    }
    {
        ScriptedServer broken([](int, int) -> std::string {
            return ok("not gzip at all", "Content-Encoding: gzip\r\n");
        });
        HttpClient c = client(broken.port());
        EXPECT_THROW(post(c), HttpFailure);
    }
    {
        int port;
        {
            ScriptedServer gone([](int, int) { return std::string(); });
            port = gone.port();
        }
        HttpClient c = client(port);
        EXPECT_THROW(post(c), HttpFailure);
    }
}

namespace {

// Keeps what it receives, with the time each piece came; throws once it has `failAt` bytes.
struct Collector : quillon::protocol::BodyReceiver
{
    std::string bytes;
    qint64 expected = -1;
    std::vector<std::chrono::steady_clock::time_point> times;
    size_t failAt = std::string::npos;
    void expect(qint64 total) override { expected = total; }
    void receive(QByteArrayView piece) override
    {
        bytes.append(piece.data(), size_t(piece.size()));
        times.push_back(std::chrono::steady_clock::now());
        if (bytes.size() >= failAt)
            throw std::runtime_error("receiver refuses");
    }
};

HttpClient::Answer postTo(HttpClient &c, Collector &r)
{
    return c.post("/waylink/v1/provider/dspPublic", {}, QByteArrayView("x", 1), "application/cbor", &r);
}

} // namespace

TEST(HttpClient, ASuccessfulAnswerStreamsToItsReceiverWhileItArrives)
{
    const std::string text = "总部 " + std::string(1000, 'b');
    ScriptedServer server([&](int, int request) -> std::string {
        switch (request) {
        case 0: // three pieces 150 ms apart
            return "~HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc\x01" "def\x01" "ghi";
        case 1: return ok(gzipped(text), "Content-Encoding: gzip\r\n"); // kept whole
        case 2: return "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone";
        case 3: return ok(std::string(100000, 'q')); // the receiver gives up half-way
        default: return ok("after");
        }
    });
    HttpClient c = client(server.port());
    Collector first;
    HttpClient::Answer a = postTo(c, first);
    EXPECT_TRUE(a.streamed);
    EXPECT_TRUE(a.body.isEmpty());
    EXPECT_EQ(first.bytes, "abcdefghi");
    EXPECT_EQ(first.expected, 9);
    ASSERT_GE(first.times.size(), 3u);
    // The first piece was taken while the rest was still on its way.
    EXPECT_GE(first.times.back() - first.times.front(), std::chrono::milliseconds(250));

    Collector zipped;
    a = postTo(c, zipped);
    EXPECT_FALSE(a.streamed);
    EXPECT_EQ(a.body.toStdString(), text);
    EXPECT_TRUE(zipped.bytes.empty());

    Collector refused;
    a = postTo(c, refused);
    EXPECT_EQ(a.status, 404);
    EXPECT_FALSE(a.streamed);
    EXPECT_EQ(a.body, "gone");
    EXPECT_TRUE(refused.bytes.empty());

    Collector giving;
    giving.failAt = 1000;
    EXPECT_THROW(postTo(c, giving), std::runtime_error);
    // The rest of that answer is never read as the next one: a fresh connection answers.
    const int before = server.connections();
    EXPECT_EQ(post(c).body, "after");
    EXPECT_EQ(server.connections(), before + 1);
}
