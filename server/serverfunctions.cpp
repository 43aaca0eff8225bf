#include "server/serverfunctions.h"

#include "server/sql/oracledialect.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cmath>

namespace server {

QVariant RuleReader::scalar(const QString &sql, const QVariantList &params)
{
    const QList<QVariantList> r = rows(sql, params);
    if (r.isEmpty() || r.first().isEmpty())
        return QVariant();
    return r.first().first();
}

const QList<ServerFunction> &serverFunctions()
{
    static const QList<ServerFunction> list = {
        {"F_CalcJSFee", 15},  {"F_GetFFSite", 2},   {"F_GetSJSite", 2},
        {"F_GetAccMdd", 3},   {"F_GetMaxWeight", 2}, {"F_GetSignSite", 2},
        {"F_GetFirstSite", 3}, {"F_GetWeight", 3},  {"F_CallBatch", 1},
    };
    return list;
}

namespace {

QString text(const QVariant &v)
{
    return v.isNull() ? QString() : v.toString().trimmed();
}

double number(const QVariant &v)
{
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    return ok ? d : 0.0;
}

// A number argument: NULL is 0 (as the PostgreSQL twin's coalesce); a text that is no
// number (an empty one too) is refused there by the cast, so here as well.
double strictNumber(const QVariant &v, const char *what)
{
    if (v.isNull())
        return 0.0;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toDouble();
    default:
        break;
    }
    const QString t = v.toString().trimmed();
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok)
        throw FunctionRefused(QStringLiteral("%1 \"%2\" is no number")
                                  .arg(QLatin1String(what), t.left(40)));
    return d;
}

// The site to which a waybill number was issued: the latest issue range that holds it
// (ranges compare as numbers of the same length).
QVariant issueSite(const QString &bill, const QString &sysid, RuleReader &db)
{
    return db.scalar(QStringLiteral(
                         "select SITENAME from TAB_BILLISSUE where sysid=? "
                         "and length(BILLSTART)=length(?) and ? between BILLSTART and BILLEND "
                         "order by ISSUETIME desc limit 1"),
                     {sysid, bill, bill});
}

QVariant nonEmpty(const QVariant &v)
{
    return text(v).isEmpty() ? QVariant() : QVariant(text(v));
}

} // namespace

double calcFee(const FeeQuery &q, RuleReader &db)
{
    const QString when = q.validTime.isEmpty() ? canonicalDate(QDateTime::currentDateTime())
                                               : q.validTime;
    // Refused before anything is read: the answer must not depend on whether a rule exists.
    const double pcs = std::trunc(q.pcs);
    if (!(std::fabs(pcs) <= kMaxPieces))
        throw FunctionRefused(QStringLiteral("F_CalcJSFee: %1 pieces cannot be priced (at most %2)")
                                  .arg(q.pcs, 0, 'g', 17)
                                  .arg(kMaxPieces, 0, 'f', 0));
    for (const double w : {q.weight, q.bulkWeight})
        if (!(std::fabs(w) <= kMaxFeeWeight))
            throw FunctionRefused(QStringLiteral("F_CalcJSFee: a weight of %1 kg cannot be priced (at most %2)")
                                      .arg(w, 0, 'g', 17)
                                      .arg(kMaxFeeWeight, 0, 'g', 17));
    const double weight = std::max(q.weight, q.bulkWeight);
    const QList<QVariantList> rules = db.rows(
        QStringLiteral("select RULEID, FINANCE, FIRSTSITE, DEST, GOODSTYPE, WEIGHTFROM, WEIGHTTO, "
                       "BASEFEE, FIRSTWEIGHT, PERKG, PERPCS, MINFEE from TAB_FEERULE "
                       "where sysid=? and FEETYPE=? "
                       "and (VALIDFROM is null or VALIDFROM<=?) and (VALIDTO is null or VALIDTO>=?) "
                       "order by RULEID"),
        {q.sysid, q.feeType, when, when});
    const QString keys[4] = {q.finance, q.firstSite, q.dest, q.goodsType};
    const QVariantList *best = nullptr;
    int bestScore = -1;
    double bestFrom = -1;
    for (const QVariantList &r : rules) {
        int score = 0;
        bool match = true;
        for (int k = 0; k < 4 && match; ++k) {
            const QString ruleValue = text(r.at(1 + k));
            if (ruleValue.isEmpty() || ruleValue == QLatin1String("*"))
                continue;
            if (ruleValue != keys[k].trimmed())
                match = false;
            else
                score += 1 << (3 - k); // finance centre outranks site, destination, goods
        }
        if (!match)
            continue;
        const double from = number(r.at(5));
        const QVariant to = r.at(6);
        if (weight < from || (!to.isNull() && weight >= number(to)))
            continue;
        // Ties: the band that starts higher (the narrower one), then the lowest RULEID.
        if (score > bestScore || (score == bestScore && from > bestFrom)) {
            best = &r;
            bestScore = score;
            bestFrom = from;
        }
    }
    if (!best)
        return 0.0;
    const QVariantList &r = *best;
    const double over = std::max(0.0, weight - number(r.at(8)));
    // Weight over the first weight is charged per started half kilogram.
    const double steps = std::ceil(over * 2.0 - 1e-9) / 2.0;
    double fee = number(r.at(7)) + steps * number(r.at(9)) + std::max(0.0, pcs) * number(r.at(10));
    fee = std::max(fee, number(r.at(11)));
    if (!(std::fabs(fee) <= kMaxFee))
        throw FunctionRefused(QStringLiteral("F_CalcJSFee: a fee of %1 cannot be priced to the cent (rule %2)")
                                  .arg(fee, 0, 'g', 17)
                                  .arg(text(r.at(0))));
    return std::round(fee * 100.0) / 100.0;
}

