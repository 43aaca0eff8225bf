#pragma once
// What several server processes on one database share through it instead of their memory:
// the outcomes of ApplyData calls by request id (a retried call returns the first outcome)
// and the counts of failed log-ons. Both live in server tables that no client connection
// can read.

#include "server/limits.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace server {

class Backend;
class Connection;

// Adds the tables (sys_request, sys_logonfail). Inside the schema transaction.
void ensureSharedStateSchema(Connection &c);

// A request id as clients send it: 8 to 64 letters, digits, "-" or "_" (a UUID fits).
bool isValidRequestId(const QString &id);

// The outcome stored for a request id of `sysid`: the refreshed packet in binary form.
// nullopt when the id is unknown. Throws ServerError(409) when the id was used by another
// user (a client must not see another's answer).
std::optional<QByteArray> storedOutcome(Connection &c, const QString &sysid,
                                        const QString &requestId, const QString &user);
// Records the outcome; inside the apply's own transaction, so that the changes and their
// outcome commit together. A second recording of the same id fails (unique key), which
// rolls the second apply back. Outcomes older than a week are removed on the way.
void recordOutcome(Connection &c, const QString &sysid, const QString &requestId,
                   const QString &user, const QByteArray &packet);

// Log-on throttling with the counters in the database: the policy of LogOnThrottlePolicy,
// counted by wall-clock milliseconds, so that every server on the database sees every
// failure. A database that cannot be reached throttles nothing (the log-on fails anyway).
class SharedLogOnThrottle
{
public:
    using ms = std::chrono::milliseconds;
    SharedLogOnThrottle(Backend &backend, LogOnThrottlePolicy policy)
        : m_backend(backend)
        , m_policy(policy)
    {}

    ms waitFor(const QString &user, const QString &address);
    void failed(const QString &user, const QString &address);
    void succeeded(const QString &user);
    const LogOnThrottlePolicy &policy() const { return m_policy; }

    // The delay after `failures` failures of which `free` cost nothing.
    static ms delayAfter(const LogOnThrottlePolicy &p, int failures, int free);

private:
    Backend &m_backend;
    LogOnThrottlePolicy m_policy;
};

} // namespace server
