#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace server {

// One line per request: time, route or method, user, duration, status and error text.
// Every field that a client can influence is escaped (control characters and line breaks
// as \xNN or \uNNNN, the backslash doubled), so each line is one real request.
// Writes to a file (appending) or, without one, to stderr. Thread-safe.
//
// Lines are collected in memory and written by a thread of the log ("wl-log") every
// kFlushMs or once kFlushBytes are waiting: a request's thread only formats its line and
// appends it, with no system call and no wait for the file (a write per request took a
// seventh of the server's time on short calls, and the event loops queued for the file).
// flush() writes what is waiting at once; the destructor does so too. Lines of a process
// that is killed within kFlushMs of them are lost.
class RequestLog
{
public:
    static constexpr int kFlushMs = 200;
    static constexpr qsizetype kFlushBytes = 64 * 1024;

    explicit RequestLog(const QString &file = QString());
    ~RequestLog();
    RequestLog(const RequestLog &) = delete;
    RequestLog &operator=(const RequestLog &) = delete;

    void write(const QString &what, const QString &user, double millis, int status,
               const QString &error = QString());
    void note(const QString &text);
    // Writes every waiting line before it returns.
    void flush();
    static QString escape(const QString &field);
    bool quiet = false; // tests: no output

private:
    void append(const QByteArray &line);
    void writeOut(const QByteArray &lines); // under m_fileMutex
    void run();

    std::mutex m_mutex; // m_pending, m_stop, the writer's start
    std::condition_variable m_wake;
    QByteArray m_pending;
    bool m_stop = false;
    std::thread m_writer;
    std::mutex m_fileMutex; // keeps the order of what flush() and the writer write
    QFile m_file;
};

} // namespace server
