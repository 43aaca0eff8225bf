#include "server/seedfinance.h"

#include "server/seed.h"
#include "server/seedclock.h"
#include "server/sql/backend.h"

#include <QRandomGenerator>
#include <QStringList>

#include <cmath>

namespace server {

namespace {

struct SiteRow
{
    QString name, centre, mdd;
};

} // namespace

void seedFinanceVolume(Connection &c, const FinanceVolumeOptions &o)
{
    const QString sysid = QString::fromLatin1(kDemoSysid);
    if (!c.query(QStringLiteral("select 1 from TAB_WAYBILL where BILLCODE like '88%' and sysid=?"),
                 {sysid}, true)
             .rows.isEmpty())
        throw DbError(QStringLiteral("the database already holds the finance volume"));

    QList<SiteRow> sites;
    for (const QVariantList &r :
         c.query(QStringLiteral("select SiteName, FINANCECENTER, DEFAULTMDD from tab_Site "
                                "where sysid=? and ISFINANCE=0 order by SiteCode"),
                 {sysid}, true)
             .rows)
        sites.append({r.value(0).toString(), r.value(1).toString(), r.value(2).toString()});
    QStringList mdds;
    for (const QVariantList &r :
         c.query(QStringLiteral("select MddName from tab_Mdd where sysid=? order by MddCode"), {sysid}, true)
             .rows)
        mdds << r.value(0).toString();
    QStringList goods;
    for (const QVariantList &r :
         c.query(QStringLiteral("select Cname from tab_GoodsType where sysid=? order by Code"), {sysid}, true)
             .rows)
        goods << r.value(0).toString();
    if (sites.isEmpty() || mdds.isEmpty() || goods.isEmpty())
        throw DbError(QStringLiteral("seed the demo deployment first"));

    QRandomGenerator rnd(o.randomSeed);
    auto money = [&rnd](double lo, double hi) {
        return std::round((lo + rnd.generateDouble() * (hi - lo)) * 100.0) / 100.0;
    };
    const QStringList fastTypes = {QStringLiteral("标准快递"), QStringLiteral("次日达"), QStringLiteral("经济快递")};
    const QStringList services = {QStringLiteral("门到门"), QStringLiteral("自提")};
    const QStringList modes = {QStringLiteral("陆运"), QStringLiteral("航空")};
    const QStringList people = {QStringLiteral("张伟"), QStringLiteral("王磊"), QStringLiteral("刘洋"),
                                QStringLiteral("李娜"), QStringLiteral("陈静"), QStringLiteral("马超")};
    const QDate monthStart(o.now.date().year(), o.now.date().month(), 1);
    const int daysSoFar = int(monthStart.daysTo(o.now.date()));
    auto billCode = [](int n) { return QStringLiteral("88%1").arg(n, 10, 10, QLatin1Char('0')); };
    auto opt = [](bool present, const QVariant &v) { return present ? v : QVariant(); };

    Transaction t(c);
    for (int b = 0; b <= o.waybills / 100; ++b)
        c.execute(QStringLiteral("insert into TAB_BILLISSUE (BILLSTART, BILLEND, SITENAME, ISSUETIME, "
                                 "sysid) values (?,?,?,?,?)"),
                  {billCode(b * 100), billCode(b * 100 + 99), sites.at(b % sites.size()).name,
                   QDateTime(monthStart.addDays(-20), QTime(9, 0)), sysid});

    for (int n = 0; n < o.waybills; ++n) {
        const QString bill = billCode(n);
        const SiteRow &issued = sites.at((n / 100) % sites.size());
        const SiteRow &send = n % 7 == 0 ? sites.at(rnd.bounded(int(sites.size()))) : issued;
        const SiteRow &dest = sites.at(rnd.bounded(int(sites.size())));
        const QString mdd = dest.mdd.isEmpty() ? mdds.at(n % mdds.size()) : dest.mdd;
        const double weight = money(0.3, n % 40 == 0 ? 45.0 : 18.0);
        // The largest recorded weight is above the line's for some bills, below for others.
        const double scanWeight = n % 3 == 0 ? money(weight * 1.05, weight * 1.4) : money(weight * 0.7, weight);
        const int pcs = 1 + rnd.bounded(3);
        const QString good = goods.at(rnd.bounded(int(goods.size())));
        const QString fast = fastTypes.at(rnd.bounded(int(fastTypes.size())));
        // A third from today, the rest over the month so far.
        const int back = n % 3 == 0 || daysSoFar == 0 ? 0 : rnd.bounded(daysSoFar + 1);
        const QDateTime planned = QDateTime(o.now.date().addDays(-back), QTime(0, 0))
                                      .addSecs(7 * 3600 + rnd.bounded(8 * 3600));
        const bool signedFor = n % 10 < 6;
        // Signed after the arrival at the destination (five hours after creation).
        const qint64 signAfter = 5 * 3600 + 600 + rnd.bounded(4 * 3600);
        // Events from the pick-up half an hour before to the arrival and the signature, all
        // before now and within this month (compressed early on its first day).
        const EventChain chain(planned, -1800, std::max<qint64>(5 * 3600, signedFor ? signAfter : 0), o.now,
                               QDateTime(monthStart, QTime(0, 0)));
        const QDateTime created = chain.start();
        const QDateTime signTime = chain.at(signAfter);
        const QString signer = people.at(rnd.bounded(int(people.size())));
        const double entryWeight = n % 4 == 0 ? money(weight * 1.1, weight * 1.5)
                                  : n % 4 == 1 ? money(weight * 0.5, weight * 0.9)
                                               : weight;

        c.execute(QStringLiteral("insert into TAB_WAYBILL (BILLCODE, SENDSITE, DEST, WEIGHT, PCS, "
                                 "GOODSTYPE, FASTTYPE, MONEY, CREATETIME, sysid) values (?,?,?,?,?,?,?,?,?,?)"),
                  {bill, send.name, mdd, weight, pcs, good, fast, money(20, 500), created, sysid});
        c.execute(QStringLiteral("insert into TAB_PICKUP (BILLCODE, SITENAME, EMPNAME, WEIGHT, "
                                 "PICKTIME, sysid) values (?,?,?,?,?,?)"),
                  {bill, send.name, people.at(n % people.size()), weight, chain.at(-1800), sysid});
        c.execute(QStringLiteral("insert into TAB_BILLENTRY (BILLCODE, SENDSITE, DEST, WEIGHT, "
                                 "GOODSTYPE, ENTRYTIME, sysid) values (?,?,?,?,?,?,?)"),
                  {bill, send.name, mdd, entryWeight, good, created, sysid});
        c.execute(QStringLiteral("insert into TAB_SCAN (BILLCODE, SITENAME, SCANTYPE, WEIGHT, "
                                 "SCANTIME, sysid) values (?,?,?,?,?,?)"),
                  {bill, dest.name, QStringLiteral("到件"), scanWeight, chain.at(3600), sysid});
        if (signedFor)
            c.execute(QStringLiteral("insert into TAB_SIGN (BILLCODE, SIGNSITE, SIGNPERSON, SIGNTIME, "
                                     "sysid) values (?,?,?,?,?)"),
                      {bill, dest.name, signer, signTime, sysid});

        // Two account lines: pick-up at the sending site, delivery at the destination site.
        // Every fifth bill lacks its routing, which the refresh fills again.
        const bool routed = n % 5 != 2;
        const struct
        {
            const SiteRow *station;
            const char *scanType;
            const SiteRow *prior, *next;
            int hours;
        } lines[] = {{&send, "收件", nullptr, &dest, 0}, {&dest, "派件", &send, nullptr, 1}};
        for (const auto &l : lines) {
            if (&send == &dest && l.hours)
                continue;
            c.execute(QStringLiteral(
                          "insert into TAB_ACCOUNT (BILLCODE, SEND_SITE, STATIONCODE, PCS, WEIGHT, DEST, "
                          "GOODSTYPE, PRODUCTTYPE, SERVICETYPE, SCANTYPE, TRANSMODE, PRIORSTATIONCODE, "
                          "NEXTSTATIONCODE, AR_TRANS_FEE, AP_SEND_FEE, SCANMONEY, OTHERCHARGE, "
                          "FINANCECENTER, PRIORFINANCE, NEXTFINANCE, SCANTIME, INPUTDATE, SIGNED, "
                          "SIGNPERSON, SIGNDATE, SIGNSITE, sysid) values "
                          "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                      {bill, opt(routed, send.name), l.station->name, pcs, weight, opt(routed, mdd), good,
                       fast, services.at(n % 2), QString::fromUtf8(l.scanType), modes.at(n % 2),
                       opt(routed && l.prior, l.prior ? l.prior->name : QString()),
                       opt(routed && l.next, l.next ? l.next->name : QString()), 0.0, 0.0, 0.0, 0.0,
                       l.station->centre, opt(l.prior, l.prior ? l.prior->centre : QString()),
                       opt(l.next, l.next ? l.next->centre : QString()), chain.at(l.hours * 3600),
                       created, opt(n % 10 != 9, signedFor ? 1 : 0), opt(signedFor, signer),
                       opt(signedFor, signTime), opt(signedFor, dest.name), sysid});
        }

        // Pay-on-delivery: remarks empty or not; signing site missing on some signed bills.
        c.execute(QStringLiteral(
                      "insert into TAB_DFKRECORD (BILLCODE, FIRSTSITE, FIRSTCENTER, DEST, WEIGHT, MONEY, "
                      "JZPAYCHARGE, PZGETCHARGE, SIGNSITE, SIGNTIME, SIGNCENTER, SIGNFLAG, GOODSTYPE, "
                      "FASTTYPE, SENDCSITE, SENDCTIME, ARRIVECSITE, ARRIVECTIME, CONSIGNEMP, DELVEMP, "
                      "CREATETIME, REMARK, sysid) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                  {bill, send.name, send.centre, mdd, weight, money(20, 500), 0.0, 0.0,
                   opt(signedFor && n % 9 != 4, dest.name), opt(signedFor, signTime),
                   opt(signedFor, dest.centre), opt(n % 10 != 9, signedFor ? 1 : 0), good, fast,
                   send.centre, chain.at(3 * 3600), dest.centre, chain.at(5 * 3600),
                   people.at(n % people.size()), people.at((n + 1) % people.size()), created,
                   n % 3 == 1 ? QVariant(QStringLiteral("客户要求改派")) : QVariant(), sysid});
        // Delivery fee: weights that the refresh raises, lowers and leaves (entry weight
        // above, below or equal); sending site and destination missing on some.
        c.execute(QStringLiteral(
                      "insert into TAB_DFPFRECORD (BILLCODE, FIRSTSITE, FIRSTCENTER, DEST, WEIGHT, "
                      "JZPAYMONEY, PZGETMONEY, GOODSTYPE, FASTTYPE, ARRIVETIME, ARRIVESITE, SIGNTIME, "
                      "SIGNSITE, SIGNFLAG, DELEVEMP, SIGNCENTER, PZGETFLAG, JZPAYFLAG, CREATETIME, sysid) "
                      "values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                  {bill, opt(routed, send.name), send.centre, opt(routed, mdd), weight, 0.0, 0.0, good,
                   fast, chain.at(5 * 3600), dest.name, opt(signedFor, signTime),
                   opt(signedFor, dest.name), opt(n % 10 != 9, signedFor ? 1 : 0), opt(signedFor, signer),
                   dest.centre, n % 2, n % 3 == 0 ? 1 : 0, created, sysid});
    }
    t.commit();
}

} // namespace server
