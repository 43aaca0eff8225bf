#pragma once
// A loopback relay between a client and the application server that keeps a copy of every
// request it passes on: what the server receives, byte for byte, without touching either
// side. Tests point the client at port() instead of the server's port.
#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class WireTap
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray body;
    };

    explicit WireTap(int serverPort)
        : m_serverPort(serverPort)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::listen(m_listen, 16) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_acceptThread = std::thread([this] { acceptLoop(); });
    }

    ~WireTap()
    {
        m_stop = true;
        if (m_acceptThread.joinable())
            m_acceptThread.join();
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_fds)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread &t : m_threads)
            t.join();
        std::lock_guard lock(m_mutex);
        for (int fd : m_fds)
            ::close(fd);
        if (m_listen >= 0)
            ::close(m_listen);
    }

    int port() const { return m_port; }

    QList<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_requests.clear();
    }

private:
    void acceptLoop()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(m_listen, nullptr, nullptr);
            if (client < 0)
                continue;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(quint16(m_serverPort));
            if (server < 0 || ::connect(server, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
                ::close(client);
                if (server >= 0)
                    ::close(server);
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_fds.push_back(client);
            m_fds.push_back(server);
            m_threads.emplace_back([this, client, server] { pump(client, server, true); });
            m_threads.emplace_back([this, client, server] { pump(server, client, false); });
        }
    }

    // Copies bytes from one socket to the other until either ends; the client's side is
    // also cut into requests (header, then Content-Length bytes of body).
    void pump(int from, int to, bool requests)
    {
        QByteArray pending;
        char buf[16384];
        while (!m_stop) {
            pollfd p{from, POLLIN, 0};
            const int r = ::poll(&p, 1, 50);
            if (r == 0)
                continue;
            if (r < 0)
                break;
            const ssize_t n = ::recv(from, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            if (requests) {
                pending.append(buf, n);
                cut(pending);
            }
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::send(to, buf + done, size_t(n - done), MSG_NOSIGNAL);
                if (w <= 0)
                    return;
                done += w;
            }
        }
        ::shutdown(to, SHUT_RDWR);
    }

    void cut(QByteArray &pending)
    {
        for (;;) {
            const qsizetype end = pending.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = pending.left(end).split('\n');
            qsizetype length = 0;
            for (const QByteArray &line : lines) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                    length = line.mid(colon + 1).trimmed().toLongLong();
            }
            if (pending.size() < end + 4 + length)
                return;
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            Request req{first.value(0), first.value(1), pending.mid(end + 4, length)};
            pending.remove(0, end + 4 + length);
            std::lock_guard lock(m_mutex);
            m_requests.append(req);
        }
    }

    int m_serverPort;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<int> m_fds;
    std::thread m_acceptThread;
    std::vector<std::thread> m_threads; // the pumps, two per connection
    QList<Request> m_requests;
};

} // namespace testsupport
