#pragma once

#include <QFile>
#include <QString>
#include <mutex>

namespace server {

// One line per request: time, route or method, user, duration, status and error text.
// Every field that a client can influence is escaped (control characters and line breaks
// as \xNN or \uNNNN, the backslash doubled), so each line is one real request.
// Writes to a file (appending) or, without one, to stderr. Thread-safe.
class RequestLog
{
public:
    explicit RequestLog(const QString &file = QString());
    void write(const QString &what, const QString &user, double millis, int status,
               const QString &error = QString());
    void note(const QString &text);
    static QString escape(const QString &field);
    bool quiet = false; // tests: no output

private:
    std::mutex m_mutex;
    QFile m_file;
};

} // namespace server
