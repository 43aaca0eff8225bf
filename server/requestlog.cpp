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
