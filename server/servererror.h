#pragma once

#include <QString>
#include <stdexcept>

namespace server {

// A refusal or failure of the server as the caller gets it: the HTTP status, the text the
// user is shown (Chinese, says what to do next) and the technical reason for the log.
class ServerError : public std::runtime_error
{
public:
    ServerError(int status, const QString &userText, const QString &reason = QString())
        : std::runtime_error((reason.isEmpty() ? userText : reason).toStdString())
        , m_status(status)
        , m_userText(userText)
        , m_reason(reason.isEmpty() ? userText : reason)
    {}
    int status() const noexcept { return m_status; }
    const QString &userText() const noexcept { return m_userText; }
    const QString &reason() const noexcept { return m_reason; }

private:
    int m_status;
    QString m_userText;
    QString m_reason;
};

} // namespace server
