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

// Slows down password guessing. Failed log-ons are counted per user name and per client
// address; past the free failures every further attempt waits a delay, counted from the
// last failure, that doubles with each failure up to a cap. A right password after the
// wait gets in and clears the user's count. Counts are forgotten after a quiet period.
class LogOnThrottle
{
public:
    using ms = std::chrono::milliseconds;
    struct Policy
    {
        int freeUserFailures = 5;
        int freeAddressFailures = 20; // an office behind one address has many users
        ms firstDelay{1000};
        ms maxDelay{16000};
        std::chrono::seconds forgetAfter{900};
        qsizetype maxEntries = 100000; // oldest forgotten beyond this
    };
    using Clock = std::chrono::steady_clock;

    explicit LogOnThrottle(Policy policy)
        : m_policy(policy)
    {}

    // How long an attempt now must wait before its password is checked.
    ms waitFor(const QString &user, const QString &address, Clock::time_point now = Clock::now());
    void failed(const QString &user, const QString &address, Clock::time_point now = Clock::now());
    void succeeded(const QString &user);
    const Policy &policy() const { return m_policy; }

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point last;
    };
    ms delayAfter(int failures, int free) const;
    ms remaining(const QString &key, int free, Clock::time_point now);
    void note(const QString &key, Clock::time_point now);

    Policy m_policy;
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries; // "u:" + user, "a:" + address
};

} // namespace server
