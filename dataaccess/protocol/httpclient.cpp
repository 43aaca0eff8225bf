#include "dataaccess/protocol/httpclient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <poll.h>
#include <zlib.h>

#include <optional>

namespace quillon::protocol {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// A response body read straight into a QByteArray, sized once from Content-Length; or,
// for a successful uncompressed answer when a receiver is given, handed to the receiver
// piece by piece as it arrives.
struct AnswerBody
{
    struct value_type
    {
        QByteArray bytes;
        BodyReceiver *receiver = nullptr;
        bool streaming = false;
        std::exception_ptr failure; // what the receiver threw
    };

    class reader
    {
    public:
        // Made with the parser, before the header is read: what the answer is shows in init().
        template<bool isRequest, class Fields>
        reader(http::header<isRequest, Fields> &h, value_type &body)
            : m_body(body)
        {
            if constexpr (!isRequest)
                m_streamable = [&h] {
                    return h.result_int() == 200 && h[http::field::content_encoding].empty();
                };
        }

        void init(const boost::optional<std::uint64_t> &length, beast::error_code &ec)
        {
            ec = {};
            m_body.streaming = m_body.receiver && m_streamable && m_streamable();
            if (!length)
                return;
            if (*length > std::uint64_t(HttpClient::kMaxAnswerBytes)) {
                ec = http::error::body_limit;
                return;
            }
            if (m_body.streaming)
                deliver(ec, [&] { m_body.receiver->expect(qint64(*length)); });
            else
                m_body.bytes.reserve(qsizetype(*length));
        }

        template<class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence &buffers, beast::error_code &ec)
        {
            ec = {};
            std::size_t n = 0;
            for (const auto b : beast::buffers_range_ref(buffers)) {
                if (m_total + qsizetype(b.size()) > HttpClient::kMaxAnswerBytes) {
                    ec = http::error::body_limit;
                    return n;
                }
                m_total += qsizetype(b.size());
                if (m_body.streaming) {
                    const QByteArrayView piece(static_cast<const char *>(b.data()), qsizetype(b.size()));
                    if (!deliver(ec, [&] { m_body.receiver->receive(piece); }))
                        return n;
                } else {
                    m_body.bytes.append(static_cast<const char *>(b.data()), qsizetype(b.size()));
                }
                n += b.size();
            }
            return n;
        }

        void finish(beast::error_code &ec) { ec = {}; }

    private:
        // Runs what the receiver does; what it throws ends the reading.
        template<class Call>
        bool deliver(beast::error_code &ec, const Call &call)
        {
            try {
                call();
                return true;
            } catch (...) {
                m_body.failure = std::current_exception();
                ec = asio::error::operation_aborted;
                return false;
            }
        }

        value_type &m_body;
        std::function<bool()> m_streamable;
        qsizetype m_total = 0;
    };
};

QByteArray gunzip(const QByteArray &in)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        throw HttpFailure("cannot start inflating the answer");
    QByteArray out;
    out.resize(std::max<qsizetype>(in.size() * 4, 4096));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    z.avail_in = uInt(in.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (qsizetype(z.total_out) == out.size()) {
            if (out.size() >= HttpClient::kMaxAnswerBytes) {
                inflateEnd(&z);
                throw HttpFailure("the inflated answer is too large");
            }
            out.resize(std::min(out.size() * 2, HttpClient::kMaxAnswerBytes));
        }
        z.next_out = reinterpret_cast<Bytef *>(out.data()) + z.total_out;
        z.avail_out = uInt(out.size() - qsizetype(z.total_out));
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&z);
            throw HttpFailure("the compressed answer is damaged");
        }
        if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) {
            inflateEnd(&z);
            throw HttpFailure("the compressed answer is cut short");
        }
    }
    out.resize(qsizetype(z.total_out));
    inflateEnd(&z);
    return out;
}

} // namespace

struct HttpClient::Impl
{
    Options options;
    asio::io_context ioc;
    std::optional<asio::ssl::context> tlsContext;
    std::optional<beast::tcp_stream> plain;
    std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
    beast::flat_buffer buffer;

    beast::tcp_stream &lowest() { return secure ? beast::get_lowest_layer(*secure) : *plain; }
    bool connected() { return (plain || secure) && lowest().socket().is_open(); }

    // Runs one asynchronous operation to its end under the time limit; the stream closes
    // itself when the limit passes, which ends the operation with a timeout.
    template<class Start>
    void run(const char *what, Start &&start)
    {
        beast::error_code result = asio::error::would_block;
        lowest().expires_after(std::chrono::milliseconds(options.timeoutMs));
        start([&result](beast::error_code ec, auto &&...) { result = ec; });
        ioc.restart();
        ioc.run();
        if (result)
            throw HttpFailure(std::string(what) + ": " + result.message());
    }

    void drop()
    {
        if (plain || secure) {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
            lowest().close();
        }
        secure.reset();
        plain.reset();
        buffer.clear();
    }

    // A kept-alive socket the server has closed (or that holds bytes nobody asked for)
    // is readable while idle.
    bool staleWhileIdle()
    {
        if (buffer.size() > 0)
            return true;
        pollfd p{lowest().socket().native_handle(), POLLIN, 0};
        return ::poll(&p, 1, 0) != 0;
    }

