#pragma once

#include <QFile>
#include <QString>
#include <mutex>

namespace server {

// One line per request: time, route or method, user, duration, status and error text.
// Writes to a file (appending) or, without one, to stderr. Thread-safe.
class RequestLog
{
public:
    explicit RequestLog(const QString &file = QString());
    void write(const QString &what, const QString &user, double millis, int status,
               const QString &error = QString());
    void note(const QString &text);
    bool quiet = false; // tests: no output

private:
    std::mutex m_mutex;
    QFile m_file;
};

} // namespace server
