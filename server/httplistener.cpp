#include "server/httplistener.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <algorithm>
#include <deque>
#include <atomic>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <pthread.h>
#include <unordered_map>

namespace server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ms = std::chrono::milliseconds;

std::string HttpRequest::header(const std::string &name) const
{
    for (const auto &h : headers)
        if (beast::iequals(h.first, name))
            return h.second;
    return {};
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The path of a request target, without the query, with %XX decoded.
std::string decodedPath(std::string_view target)
{
    target = target.substr(0, target.find('?'));
    std::string out;
    out.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size()) {
            const int hi = hexValue(target[i + 1]), lo = hexValue(target[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += target[i];
    }
    return out;
}

bool isParseError(const beast::error_code &ec)
{
    return ec.category() == http::make_error_code(http::error::bad_version).category()
           && ec != http::error::end_of_stream && ec != http::error::partial_message;
}

} // namespace

struct HttpListener::Impl
{
    Impl(HttpHandler &h, const ListenerOptions &opt)
        : handler(h)
        , o(opt)
        , workers(size_t(std::max(1, opt.workers)))
        , loops(makeLoops(opt.ioThreads))
        , acceptor(*loops.front())
        , retry(*loops.front())
    {}

    // One event loop per thread: each is run by its own thread only, so a connection needs
    // no strand and its handlers never wait for another thread.
    // By default four a core: a loop whose thread loses its core to another process (the
    // clients on the same machine, a build) holds up only its own connections; with one a
    // core, the short calls answered on the loops reached 0.81 of a bare echo's throughput
    // on two cores, with four 0.94 (docs/server.md). Idle loops only wait in epoll.
    static std::vector<std::unique_ptr<asio::io_context>> makeLoops(int wanted)
    {
        int n = wanted > 0 ? wanted : 4 * int(std::max(1u, std::thread::hardware_concurrency()));
        n = std::clamp(n, 1, 64);
        std::vector<std::unique_ptr<asio::io_context>> v;
        for (int i = 0; i < n; ++i)
            v.push_back(std::make_unique<asio::io_context>(1));
        return v;
    }
    // The loop of the next connection, in turn.
    asio::io_context &nextLoop() { return *loops[nextLoopIndex++ % loops.size()]; }

    // Counts a new connection of `address`; false when it is over a cap.
    bool admit(const std::string &address)
    {
        std::lock_guard lock(mutex);
        int &n = perAddress[address];
        if ((o.connectionsPerAddress > 0 && n >= o.connectionsPerAddress) || total >= o.maxConnections) {
            if (n == 0)
                perAddress.erase(address);
            return false;
        }
        ++n;
        ++total;
        return true;
    }
    void release(const std::string &address)
    {
        std::lock_guard lock(mutex);
        auto it = perAddress.find(address);
        if (it != perAddress.end() && --it->second <= 0)
            perAddress.erase(it);
        --total;
    }
    void accept();

    HttpHandler &handler;
    ListenerOptions o;
    mutable std::mutex mutex;
    std::unordered_map<std::string, int> perAddress;
    int total = 0;
    std::atomic<bool> isRunning{false};
    asio::thread_pool workers;
    std::unique_ptr<asio::ssl::context> ssl;
    // Destroyed before the members above: pending sessions release their address.
    std::vector<std::unique_ptr<asio::io_context>> loops;
    size_t nextLoopIndex = 0; // used by the accepting loop only
    tcp::acceptor acceptor;
    asio::steady_timer retry;
};

namespace {

using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// One client connection: reads a header (with a deadline), lets the application look at
// it, reads the body (with a deadline and the route's size limit), hands the request to
// a worker, writes the answer, and only then reads the next request.
template <class Stream>
class Session : public std::enable_shared_from_this<Session<Stream>>
{
public:
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

    Session(HttpListener::Impl &impl, Stream &&stream, std::string address)
        : m_impl(impl)
        , m_stream(std::move(stream))
        , m_address(std::move(address))
    {}
    ~Session() { m_impl.release(m_address); }

    void start()
    {
        asio::dispatch(m_stream.get_executor(), [self = this->shared_from_this()] {
            if constexpr (kTls) {
                self->lowest().expires_after(ms(self->m_impl.o.headerTimeoutMs));
                self->m_stream.async_handshake(asio::ssl::stream_base::server,
                                               [self](beast::error_code ec) {
                                                   if (!ec)
                                                       self->readHeader();
                                               });
            } else {
                self->readHeader();
            }
        });
    }

private:
    beast::tcp_stream &lowest() { return beast::get_lowest_layer(m_stream); }

    void readHeader()
    {
        m_parser.emplace();
        m_parser->header_limit(std::uint32_t(m_impl.o.headerLimit));
        // The route decides once the header is known (not "none": 1.74 compares it as 0).
        m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        m_request = HttpRequest();
        m_request.remoteAddress = m_address;
        lowest().expires_after(ms(m_first ? m_impl.o.headerTimeoutMs : m_impl.o.idleTimeoutMs));
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                    self->onHeader(ec);
                                });
    }

    void onHeader(beast::error_code ec)
    {
        if (ec) {
            if (isParseError(ec))
                return refuse(ec == http::error::header_limit ? 431 : 400,
                              QStringLiteral("bad request header: %1").arg(QString::fromStdString(ec.message())));
            if (ec == beast::error::timeout && (m_buffer.size() > 0 || m_first))
                m_impl.handler.refuse(m_request, 408, QStringLiteral("request header not complete in time"));
            return; // closed, idle or too slow: the connection ends here
        }
        const auto &h = m_parser->get();
        m_request.method = std::string(h.method_string());
        m_request.path = decodedPath(std::string_view(h.target().data(), h.target().size()));
        for (const auto &f : h) {
            std::string name(f.name_string());
            for (char &c : name)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            m_request.headers.emplace_back(std::move(name), std::string(f.value()));
        }
        long long limit = 0;
        try {
            if (auto refusal = m_impl.handler.onHeader(m_request, &limit)) {
                refusal->close = true; // the unread body must not pass for a request
                return write(std::move(*refusal));
            }
        } catch (const std::exception &e) {
            return refuse(500, QString::fromUtf8(e.what()));
        }
        m_parser->body_limit(std::uint64_t(std::max(0LL, limit)));
        if (m_parser->is_done())
            return dispatch();
        const long long expected = m_parser->content_length() ? (long long)(*m_parser->content_length()) : limit;
        lowest().expires_after(ms(m_impl.o.bodyTimeoutMs + expected / (256 * 1024) * 1000));
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = this->shared_from_this()](beast::error_code ec, size_t) {
                             self->onBody(ec);
                         });
    }

    void onBody(beast::error_code ec)
    {
        if (ec == http::error::body_limit)
            return refuse(413, QStringLiteral("request body over the limit of this route"));
        if (ec == beast::error::timeout) {
            m_impl.handler.refuse(m_request, 408, QStringLiteral("request body not complete in time"));
            return;
        }
        if (ec) {
            if (isParseError(ec))
                return refuse(400, QStringLiteral("bad request body: %1").arg(QString::fromStdString(ec.message())));
            return;
        }
        dispatch();
    }

    void dispatch()
    {
        m_request.body = std::move(m_parser->get().body());
        const bool keepAlive = m_parser->keep_alive();
        lowest().expires_never();
        {
            // Answered right here when nothing of it can block: no hand-off to a worker
            // and back.
            HttpResponse res;
            bool answered = false;
            try {
                answered = m_impl.handler.handleInline(m_request, res);
            } catch (const std::exception &e) {
                res = m_impl.handler.refuse(m_request, 500, QString::fromUtf8(e.what()));
                answered = true;
            }
            if (answered) {
                if (!keepAlive)
                    res.close = true;
                return write(std::move(res));
            }
        }
        asio::post(m_impl.workers, [self = this->shared_from_this(), keepAlive] {
            HttpResponse res;
            Streamer stream(self, keepAlive);
            self->m_request.stream = &stream;
            try {
                res = self->m_impl.handler.handle(self->m_request);
            } catch (const std::exception &e) {
                res = self->m_impl.handler.refuse(self->m_request, 500, QString::fromUtf8(e.what()));
            }
            self->m_request.stream = nullptr;
            if (!keepAlive)
                res.close = true;
            if (stream.begun()) {
                // A handler that began a streamed answer and then returned a whole one has
                // failed in a way it could not report in the stream: the answer ends cut
                // short, with the connection, which the client reads as a broken answer.
                const bool close = res.close || !res.streamed;
                asio::post(self->m_stream.get_executor(), [self, close] {
                    self->queue(Piece{Piece::Last, {}, {}, close});
                });
                return;
            }
            asio::post(self->m_stream.get_executor(), [self, res = std::move(res)]() mutable {
                self->write(std::move(res));
            });
        });
    }

    // The pieces of a streamed answer, written in order by the loop.
    struct Piece
    {
        enum Kind { Head, Chunk, Last } kind;
        std::shared_ptr<QByteArray> data;
        std::shared_ptr<HttpResponse> head;
        bool close = false;
    };

    // ResponseStream for the worker running this session's request: each piece is posted to
    // the session's loop, which writes them in turn.
    class Streamer : public ResponseStream
    {
    public:
        Streamer(std::shared_ptr<Session> session, bool keepAlive)
            : m_session(std::move(session))
            , m_keepAlive(keepAlive)
        {}
        void begin(const HttpResponse &head) override
        {
            if (m_begun)
                return;
            m_begun = true;
            auto h = std::make_shared<HttpResponse>(head);
            h->close = h->close || !m_keepAlive;
            asio::post(m_session->m_stream.get_executor(), [s = m_session, h] {
                s->queue(Piece{Piece::Head, {}, h, h->close});
            });
        }
        void write(QByteArray piece) override
        {
            if (piece.isEmpty())
                return;
            // A slow reader holds the producer back rather than the server's memory; one
            // that takes nothing for the write time limit (or a loop that has stopped) ends
            // the answer.
            const auto giveUp = std::chrono::steady_clock::now() + ms(m_session->m_impl.o.writeTimeoutMs);
            for (int waited = 0; m_session->m_unsent.load() > kMaxUnsent && !m_session->m_gone; ++waited) {
                if (std::chrono::steady_clock::now() > giveUp)
                    m_session->m_gone = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(waited < 10 ? 1 : 10));
            }
            if (m_session->m_gone)
                throw StreamGone();
            m_session->m_unsent += qint64(piece.size());
            auto data = std::make_shared<QByteArray>(std::move(piece));
            asio::post(m_session->m_stream.get_executor(), [s = m_session, data] {
                s->queue(Piece{Piece::Chunk, data, {}, false});
            });
        }
        bool begun() const override { return m_begun; }

    private:
        // Pieces handed to the loop and not yet written, per answer: enough to keep a fast
        // reader's socket full, little enough that 500 slow readers cost 1 GB at most, and
        // a reader who has gone is noticed within that much of stepping (with 16 MB an
        // answer of 10 MB could end as "sent" although its reader had left).
        static constexpr qint64 kMaxUnsent = 2 << 20;
        std::shared_ptr<Session> m_session;
        bool m_keepAlive;
        bool m_begun = false;
    };

    // On the loop: the next piece of a streamed answer.
    void queue(Piece piece)
    {
        if (m_gone)
            return;
        m_pieces.push_back(std::move(piece));
        writePiece();
    }

    void writePiece()
    {
        if (m_writingPiece || m_pieces.empty())
            return;
        m_writingPiece = true;
        Piece piece = std::move(m_pieces.front());
        m_pieces.pop_front();
        lowest().expires_after(ms(m_impl.o.writeTimeoutMs));
        auto done = [self = this->shared_from_this(), piece](beast::error_code ec, size_t) {
            self->m_writingPiece = false;
            if (ec) {
                self->m_gone = true;
                self->m_pieces.clear();
                return;
            }
            if (piece.kind == Piece::Chunk)
                self->m_unsent -= qint64(piece.data->size());
            if (piece.kind == Piece::Last) {
                self->m_headSerializer.reset();
                self->m_headMessage.reset();
                if (piece.close)
                    return self->shutdown();
                self->m_first = false;
                return self->readHeader();
            }
            self->writePiece();
        };
        switch (piece.kind) {
        case Piece::Head: {
            m_headMessage = std::make_shared<http::response<http::empty_body>>();
            auto &msg = *m_headMessage;
            msg.version(11);
            msg.result(unsigned(piece.head->status));
            if (!piece.head->contentType.empty())
                msg.set(http::field::content_type, piece.head->contentType);
            for (const auto &h : piece.head->headers)
                msg.set(h.first, h.second);
            msg.keep_alive(!piece.head->close);
            msg.chunked(true);
            m_headSerializer = std::make_shared<http::response_serializer<http::empty_body>>(msg);
            http::async_write_header(m_stream, *m_headSerializer, std::move(done));
            break;
        }
        case Piece::Chunk:
            asio::async_write(m_stream,
                              http::make_chunk(asio::buffer(piece.data->constData(), size_t(piece.data->size()))),
                              std::move(done));
            break;
        case Piece::Last:
            asio::async_write(m_stream, http::make_chunk_last(), std::move(done));
            break;
        }
    }

    void refuse(int status, const QString &why)
    {
        HttpResponse res = m_impl.handler.refuse(m_request, status, why);
        res.close = true;
        write(std::move(res));
    }

    void write(HttpResponse res)
    {
        auto msg = std::make_shared<http::response<http::string_body>>();
        msg->version(11);
        msg->result(unsigned(res.status));
        if (!res.contentType.empty())
            msg->set(http::field::content_type, res.contentType);
        for (const auto &h : res.headers)
            msg->set(h.first, h.second);
        msg->body() = std::move(res.body);
        msg->keep_alive(!res.close);
        msg->prepare_payload();
        m_close = res.close;
        lowest().expires_after(ms(m_impl.o.writeTimeoutMs));
        http::async_write(m_stream, *msg, [self = this->shared_from_this(), msg](beast::error_code ec, size_t) {
            if (ec)
                return;
            if (self->m_close)
                return self->shutdown();
            self->m_first = false;
            self->readHeader();
        });
    }

    // Closes after an answer; what the client still sends is read and dropped for a
    // moment, so that the answer is not lost to a reset.
    void shutdown()
    {
        if constexpr (kTls) {
            lowest().expires_after(ms(2000));
            m_stream.async_shutdown([self = this->shared_from_this()](beast::error_code) {});
        } else {
            beast::error_code ignored;
            m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
            drain();
        }
    }
    void drain()
    {
        lowest().expires_after(ms(2000));
        m_stream.async_read_some(asio::buffer(m_scratch),
                                 [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                     if (!ec)
                                         self->drain();
                                 });
    }

    HttpListener::Impl &m_impl;
    Stream m_stream;
    std::string m_address;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    HttpRequest m_request;
    bool m_first = true;
    bool m_close = false;
    char m_scratch[4096];
    // A streamed answer: what is still to be written (on the loop) and how much of it.
    std::deque<Piece> m_pieces;
    bool m_writingPiece = false;
    std::atomic<qint64> m_unsent{0};
    std::atomic<bool> m_gone{false};
    std::shared_ptr<http::response<http::empty_body>> m_headMessage;
    std::shared_ptr<http::response_serializer<http::empty_body>> m_headSerializer;
};

} // namespace

