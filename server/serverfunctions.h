#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <stdexcept>

namespace server {

// A call that a server function cannot answer: a fee it cannot price, a batch that is not
// one. The text is technical (for the log); the calling window says what to do.
class FunctionRefused : public std::runtime_error
{
public:
    explicit FunctionRefused(const QString &message)
        : std::runtime_error(message.toStdString())
    {}
};

// What F_CalcJSFee prices. Beyond these the double arithmetic of the formula (and of the
// PostgreSQL twin) can no longer give a fee exact to the cent, or overflows: such a call is
// refused on both backends rather than answered with 0, inf or a wrapped piece count.
inline constexpr double kMaxPieces = 2147483647.0; // a piece count is a 32-bit integer
inline constexpr double kMaxFeeWeight = 1e9;       // kg, either weight, either sign
inline constexpr double kMaxFee = 1e13;            // the priced fee before rounding


// Read access to the database for the server functions; each backend supplies one that
// runs on the connection that evaluates the calling statement.
class RuleReader
{
public:
    virtual ~RuleReader() = default;
    virtual QList<QVariantList> rows(const QString &sql, const QVariantList &params) = 0;
    QVariant scalar(const QString &sql, const QVariantList &params);
};

// The server functions that the finance windows call, with their argument counts.
struct ServerFunction
{
    const char *name;
    int argCount;
};
const QList<ServerFunction> &serverFunctions();

// Evaluates F_CalcJSFee, F_GetFFSite, F_GetSJSite, F_GetAccMdd, F_GetMaxWeight,
// F_GetSignSite, F_GetFirstSite, F_GetWeight or F_CallBatch (name compared without regard
// to case). Rules are documented in docs/fees.md. An unknown mode or a waybill without the
// event gives NULL; a fee without a matching rule gives 0; a fee that cannot be priced
// raises FunctionRefused.
QVariant callServerFunction(const QString &name, const QVariantList &args, RuleReader &db);

// The fee rule of F_CalcJSFee on its own (weight bands, specificity), for tests and docs.
struct FeeQuery
{
    QString firstSite, dest, feeType, fastType, goodsType, finance, opSite, sysid;
    double pcs = 0; // whole pieces; checked against kMaxPieces
    double weight = 0, bulkWeight = 0;
    QString validTime; // canonical date text, empty = now
};
// Raises FunctionRefused for what it cannot price (see kMaxPieces ...).
double calcFee(const FeeQuery &q, RuleReader &db);

// F_CallBatch: many calls of the functions below in one statement. The batch is a JSON
// array of calls, each an array of the function name and its arguments (texts, numbers,
// null); the answer is a JSON array with one value per call, in order. The first call that
// fails ends the answer with {"error": text} in its place; the calls after it are not run.
inline constexpr int kMaxBatchCalls = 5000;
inline constexpr qsizetype kMaxBatchBytes = 4 * 1024 * 1024;
QString callBatch(const QString &batch, RuleReader &db);

} // namespace server
