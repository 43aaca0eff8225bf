#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace server {

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
// F_GetSignSite, F_GetFirstSite or F_GetWeight (name compared without regard to case).
// Rules are documented in docs/fees.md. An unknown mode or a waybill without the event
// gives NULL; a fee without a matching rule gives 0.
QVariant callServerFunction(const QString &name, const QVariantList &args, RuleReader &db);

// The fee rule of F_CalcJSFee on its own (weight bands, specificity), for tests and docs.
struct FeeQuery
{
    QString firstSite, dest, feeType, fastType, goodsType, finance, opSite, sysid;
    int pcs = 0;
    double weight = 0, bulkWeight = 0;
    QString validTime; // canonical date text, empty = now
};
double calcFee(const FeeQuery &q, RuleReader &db);

} // namespace server
