#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace host {

// An error the user should read: it reaches the application's error display, which shows
// message() in an error dialog. Non-UI code throws it instead of opening dialogs.
class UserError : public std::exception
{
public:
    explicit UserError(QString message)
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
    {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Stops an action after its message was already shown; the error display swallows it.
class SilentAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "silent abort"; }
};

} // namespace host