    void connect()
    {
        drop();
        tcp::resolver resolver(ioc);
        beast::error_code ec;
        const auto endpoints = resolver.resolve(options.host, std::to_string(options.port), ec);
        if (ec)
            throw HttpFailure("resolve " + options.host + ": " + ec.message());
        if (!options.tls) {
            plain.emplace(ioc);
            run("connect", [&](auto handler) { plain->async_connect(endpoints, handler); });
            plain->socket().set_option(tcp::no_delay(true), ec);
            return;
        }
        makeTlsContext();
        secure.emplace(ioc, *tlsContext);
        asio::ip::make_address(options.host, ec);
        if (ec) // a name, not an address: say which server is meant
            SSL_set_tlsext_host_name(secure->native_handle(), options.host.c_str());
        if (options.verifyPeer)
            secure->set_verify_callback(asio::ssl::host_name_verification(options.host));
        run("connect", [&](auto handler) { beast::get_lowest_layer(*secure).async_connect(endpoints, handler); });
        beast::get_lowest_layer(*secure).socket().set_option(tcp::no_delay(true), ec);
        run("TLS handshake", [&](auto handler) { secure->async_handshake(asio::ssl::stream_base::client, handler); });
    }

    void makeTlsContext()
    {
        if (tlsContext)
            return;
        try {
            asio::ssl::context ctx(asio::ssl::context::tls_client);
            if (options.verifyPeer) {
                ctx.set_verify_mode(asio::ssl::verify_peer);
                if (options.caCertFile.empty())
                    ctx.set_default_verify_paths();
                else
                    ctx.load_verify_file(options.caCertFile);
            } else {
                ctx.set_verify_mode(asio::ssl::verify_none);
            }
            tlsContext.emplace(std::move(ctx));
        } catch (const boost::system::system_error &e) {
            throw HttpFailure("TLS set-up (" + options.caCertFile + "): " + e.what());
        }
    }

    // The time limit counts while nothing moves, as a read or write timeout does: a large
    // upload or answer on a slow line may take longer in all, as long as it flows.
    template<class Message>
    void write(Message &m)
    {
        http::serializer<true, typename Message::body_type, typename Message::fields_type> sr(m);
        while (!sr.is_done()) {
            if (secure)
                run("send", [&](auto handler) { http::async_write_some(*secure, sr, handler); });
            else
                run("send", [&](auto handler) { http::async_write_some(*plain, sr, handler); });
        }
    }

    template<class Parser>
    void read(Parser &p)
    {
        while (!p.is_done()) {
            if (secure)
                run("receive", [&](auto handler) { http::async_read_some(*secure, buffer, p, handler); });
            else
                run("receive", [&](auto handler) { http::async_read_some(*plain, buffer, p, handler); });
        }
    }
};

HttpClient::HttpClient(Options options)
    : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
    // Beast reads as much as the buffer has room for, at most 64 KB: room given once
    // keeps every read of a large answer at that size.
    d->buffer.reserve(64 * 1024);
}

HttpClient::~HttpClient()
{
    d->drop();
}

void HttpClient::setTimeout(int ms)
{
    d->options.timeoutMs = ms;
}

void HttpClient::close()
{
    d->drop();
}

HttpClient::Answer HttpClient::post(const std::string &target, const Headers &headers,
                                    QByteArrayView body, const std::string &contentType,
                                    BodyReceiver *receiver)
{
    http::request<http::span_body<const char>> req;
    req.method(http::verb::post);
    req.target(target);
    req.version(11);
    const std::string &host = d->options.host;
    const bool ipv6 = host.find(':') != std::string::npos; // an address like ::1 goes in brackets
    req.set(http::field::host, (ipv6 ? '[' + host + ']' : host) + ':' + std::to_string(d->options.port));
    req.set(http::field::content_type, contentType);
    for (const auto &[name, value] : headers)
        req.set(name, value);
    req.body() = {body.data(), std::size_t(body.size())};
    req.prepare_payload();

    bool reused = d->connected();
    if (reused && d->staleWhileIdle()) {
        d->drop();
        reused = false;
    }
    for (int attempt = 0;; ++attempt) {
        if (!d->connected())
            d->connect();
        http::response_parser<AnswerBody> parser;
        parser.get().body().receiver = receiver;
        // An explicit limit: Boost 1.74 takes "none" for a limit of 0 on some paths.
        parser.body_limit(std::uint64_t(kMaxAnswerBytes));
        parser.header_limit(64 * 1024);
        try {
            d->write(req);
            d->read(parser);
        } catch (const HttpFailure &) {
            d->drop();
            if (parser.get().body().failure) // the receiver refused what arrived
                std::rethrow_exception(parser.get().body().failure);
            // The server closed a kept-alive connection just as the request went out:
            // nothing of an answer came, so it was not taken; send it once more.
            if (!reused || attempt > 0 || parser.got_some())
                throw;
            reused = false;
            continue;
        }
        auto &res = parser.get();
        Answer answer;
        answer.status = int(res.result_int());
        answer.contentType = QByteArray::fromStdString(std::string(res[http::field::content_type]));
        const bool gzip = beast::iequals(res[http::field::content_encoding], "gzip");
        answer.streamed = res.body().streaming;
        answer.body = gzip ? gunzip(res.body().bytes) : std::move(res.body().bytes);
        if (!res.keep_alive())
            d->drop();
        return answer;
    }
}

} // namespace quillon::protocol
