#pragma once
// The server calls of the finance runs, kept apart from the windows: the lookup call and
// the fee call on the function dataset (one request each, as 单带 makes them) and the batch
// that fetches the answers of many lines in one request (the server's F_CallBatch, one
// statement there). Both give the same answers; every failure is one error type, RunError,
// that names the waybill and the request and carries the technical cause in its details.

#include "host/errors.h"
#include "modules/tally/financesql.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

namespace quillon {
class TMyDataSet;
}

namespace tally {

// What a message advises after a failed call.
inline const QString kAdviceConnection = QStringLiteral("请检查与服务器的连接或费用规则后再试");
inline const QString kAdviceFeeRefused = QStringLiteral("请检查这条记录的件数、重量和费用规则后再试");
inline const QString kAdviceLookupRefused = QStringLiteral("请检查这条记录的运单号后再试");

// A line of a run could not be done: message() names the waybill and what failed ("运单[…]
// 的中转费计算失败"), advice() says what to do next, details() holds the cause for the log.
class RunError : public host::UserError
{
public:
    explicit RunError(const QString &message, const QString &advice = kAdviceConnection,
                      const QString &details = {})
        : host::UserError(message, details)
        , m_advice(advice)
    {}
    const QString &advice() const noexcept { return m_advice; }

private:
    QString m_advice;
};

// A lookup of the windows: the server function, its mode (-1: the function takes none),
// the result name of the single call and what a message calls the request ("获取最大重量").
struct Lookup
{
    QString function;
    int mode = -1;
    QString resultName;
    QString what;
};

// One call of a server function for one line.
struct ServerCall
{
    QString function;  // F_CalcJSFee, F_GetAccMdd ...
    QVariantList args; // in the function's order
    QString failure;   // the message when it fails: names the waybill and the request
    QString advice;    // the advice when the server refuses the call itself

    // The call as the batch sends it (a JSON array); equal calls have equal texts.
    QString json() const;
};
ServerCall lookupCall(const QString &bill, const Lookup &lookup, const QString &sysid);
ServerCall feeCall(const QString &bill, const FeeArgs &args);

// The answer texts of a batch read back: one value per call, in order, up to the first
// failure (its index and the server's text). Pure, so tests hold it to the server's format.
struct BatchAnswers
{
    QVariantList values;
    int failedAt = -1; // -1: no failure
    QString cause;
};
BatchAnswers parseBatchAnswers(const QString &text, int calls);

class FinanceCalls
{
public:
    // Calls go through `tmp` (the window's cdsTmp), which the caller owns.
    explicit FinanceCalls(quillon::TMyDataSet *tmp)
        : m_tmp(tmp)
    {}

    // The lookup's answer as text, empty when the server has none. Raises RunError.
    QString lookup(const QString &bill, const Lookup &lookup, const QString &sysid);
    // The fee; never made up: a call without a value fails. Raises RunError.
    double fee(const QString &bill, const FeeArgs &args);

    // Fetches the answers of `calls` in one request (more only when the text would pass
    // the request size limit); lookup() and fee() with the same arguments then take the
    // answer from here instead of asking the server. A call the server refused, or the
    // first call of a request that failed, keeps its failure: the line that reaches it
    // fails there. Never raises.
    void prefetch(const QList<ServerCall> &calls);
    // Drops the fetched answers (a run's are valid only during the run).
    void forget() { m_answers.clear(); }

    // Requests sent so far (single calls and batches), for tests and figures.
    int requests() const { return m_requests; }
    int batchRequests() const { return m_batchRequests; }

    // Largest batch text of one request, in bytes (the server takes requests of 1 MB).
    static constexpr qsizetype kMaxRequestBytes = 512 * 1024;

private:
    struct Answer
    {
        QVariant value;
        std::optional<RunError> failure;
    };
    QVariant answer(const ServerCall &call, const std::function<QVariant()> &single);
    // One request for calls [from, to); false when a call failed (or the request did).
    bool fetch(const QList<ServerCall> &calls, const QStringList &texts, qsizetype from, qsizetype to);

    quillon::TMyDataSet *m_tmp;
    QHash<QString, Answer> m_answers;
    int m_requests = 0;
    int m_batchRequests = 0;
};

} // namespace tally