void HttpListener::Impl::accept()
{
    acceptor.async_accept(nextLoop(), [this](beast::error_code ec, tcp::socket socket) {
        if (!acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or the like: try again shortly rather than spin.
            retry.expires_after(ms(50));
            retry.async_wait([this](beast::error_code e) {
                if (!e)
                    accept();
            });
            return;
        }
        beast::error_code e;
        const auto peer = socket.remote_endpoint(e);
        const std::string address = e ? std::string("?") : peer.address().to_string();
        if (!admit(address)) {
            HttpRequest r;
            r.remoteAddress = address;
            const HttpResponse res = handler.refuse(r, 503, QStringLiteral("too many open connections from this address"));
            // A short answer written at once (a full socket buffer drops it: the caller is
            // over its cap and gets no more of our time).
            std::string busy = "HTTP/1.1 503 Service Unavailable\r\n";
            if (!res.contentType.empty())
                busy += "Content-Type: " + res.contentType + "\r\n";
            busy += "Content-Length: " + std::to_string(res.body.size()) + "\r\nConnection: close\r\n\r\n";
            busy += res.body;
            socket.non_blocking(true, e);
            socket.write_some(asio::buffer(busy), e);
            socket.shutdown(tcp::socket::shutdown_both, e);
            socket.close(e);
        } else {
            socket.set_option(tcp::no_delay(true), e);
            if (ssl)
                std::make_shared<Session<TlsStream>>(*this, TlsStream(std::move(socket), *ssl), address)->start();
            else
                std::make_shared<Session<beast::tcp_stream>>(*this, beast::tcp_stream(std::move(socket)), address)
                    ->start();
        }
        accept();
    });
}

