// The demo data on the clock: whatever the hour of seeding, no event (scan, signature, read
// receipt, notice, update) lies after the moment of seeding, a waybill is signed after it was
// created, and the month's finance volume stays within the month.
#include "server/schema.h"
#include "server/seed.h"
#include "server/seedclock.h"
#include "server/seedfinance.h"
#include "server/sql/backend.h"
#include "testserver.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace server;
using server::test::testDatabase;

TEST(SeedClock, ChainsEndingInTheFutureHappenEarlierInTheSameOrder)
{
    const QDateTime now(QDate(2026, 12, 8), QTime(20, 0));
    const QDateTime earliest(QDate(2026, 12, 1), QTime(0, 0));

    // A chain that is over keeps its dates.
    const EventChain past(now.addDays(-3), -1800, 46 * 3600, now, earliest);
    EXPECT_EQ(past.start(), now.addDays(-3));
    EXPECT_EQ(past.at(3600), now.addDays(-3).addSecs(3600));

    // One that would end tomorrow ends now, with its distances unchanged.
    const EventChain late(QDateTime(now.date(), QTime(15, 0)), -1800, 26 * 3600, now, earliest);
    EXPECT_EQ(late.at(26 * 3600), now);
    EXPECT_EQ(late.start().secsTo(late.at(24 * 3600)), 24 * 3600);
    EXPECT_LT(late.at(-1800), late.start());

    // Twenty minutes into the month, a two-day chain is squeezed between the month's start
    // and now, still in order.
    const QDateTime early(QDate(2026, 12, 1), QTime(0, 20));
    const EventChain squeezed(QDateTime(early.date(), QTime(9, 0)), -1800, 46 * 3600, early, earliest);
    EXPECT_GE(squeezed.at(-1800), earliest);
    EXPECT_LE(squeezed.at(46 * 3600), early);
    EXPECT_LT(squeezed.at(-1800), squeezed.start());
    EXPECT_LT(squeezed.start(), squeezed.at(3600));
    EXPECT_LT(squeezed.at(3600), squeezed.at(46 * 3600));

    EXPECT_EQ(notAfter(now.addSecs(1), now), now);
    EXPECT_EQ(notAfter(now.addSecs(-1), now), now.addSecs(-1));
}

namespace {

struct DateColumn
{
    const char *table;
    const char *column;
};

// Every moment of the demo that records something that has happened.
const DateColumn kEvents[] = {
    {"TAB_WAYBILL", "CREATETIME"},   {"TAB_PICKUP", "PICKTIME"},       {"TAB_BILLENTRY", "ENTRYTIME"},
    {"TAB_SCAN", "SCANTIME"},        {"TAB_SIGN", "SIGNTIME"},         {"TAB_ACCOUNT", "SCANTIME"},
    {"TAB_ACCOUNT", "INPUTDATE"},    {"TAB_ACCOUNT", "SIGNDATE"},      {"TAB_DFKRECORD", "SIGNTIME"},
    {"TAB_DFKRECORD", "SENDCTIME"},  {"TAB_DFKRECORD", "ARRIVECTIME"}, {"TAB_DFKRECORD", "CREATETIME"},
    {"TAB_DFPFRECORD", "ARRIVETIME"}, {"TAB_DFPFRECORD", "SIGNTIME"},  {"TAB_DFPFRECORD", "CREATETIME"},
    {"TAB_MSGRECORD", "OPTIME"},     {"TAB_MSGSITE", "MSGTime"},       {"TAB_MSGEMP", "MSGTime"},
    {"TAB_MSGREAD", "MSGReadTime"},  {"sys_update", "utime"},          {"TAB_BILLISSUE", "ISSUETIME"},
    {"TAB_PARAMETER", "MODIFYTIME"},
};

class SeedOnTheClock : public ::testing::TestWithParam<QDateTime>
{
protected:
    void seed(const QDateTime &now)
    {
        backend = Backend::open(testDatabase(dir, QStringLiteral("seed.sqlite")), true);
        c = backend->acquireForServer();
        createSchema(*c);
        SeedOptions o;
        o.waybills = 120;
        o.fastHash = true;
        o.now = now;
        seedDemo(*c, o);
        FinanceVolumeOptions v;
        v.waybills = 120;
        v.now = now;
        seedFinanceVolume(*c, v);
    }

    QList<QVariantList> rows(const QString &sql) { return c->query(sql, {}, true).rows; }

    QTemporaryDir dir;
    std::unique_ptr<Backend> backend;
    Backend::Lease c;
};

} // namespace

