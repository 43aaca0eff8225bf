#include "server/requestlog.h"

#include <QDateTime>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace server {

namespace {

// Local time as "yyyy-MM-ddTHH:mm:ss.zzz" (what Qt::ISODateWithMs gives for a local time),
// without QDateTime's time-zone machinery on every request.
QByteArray timestamp()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ld", local.tm_year + 1900,
                                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                long(now.tv_nsec / 1000000));
    return QByteArray(text, n);
}

} // namespace

RequestLog::RequestLog(const QString &file)
{
    if (!file.isEmpty()) {
        m_file.setFileName(file);
        if (!m_file.open(QIODevice::Append | QIODevice::Text))
            std::fprintf(stderr, "waylink-server: cannot open log %s, logging to stderr\n",
                         qPrintable(file));
    }
}

RequestLog::~RequestLog()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    flush();
}

void RequestLog::note(const QString &text)
{
    if (quiet)
        return;
    append(timestamp() + ' ' + text.toUtf8() + '\n');
}

void RequestLog::append(const QByteArray &line)
{
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_writer.joinable() && !m_stop)
            m_writer = std::thread([this] { run(); });
        m_pending += line;
        wake = m_pending.size() >= kFlushBytes;
    }
    if (wake)
        m_wake.notify_one();
}

void RequestLog::run()
{
    pthread_setname_np(pthread_self(), "wl-log");
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, std::chrono::milliseconds(kFlushMs),
                        [this] { return m_stop || m_pending.size() >= kFlushBytes; });
        if (m_pending.isEmpty())
            continue;
        lock.unlock();
        flush();
        lock.lock();
    }
}

void RequestLog::flush()
{
    std::lock_guard fileLock(m_fileMutex);
    QByteArray lines;
    {
        std::lock_guard lock(m_mutex);
        lines.swap(m_pending);
    }
    if (!lines.isEmpty())
        writeOut(lines);
}

void RequestLog::writeOut(const QByteArray &lines)
{
    if (m_file.isOpen()) {
        m_file.write(lines);
        m_file.flush();
    } else {
        std::fwrite(lines.constData(), 1, size_t(lines.size()), stderr);
        std::fflush(stderr);
    }
}

QString RequestLog::escape(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (const QChar ch : field) {
        const char16_t u = ch.unicode();
        if (u == u'\\') {
            out += QLatin1String("\\\\");
        } else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029
                   || u == 0x85) {
            // Line breaks of any kind and other control characters: visible, never raw.
            out += u < 0x100 ? QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'))
                             : QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        } else {
            out += ch;
        }
    }
    return out;
}

void RequestLog::write(const QString &what, const QString &user, double millis, int status,
                       const QString &error)
{
    if (quiet)
        return;
    QString text = QStringLiteral("%1 user=%2 %3ms status=%4")
                       .arg(escape(what), user.isEmpty() ? QStringLiteral("-")
                                                         : escape(user).replace(QLatin1Char(' '),
                                                                                QLatin1String("\\x20")))
                       .arg(millis, 0, 'f', 2)
                       .arg(status);
    if (!error.isEmpty())
        text += QStringLiteral(" error=") + escape(error);
    note(text);
}

} // namespace server