HttpListener::HttpListener(HttpHandler &handler, const ListenerOptions &options)
    : d(std::make_unique<Impl>(handler, options))
{
    if (!options.certFile.empty() || !options.keyFile.empty()) {
        if (options.certFile.empty() || options.keyFile.empty())
            throw std::runtime_error("TLS needs both --cert and --key");
        d->ssl = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        beast::error_code ec;
        d->ssl->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2
                                | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1
                                | asio::ssl::context::no_tlsv1_1,
                            ec);
        d->ssl->use_certificate_chain_file(options.certFile, ec);
        if (!ec)
            d->ssl->use_private_key_file(options.keyFile, asio::ssl::context::pem, ec);
        if (ec)
            throw std::runtime_error("cannot load the TLS certificate or key");
    }
}

HttpListener::~HttpListener()
{
    stop();
}

int HttpListener::bind()
{
    beast::error_code ec;
    const auto address = asio::ip::make_address(d->o.address, ec);
    if (ec)
        throw std::runtime_error("cannot bind " + d->o.address + ": " + ec.message());
    const tcp::endpoint ep(address, quint16(d->o.port));
    d->acceptor.open(ep.protocol(), ec);
    if (!ec)
        d->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        d->acceptor.bind(ep, ec);
    if (!ec)
        d->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        throw std::runtime_error("cannot bind " + d->o.address + ":" + std::to_string(d->o.port) + ": "
                                 + ec.message());
    return d->acceptor.local_endpoint().port();
}

