#include "server/serverfunctions.h"

#include "server/sql/oracledialect.h"

#include <QDateTime>
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
        {"F_GetFirstSite", 3}, {"F_GetWeight", 3},
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
    double fee = number(r.at(7)) + steps * number(r.at(9)) + std::max(0, q.pcs) * number(r.at(10));
    fee = std::max(fee, number(r.at(11)));
    return std::round(fee * 100.0) / 100.0;
}

QVariant callServerFunction(const QString &name, const QVariantList &args, RuleReader &db)
{
    const QString f = name.toLower();
    auto arg = [&args](int i) { return i < args.size() ? args.at(i) : QVariant(); };
    const QString bill = text(arg(0));

    if (f == QLatin1String("f_calcjsfee")) {
        FeeQuery q;
        q.firstSite = text(arg(0));
        q.dest = text(arg(1));
        q.feeType = text(arg(2));
        q.pcs = int(number(arg(3)));
        q.weight = number(arg(4));
        q.bulkWeight = number(arg(5));
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
        const int mode = int(number(arg(1)));
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
        const int mode = int(number(arg(1)));
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
        const int mode = int(number(arg(1)));
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
    return QVariant();
}

} // namespace server