TEST_P(SeedOnTheClock, NothingHappensAfterTheSeedingAndSignaturesFollowCreation)
{
    const QDateTime now = GetParam();
    seed(now);
    for (const DateColumn &d : kEvents) {
        const QString sql = QStringLiteral("select %1 from %2 where %1 is not null")
                                .arg(QLatin1String(d.column), QLatin1String(d.table));
        const auto found = rows(sql);
        EXPECT_FALSE(found.isEmpty()) << d.table << '.' << d.column;
        int later = 0;
        QDateTime latest;
        for (const QVariantList &r : found) {
            const QDateTime when = r.value(0).toDateTime();
            ASSERT_TRUE(when.isValid()) << d.table << '.' << d.column << ' ' << qPrintable(r.value(0).toString());
            if (when > now)
                ++later;
            if (!latest.isValid() || when > latest)
                latest = when;
        }
        EXPECT_EQ(later, 0) << d.table << '.' << d.column << " up to "
                            << qPrintable(latest.toString(Qt::ISODate)) << ", seeded at "
                            << qPrintable(now.toString(Qt::ISODate));
    }

    // A signature, a delivery scan and a read receipt come after what they follow; a parcel is
    // signed for after it arrived.
    int outOfOrder = 0;
    for (const QVariantList &r :
         rows(QStringLiteral("select w.CREATETIME, s.SIGNTIME from TAB_WAYBILL w join TAB_SIGN s "
                             "on s.BILLCODE = w.BILLCODE and s.sysid = w.sysid")))
        outOfOrder += r.value(1).toDateTime() < r.value(0).toDateTime();
    for (const QVariantList &r :
         rows(QStringLiteral("select w.CREATETIME, s.SCANTIME from TAB_WAYBILL w join TAB_SCAN s "
                             "on s.BILLCODE = w.BILLCODE and s.sysid = w.sysid")))
        outOfOrder += r.value(1).toDateTime() < r.value(0).toDateTime();
    for (const QVariantList &r : rows(QStringLiteral("select ARRIVETIME, SIGNTIME from TAB_DFPFRECORD "
                                                     "where SIGNTIME is not null")))
        outOfOrder += r.value(1).toDateTime() < r.value(0).toDateTime();
    for (const QVariantList &r : rows(QStringLiteral("select ARRIVECTIME, SIGNTIME from TAB_DFKRECORD "
                                                     "where SIGNTIME is not null")))
        outOfOrder += r.value(1).toDateTime() < r.value(0).toDateTime();
    for (const QVariantList &r :
         rows(QStringLiteral("select m.OPTIME, r.MSGReadTime from TAB_MSGRECORD m join TAB_MSGREAD r "
                             "on r.MSGID = m.MSGID and r.sysid = m.sysid")))
        outOfOrder += r.value(1).toDateTime() < r.value(0).toDateTime();
    EXPECT_EQ(outOfOrder, 0);

    // The month's volume: its account lines lie in the month of the seeding.
    const QDateTime monthStart(QDate(now.date().year(), now.date().month(), 1), QTime(0, 0));
    int before = 0;
    for (const QVariantList &r : rows(QStringLiteral("select SCANTIME from TAB_ACCOUNT where BILLCODE like '88%'")))
        before += r.value(0).toDateTime() < monthStart;
    EXPECT_EQ(before, 0);
}

// Early on the first of a month, in the morning before the day's notices, and in the evening
// after the day's work.
INSTANTIATE_TEST_SUITE_P(Hours, SeedOnTheClock,
                         ::testing::Values(QDateTime(QDate(2026, 3, 1), QTime(0, 20)),
                                           QDateTime(QDate(2026, 12, 8), QTime(7, 45)),
                                           QDateTime(QDate(2026, 12, 8), QTime(20, 0))));

// Every group of the demo menu has its own image, so that 系统设置 and 系统管理 are told apart
// at a glance.
TEST(SeedMenu, EveryGroupHasItsOwnImage)
{
    QTemporaryDir dir;
    auto backend = Backend::open(testDatabase(dir, QStringLiteral("menu.sqlite")), true);
    auto c = backend->acquireForServer();
    createSchema(*c);
    SeedOptions o;
    o.waybills = 5;
    o.fastHash = true;
    seedDemo(*c, o);
    QMap<QString, QString> groupOfImage;
    int groups = 0;
    for (const QVariantList &r :
         c->query(QStringLiteral("select MENUNAME, PNGNAME from sys_menu where POSID like '%.000.000' "
                                 "and sysid='001'"),
                  {}, true)
             .rows) {
        ++groups;
        const QString image = r.value(1).toString().trimmed();
        EXPECT_FALSE(image.isEmpty()) << qPrintable(r.value(0).toString());
        EXPECT_FALSE(groupOfImage.contains(image))
            << qPrintable(r.value(0).toString()) << " and " << qPrintable(groupOfImage.value(image))
            << " share " << qPrintable(image);
        groupOfImage.insert(image, r.value(0).toString());
    }
    EXPECT_GE(groups, 4);
}
