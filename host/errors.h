#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace host {

// Whether a text is written for the users of this system (holds Chinese characters);
// technical texts of libraries and servers are English and are wrapped before users see them.
inline bool looksChinese(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// Implemented by errors of lower layers (the wire protocol) that carry a text for users
// apart from their technical text; the error display shows the first and folds the second
// away. Not an exception type itself, so catching std::exception stays unambiguous.
class UserFacing
{
public:
    virtual ~UserFacing() = default;
    virtual QString userText() const = 0;      // empty: no user text, show a generic one
    virtual QString technicalText() const = 0; // for the log and the 详细信息 part
};

// An error the user should read: it reaches the application's error display, which shows
// message() in an error dialog. Non-UI code throws it instead of opening dialogs.
class UserError : public std::exception
{
public:
    explicit UserError(QString message, QString details = {})
        : m_message(std::move(message))
        , m_details(std::move(details))
        , m_utf8(m_message.toUtf8())
    {}
    const QString &message() const noexcept { return m_message; }
    // Technical detail for the log and the dialog's 详细信息 part; empty when none.
    const QString &details() const noexcept { return m_details; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QString m_details;
    QByteArray m_utf8;
};

// Stops an action after its message was already shown; the error display swallows it.
class SilentAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "silent abort"; }
};

} // namespace host