QVariant callServerFunction(const QString &name, const QVariantList &args, RuleReader &db)
{
    const QString f = name.toLower();
    auto arg = [&args](int i) { return i < args.size() ? args.at(i) : QVariant(); };
    const QString bill = text(arg(0));
    // The mode of a lookup: NULL matches no mode (as in the twin's "case trunc(mode)").
    auto modeOf = [&arg](int i) {
        return arg(i).isNull() ? -1.0 : std::trunc(strictNumber(arg(i), "mode"));
    };

    if (f == QLatin1String("f_calcjsfee")) {
        FeeQuery q;
        q.firstSite = text(arg(0));
        q.dest = text(arg(1));
        q.feeType = text(arg(2));
        q.pcs = strictNumber(arg(3), "F_CalcJSFee: Pi_PCS");
        q.weight = strictNumber(arg(4), "F_CalcJSFee: Pi_Weight");
        q.bulkWeight = strictNumber(arg(5), "F_CalcJSFee: Pi_BulkWeight");
        q.fastType = text(arg(6));
        q.goodsType = text(arg(7));
        q.finance = text(arg(10));
        q.opSite = text(arg(11));
        QDateTime when;
        if (parseCanonicalDate(text(arg(13)), &when))
            q.validTime = canonicalDate(when);
        q.sysid = text(arg(14));
        return calcFee(q, db);
    }
    if (f == QLatin1String("f_getffsite"))
        return nonEmpty(issueSite(bill, text(arg(1)), db));
    if (f == QLatin1String("f_getsjsite"))
        return nonEmpty(db.scalar(QStringLiteral("select SITENAME from TAB_PICKUP where BILLCODE=? "
                                                 "and sysid=? order by PICKTIME limit 1"),
                                  {bill, text(arg(1))}));
    if (f == QLatin1String("f_getaccmdd")) {
        const double mode = modeOf(1);
        const QString sysid = text(arg(2));
        if (mode == 0)
            return nonEmpty(db.scalar(QStringLiteral("select DEST from TAB_BILLENTRY where BILLCODE=? "
                                                     "and sysid=? order by ENTRYTIME desc limit 1"),
                                      {bill, sysid}));
        if (mode == 1)
            return nonEmpty(db.scalar(
                QStringLiteral("select s.DEFAULTMDD from TAB_SIGN g join tab_Site s "
                               "on s.SiteName=g.SIGNSITE and s.sysid=g.sysid "
                               "where g.BILLCODE=? and g.sysid=? order by g.SIGNTIME desc limit 1"),
                {bill, sysid}));
        return QVariant();
    }
    if (f == QLatin1String("f_getmaxweight")) {
        const QVariant w = db.scalar(
            QStringLiteral("select max(WEIGHT) from ("
                           "select WEIGHT from TAB_PICKUP where BILLCODE=?1 and sysid=?2 "
                           "union all select WEIGHT from TAB_BILLENTRY where BILLCODE=?1 and sysid=?2 "
                           "union all select WEIGHT from TAB_SCAN where BILLCODE=?1 and sysid=?2 "
                           "union all select WEIGHT from TAB_WAYBILL where BILLCODE=?1 and sysid=?2)"),
            {bill, text(arg(1))});
        return w.isNull() ? QVariant() : QVariant(number(w));
    }
    if (f == QLatin1String("f_getsignsite"))
        return nonEmpty(db.scalar(QStringLiteral("select SIGNSITE from TAB_SIGN where BILLCODE=? "
                                                 "and sysid=? order by SIGNTIME desc limit 1"),
                                  {bill, text(arg(1))}));
    if (f == QLatin1String("f_getfirstsite")) {
        const double mode = modeOf(1);
        const QString sysid = text(arg(2));
        if (mode == 0)
            return nonEmpty(issueSite(bill, sysid, db));
        if (mode == 1)
            return nonEmpty(db.scalar(QStringLiteral("select SENDSITE from TAB_BILLENTRY where "
                                                     "BILLCODE=? and sysid=? order by ENTRYTIME "
                                                     "desc limit 1"),
                                      {bill, sysid}));
        return QVariant();
    }
    if (f == QLatin1String("f_getweight")) {
        const double mode = modeOf(1);
        const QString sysid = text(arg(2));
        QVariant w;
        if (mode == 0)
            w = db.scalar(QStringLiteral("select WEIGHT from TAB_BILLENTRY where BILLCODE=? and "
                                         "sysid=? order by ENTRYTIME desc limit 1"),
                          {bill, sysid});
        else if (mode == 2)
            w = db.scalar(QStringLiteral("select WEIGHT from TAB_WAYBILL where BILLCODE=? and sysid=?"),
                          {bill, sysid});
        return w.isNull() ? QVariant() : QVariant(number(w));
    }
    if (f == QLatin1String("f_callbatch"))
        return arg(0).isNull() ? QVariant() : QVariant(callBatch(arg(0).toString(), db));
    return QVariant();
}

