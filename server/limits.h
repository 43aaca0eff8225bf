#pragma once

#include "server/servererror.h"

#include <QHash>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace server {

// Maximum body sizes by route, checked before a body is read.
struct BodyLimits
{
    qint64 session = 16 * 1024;           // log-on parameters
    qint64 provider = 1024 * 1024;        // a query and its parameters
    qint64 call = 16 * 1024 * 1024;       // method parameters (ApplyData packets ...)
    qint64 upload = 64 * 1024 * 1024;     // UploadByStream, MyUpDownFile (attachments)

    // The limit of a request path; uploads by method name.
    qint64 forPath(const std::string &path) const;
    qint64 largest() const;
};

// Counts the statements each user runs at once, so that one user cannot occupy every
// worker (eight endless queries). take() waits a little for a free slot (short queries
// of the same user from several windows or places just queue), then throws
// ServerError(429).
class UserStatements
{
public:
    UserStatements(int perUser, std::chrono::milliseconds wait)
        : m_perUser(perUser)
        , m_wait(wait)
    {}

    class Slot
    {
    public:
        Slot(UserStatements *owner, QString user)
            : m_owner(owner)
            , m_user(std::move(user))
        {}
        Slot(Slot &&o) noexcept
            : m_owner(std::exchange(o.m_owner, nullptr))
            , m_user(std::move(o.m_user))
        {}
        Slot(const Slot &) = delete;
        Slot &operator=(const Slot &) = delete;
        Slot &operator=(Slot &&) = delete;
        ~Slot();

    private:
        UserStatements *m_owner;
        QString m_user;
    };

    Slot take(const QString &user);
    int running(const QString &user) const;

private:
    int m_perUser;
    std::chrono::milliseconds m_wait;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    QHash<QString, int> m_running;
};

// How failed log-ons slow down password guessing. Failures are counted per user name and
// per client address; past the free failures every further attempt waits a delay, counted
// from the last failure, that doubles with each failure up to a cap. A right password after
// the wait gets in and clears the user's count. Counts are forgotten after a quiet period.
// The counters live in the database (SharedLogOnThrottle), so that every server sees them.
struct LogOnThrottlePolicy
{
    int freeUserFailures = 5;
    int freeAddressFailures = 20; // an office behind one address has many users
    std::chrono::milliseconds firstDelay{1000};
    std::chrono::milliseconds maxDelay{16000};
    std::chrono::seconds forgetAfter{900};
};

} // namespace server
