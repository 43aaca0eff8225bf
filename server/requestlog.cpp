#include "server/requestlog.h"

#include <QDateTime>
#include <cstdio>

namespace server {

RequestLog::RequestLog(const QString &file)
{
    if (!file.isEmpty()) {
        m_file.setFileName(file);
        if (!m_file.open(QIODevice::Append | QIODevice::Text))
            std::fprintf(stderr, "waylink-server: cannot open log %s, logging to stderr\n",
                         qPrintable(file));
    }
}

void RequestLog::note(const QString &text)
{
    if (quiet)
        return;
    const QByteArray line = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs)
                             + QLatin1Char(' ') + text + QLatin1Char('\n'))
                                .toUtf8();
    std::lock_guard lock(m_mutex);
    if (m_file.isOpen()) {
        m_file.write(line);
        m_file.flush();
    } else {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
}

void RequestLog::write(const QString &what, const QString &user, double millis, int status,
                       const QString &error)
{
    QString text = QStringLiteral("%1 user=%2 %3ms status=%4")
                       .arg(what, user.isEmpty() ? QStringLiteral("-") : user)
                       .arg(millis, 0, 'f', 2)
                       .arg(status);
    if (!error.isEmpty())
        text += QStringLiteral(" error=") + QString(error).replace(QLatin1Char('\n'), QLatin1Char(' '));
    note(text);
}

} // namespace server