namespace {

QVariant fromJson(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::String:
        return v.toString();
    case QJsonValue::Double:
        return v.toDouble();
    case QJsonValue::Null:
        return QVariant();
    default:
        throw FunctionRefused(QStringLiteral("F_CallBatch: an argument is a text, a number or null"));
    }
}

QJsonValue toJson(const QVariant &v)
{
    if (v.isNull() || !v.isValid())
        return QJsonValue(QJsonValue::Null);
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int)
        return QJsonValue(v.toDouble());
    return QJsonValue(v.toString());
}

} // namespace

QString callBatch(const QString &batch, RuleReader &db)
{
    if (batch.size() > kMaxBatchBytes)
        throw FunctionRefused(QStringLiteral("F_CallBatch: a batch is at most %1 bytes").arg(kMaxBatchBytes));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(batch.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        throw FunctionRefused(QStringLiteral("F_CallBatch: a batch is a JSON array of calls"));
    const QJsonArray calls = doc.array();
    if (calls.size() > kMaxBatchCalls)
        throw FunctionRefused(QStringLiteral("F_CallBatch: a batch holds at most %1 calls").arg(kMaxBatchCalls));
    // The functions a batch may call: the finance functions, nothing else (not itself).
    auto callable = [](const QString &name) {
        for (const ServerFunction &f : serverFunctions())
            if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
                return name.compare(QLatin1String("F_CallBatch"), Qt::CaseInsensitive) != 0 ? f.argCount : -1;
        return -1;
    };
    QJsonArray answers;
    for (const QJsonValue &call : calls) {
        try {
            const QJsonArray c = call.toArray();
            const int argCount = c.isEmpty() ? -1 : callable(c.first().toString());
            if (argCount < 0 || c.size() != argCount + 1)
                throw FunctionRefused(QStringLiteral("F_CallBatch: a call is [function, its %1 arguments] "
                                                     "of a finance function")
                                          .arg(argCount < 0 ? QStringLiteral("n") : QString::number(argCount)));
            QVariantList args;
            for (qsizetype i = 1; i < c.size(); ++i)
                args.append(fromJson(c.at(i)));
            answers.append(toJson(callServerFunction(c.first().toString(), args, db)));
        } catch (const std::exception &e) {
            // The first failing call ends the batch: the caller stops at its line.
            answers.append(QJsonObject{{QStringLiteral("error"), QString::fromUtf8(e.what())}});
            break;
        }
    }
    return QString::fromUtf8(QJsonDocument(answers).toJson(QJsonDocument::Compact));
}

} // namespace server