void HttpListener::run()
{
    // Every loop runs until stop(), also while it has no connection.
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> busy;
    for (auto &loop : d->loops)
        busy.push_back(asio::make_work_guard(*loop));
    d->isRunning = true;
    d->accept();
    // Each loop on a thread of its own, named for profilers and benchmarks ("wl-loop1" ...).
    std::vector<std::thread> threads;
    for (size_t i = 0; i < d->loops.size(); ++i)
        threads.emplace_back([loop = d->loops[i].get(), i] {
            pthread_setname_np(pthread_self(), ("wl-loop" + std::to_string(i + 1)).c_str());
            loop->run();
        });
    threads.front().join(); // the accepting loop ends only with stop()
    for (auto &loop : d->loops)
        loop->stop();
    for (auto &t : threads)
        if (t.joinable())
            t.join();
    beast::error_code ignored;
    d->acceptor.close(ignored);
    d->workers.join(); // handlers still running finish; their answers are dropped
    d->isRunning = false;
}

void HttpListener::stop()
{
    for (auto &loop : d->loops)
        loop->stop();
}

void HttpListener::stopAccepting()
{
    // On the accepting loop; the loops keep running (their work guards) so that answers of
    // requests still running are written before stop().
    asio::post(*d->loops.front(), [this] {
        beast::error_code ignored;
        d->acceptor.close(ignored);
    });
}

bool HttpListener::running() const
{
    return d->isRunning;
}

int HttpListener::openConnections() const
{
    std::lock_guard lock(d->mutex);
    return d->total;
}

} // namespace server
