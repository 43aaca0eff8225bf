// The server functions: fee rules by specificity, weight bands and validity, and the
// lookups over the waybill events.
#include "server/schema.h"
#include "server/serverfunctions.h"
#include "server/sql/backend.h"
#include "testserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace server;
using server::test::testDatabase;

namespace {

class ServerFunctions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        backend = Backend::open(testDatabase(dir, QStringLiteral("f.sqlite")), true);
        c = backend->acquire();
        createSchema(*c);
        // id, type, finance, site, dest, goods, from, to, base, first, perKg, perPcs, min, validTo
        const QVariantList rules[] = {
            {1, "中转费", "*", "*", "*", "*", 0, QVariant(), 1.0, 1.0, 0.5, 0, 0, QVariant()},
            {2, "中转费", "北京中心", "*", "*", "*", 0, QVariant(), 2.0, 1.0, 0.5, 0, 0, QVariant()},
            {3, "中转费", "北京中心", "*", "上海", "*", 0, QVariant(), 3.0, 1.0, 0.5, 0, 0, QVariant()},
            {4, "中转费", "*", "*", "*", "*", 30, QVariant(), 9.0, 30, 0.1, 0, 0, QVariant()},
            {5, "扫描费", "*", "*", "*", "*", 0, QVariant(), 0.1, 0, 0, 0.05, 0.5, QVariant()},
            {6, "旧费", "*", "*", "*", "*", 0, QVariant(), 7.0, 0, 0, 0, 0, "2000-01-01 00:00:00"},
            {7, "派件费", "*", "*", "深圳", "*", 0, 10, 2.0, 0, 0, 0, 0, QVariant()},
        };
        for (const QVariantList &r : rules)
            c->execute(QStringLiteral("insert into TAB_FEERULE (RULEID, FEETYPE, FINANCE, FIRSTSITE, "
                                      "DEST, GOODSTYPE, WEIGHTFROM, WEIGHTTO, BASEFEE, FIRSTWEIGHT, "
                                      "PERKG, PERPCS, MINFEE, VALIDTO, sysid) "
                                      "values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,'001')"),
                       r);
    }

    QVariant sql(const QString &text)
    {
        return c->query(text, {}, true).rows.value(0).value(0);
    }

    QTemporaryDir dir;
    std::unique_ptr<Backend> backend;
    Backend::Lease c;
};

struct FeeCase
{
    const char *type, *finance, *dest;
    double weight;
    int pcs;
    double expected;
};

TEST_F(ServerFunctions, FeeRulesPickTheMostSpecificRuleInTheWeightBand)
{
    const FeeCase cases[] = {
        {"中转费", "上海中心", "北京", 1.0, 1, 1.0},  // general rule, within first weight
        {"中转费", "上海中心", "北京", 2.2, 1, 1.75}, // 1.2 kg over: 1.5 started half kilos x 0.5
        {"中转费", "北京中心", "北京", 1.0, 1, 2.0},  // finance centre rule wins
        {"中转费", "北京中心", "上海", 1.0, 1, 3.0},  // centre and destination win
        {"中转费", "上海中心", "北京", 30.0, 1, 9.0}, // heavy band starts at 30
        {"扫描费", "上海中心", "北京", 1.0, 3, 0.5},  // 0.1 + 3 x 0.05 = 0.25 -> minimum 0.5
        {"扫描费", "上海中心", "北京", 1.0, 20, 1.1},
        {"旧费", "上海中心", "北京", 1.0, 1, 0.0},    // expired rule: no rule, fee 0
        {"派件费", "上海中心", "深圳", 12.0, 1, 0.0}, // outside the only band
        {"未知费", "上海中心", "北京", 1.0, 1, 0.0},
    };
    for (const FeeCase &f : cases) {
        const QString call = QStringLiteral("select F_CalcJSFee('site','%1','%2',%3,%4,%4,'','','','',"
                                            "'%5','site','','2026-12-07 10:00:00','001')")
                                 .arg(QString::fromUtf8(f.dest), QString::fromUtf8(f.type))
                                 .arg(f.pcs)
                                 .arg(f.weight)
                                 .arg(QString::fromUtf8(f.finance));
        EXPECT_DOUBLE_EQ(sql(call).toDouble(), f.expected) << f.type << " " << f.finance << " " << f.weight;
    }
    // Another deployment's rules never apply; bulk weight counts when larger.
    EXPECT_DOUBLE_EQ(sql(QStringLiteral("select F_CalcJSFee('s','北京','中转费',1,1,1,'','','','','x','s','',"
                                        "'2026-12-07 10:00:00','002')"))
                         .toDouble(),
                     0.0);
    EXPECT_DOUBLE_EQ(sql(QStringLiteral("select F_CalcJSFee('s','北京','中转费',1,1,3,'','','','','x','s','',"
                                        "null,'001')"))
                         .toDouble(),
                     2.0);
}

// Edges where the two backends' implementations could part: band limits, trimming,
// validity dates and odd arguments.
TEST_F(ServerFunctions, FeeEdgesGiveTheSameAnswersOnEveryBackend)
{
    struct Case
    {
        const char *args; // after the fee type ...
        double expected;
    } cases[] = {
        {"'site','北京','中转费',1,30,0,'','','','','上海中心','site','','2026-12-07 10:00:00','001'", 9.0},
        {"'site','北京','中转费',1,29.99,0,'','','','','上海中心','site','','2026-12-07 10:00:00','001'", 15.5},
        {"'site','深圳','派件费',1,10,0,'','','','','上海中心','site','','2026-12-07 10:00:00','001'", 0.0},
        {"'site','深圳','派件费',1,9.99,0,'','','','','上海中心','site','','2026-12-07 10:00:00','001'", 2.0},
        {"'site',' 上海 ','中转费',1,1,0,'','','','',' 北京中心 ','site','','2026-12-07 10:00:00','001'", 3.0},
        {"'site','北京','扫描费',-4,1,0,'','','','','上海中心','site','','2026-12-07 10:00:00','001'", 0.5},
        {"'site','北京','旧费',1,1,0,'','','','','上海中心','site','','1999-12-31 23:00:00','001'", 7.0},
        {"'site','北京','旧费',1,1,0,'','','','','上海中心','site','','','001'", 0.0},
        {"'site','北京','中转费',1,1,0,'','','','','北京中心','site','','not a date',' 001 '", 2.0},
        {"'site','北京','中转费',null,null,null,'','','','','上海中心','site','',null,'001'", 1.0},
    };
    for (const Case &k : cases) {
        const QString call = QStringLiteral("select F_CalcJSFee(%1)").arg(QString::fromUtf8(k.args));
        EXPECT_DOUBLE_EQ(sql(call).toDouble(), k.expected) << k.args;
    }
}

TEST_F(ServerFunctions, LookupsReadTheWaybillEvents)
{
    c->executeScript(QStringLiteral(
        "insert into tab_Site (SiteCode, SiteName, DEFAULTMDD, sysid) values ('301','广州天河','广州','001');"
        "insert into TAB_BILLISSUE values ('660000000000','660000000099','上海浦东','2026-01-01 00:00:00','001');"
        "insert into TAB_BILLISSUE values ('660000000000','660000000099','北京朝阳','2026-02-01 00:00:00','002');"
        "insert into TAB_PICKUP values ('660000000005','上海闵行','张伟',2.5,'2026-12-01 08:00:00','001');"
        "insert into TAB_PICKUP values ('660000000005','上海浦东','王磊',1.0,'2026-12-01 09:00:00','001');"
        "insert into TAB_BILLENTRY values ('660000000005','上海浦东','北京',3.0,'文件','2026-12-01 10:00:00','001');"
        "insert into TAB_BILLENTRY values ('660000000005','上海浦东','天津',3.5,'文件','2026-12-01 11:00:00','001');"
        "insert into TAB_SCAN values ('660000000005','北京中心','到件',4.25,'2026-12-02 10:00:00','001');"
        "insert into TAB_WAYBILL (BILLCODE, WEIGHT, sysid) values ('660000000005', 3.2, '001');"
        "insert into TAB_SIGN values ('660000000005','广州天河','李四','2026-12-03 10:00:00','001');"));
    struct Case
    {
        const char *call;
        QVariant expected;
    } cases[] = {
        {"F_GetFFSite('660000000005','001')", QStringLiteral("上海浦东")},
        {"F_GetFFSite('660000000005','002')", QStringLiteral("北京朝阳")},
        {"F_GetFFSite('6600000000050','001')", QVariant()}, // other length: outside the range
        {"F_GetSJSite('660000000005','001')", QStringLiteral("上海闵行")}, // earliest pick-up
        {"F_GetAccMdd('660000000005',0,'001')", QStringLiteral("天津")},  // latest entry
        {"F_GetAccMdd('660000000005',1,'001')", QStringLiteral("广州")},  // signing site's default
        {"F_GetAccMdd('660000000005',7,'001')", QVariant()},
        {"F_GetMaxWeight('660000000005','001')", 4.25},
        {"F_GetSignSite('660000000005','001')", QStringLiteral("广州天河")},
        {"F_GetFirstSite('660000000005',0,'001')", QStringLiteral("上海浦东")},
        {"F_GetFirstSite('660000000005',1,'001')", QStringLiteral("上海浦东")},
        {"F_GetWeight('660000000005',0,'001')", 3.5},
        {"F_GetWeight('660000000005',2,'001')", 3.2},
        {"F_GetWeight('660000000005',1,'001')", QVariant()},
        {"F_GetSignSite('999','001')", QVariant()},
        {"F_GetMaxWeight('999','001')", QVariant()},
    };
    for (const Case &k : cases) {
        const QVariant v = sql(QStringLiteral("select ") + QString::fromUtf8(k.call));
        if (k.expected.isNull())
            EXPECT_TRUE(v.isNull()) << k.call << " gave " << qPrintable(v.toString());
        else if (k.expected.typeId() == QMetaType::Double)
            EXPECT_DOUBLE_EQ(v.toDouble(), k.expected.toDouble()) << k.call;
        else
            EXPECT_EQ(v.toString(), k.expected.toString()) << k.call;
    }
}

// What the fee function cannot price is refused on both backends, never answered with 0,
// inf or a wrapped piece count; what it can price follows the formula on both.
TEST_F(ServerFunctions, FeesThatCannotBePricedAreRefusedOnEveryBackend)
{
    const QString head = QStringLiteral("select F_CalcJSFee('site','北京','扫描费',");
    const QString tail = QStringLiteral(",'','','','','上海中心','site','','2026-12-07 10:00:00','001')");
    // 0.1 + 0.05 per piece: the largest piece count still follows the formula.
    EXPECT_DOUBLE_EQ(sql(head + QStringLiteral("2147483647,1,1") + tail).toDouble(), 107374182.45);
    EXPECT_DOUBLE_EQ(sql(head + QStringLiteral("1,1000000000,0") + tail).toDouble(), 0.5);
    const char *refused[] = {
        "2147483648,1,1",  // 2^31 pieces (were priced as 0 pieces on SQLite)
        "-2147483649,1,1", //
        "1e12,1,1",        //
        "1,1e308,1",       // gave inf
        "1,1,1e308",       // the bulk weight too
        "1,-1e308,1",      //
        "1,1000000001,1",  // just over the limit
        "'abc',1,1",       // no number
        "1,'',1",          // an empty text is no number either
        "1,'nan',1",       //
        "1,'inf',1",       //
    };
    for (const char *args : refused)
        EXPECT_ANY_THROW(sql(head + QString::fromUtf8(args) + tail)) << args;
    // A rule whose price runs past what a double holds to the cent is refused as well.
    c->execute(QStringLiteral("insert into TAB_FEERULE (RULEID, FEETYPE, BASEFEE, PERKG, FIRSTWEIGHT, sysid) "
                              "values (99,'天价',0,100000,0,'001')"));
    EXPECT_DOUBLE_EQ(sql(QStringLiteral("select F_CalcJSFee('s','d','天价',1,1000,0,'','','','','f','s','',null,'001')"))
                         .toDouble(),
                     100000000.0);
    EXPECT_ANY_THROW(sql(QStringLiteral("select F_CalcJSFee('s','d','天价',1,1e9,0,'','','','','f','s','',null,'001')")));
}

// A batch answers every call exactly as the single call does, or stops at the first call
// that fails with its reason in place of the answer.
class BatchCalls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        backend = Backend::open(testDatabase(dir, QStringLiteral("b.sqlite")), true);
        c = backend->acquire();
        createSchema(*c);
        SeedOptions o;
        o.waybills = 40;
        o.fastHash = true;
        seedDemo(*c, o);
    }

    static QString literal(const QJsonValue &v)
    {
        if (v.isNull())
            return QStringLiteral("null");
        if (v.isDouble())
            return QString::number(v.toDouble(), 'g', 17);
        QString t = v.toString();
        t.replace(QLatin1Char('\''), QLatin1String("''"));
        return QLatin1Char('\'') + t + QLatin1Char('\'');
    }
    // The single call of a batch entry, as a statement of its own.
    QVariant single(const QJsonArray &call)
    {
        QStringList args;
        for (qsizetype i = 1; i < call.size(); ++i)
            args << literal(call.at(i));
        return c->query(QStringLiteral("select %1(%2)").arg(call.at(0).toString(), args.join(u',')), {}, true)
            .rows.value(0)
            .value(0);
    }
    QJsonArray batch(const QJsonArray &calls)
    {
        const QVariant v = c->query(QStringLiteral("select F_CallBatch(%1)")
                                        .arg(literal(QString::fromUtf8(QJsonDocument(calls).toJson(QJsonDocument::Compact)))),
                                    {}, true)
                               .rows.value(0)
                               .value(0);
        const QJsonDocument d = QJsonDocument::fromJson(v.toString().toUtf8());
        EXPECT_TRUE(d.isArray()) << qPrintable(v.toString().left(300));
        return d.array();
    }

    QTemporaryDir dir;
    std::unique_ptr<Backend> backend;
    Backend::Lease c;
};

TEST_F(BatchCalls, EveryDemoRuleAndLookupAnswersAsTheSingleCall)
{
    QJsonArray calls;
    const auto rules = c->query(QStringLiteral("select FEETYPE, FINANCE, FIRSTSITE, DEST, GOODSTYPE, WEIGHTFROM, "
                                               "WEIGHTTO from TAB_FEERULE where sysid='001'"),
                                {}, true)
                           .rows;
    ASSERT_GE(rules.size(), 8);
    auto key = [](const QVariant &v, const char *other) {
        const QString t = v.toString().trimmed();
        return t.isEmpty() || t == QLatin1String("*") ? QString::fromUtf8(other) : t;
    };
    for (const QVariantList &r : rules) {
        const double from = r.at(5).toDouble();
        QList<double> weights{from, from + 0.3, from + 1.75, from + 7.01};
        if (!r.at(6).isNull())
            weights << r.at(6).toDouble() - 0.01 << r.at(6).toDouble();
        for (const double w : weights)
            for (const int pcs : {0, 1, 3})
                calls.append(QJsonArray{QStringLiteral("F_CalcJSFee"), key(r.at(2), "上海浦东"), key(r.at(3), "北京"),
                                        r.at(0).toString(), pcs, w, w / 2, QString(), key(r.at(4), "文件"), QString(),
                                        QString(), key(r.at(1), "上海中心"), QStringLiteral("上海浦东"), QString(),
                                        QStringLiteral("2026-12-07 10:00:00"), QStringLiteral("001")});
    }
    // No validity time, an unknown fee type, another deployment.
    calls.append(QJsonArray{QStringLiteral("F_CalcJSFee"), "a", "北京", "中转费", 2, 3.3, 0, "", "", "", "", "北京中心",
                            "a", "", QJsonValue(), "001"});
    calls.append(QJsonArray{QStringLiteral("F_CalcJSFee"), "a", "北京", "无此费", 2, 3.3, 0, "", "", "", "", "x", "a",
                            "", QJsonValue(), "001"});
    calls.append(QJsonArray{QStringLiteral("F_CalcJSFee"), "a", "北京", "中转费", 2, 3.3, 0, "", "", "", "", "x", "a",
                            "", QJsonValue(), "002"});
    const auto bills = c->query(QStringLiteral("select BILLCODE from TAB_WAYBILL where sysid='001' order by BILLCODE"),
                                {}, true)
                           .rows;
    ASSERT_FALSE(bills.isEmpty());
    QStringList codes;
    for (int i = 0; i < bills.size(); i += 4)
        codes << bills.at(i).value(0).toString();
    codes << QStringLiteral("no such bill");
    for (const QString &b : codes) {
        for (const char *f : {"F_GetFFSite", "F_GetSJSite", "F_GetMaxWeight", "F_GetSignSite"})
            calls.append(QJsonArray{QString::fromLatin1(f), b, QStringLiteral("001")});
        for (const char *f : {"F_GetAccMdd", "F_GetFirstSite", "F_GetWeight"})
            for (const int mode : {0, 1, 2, 7})
                calls.append(QJsonArray{QString::fromLatin1(f), b, mode, QStringLiteral("001")});
    }
    const QJsonArray answers = batch(calls);
    ASSERT_EQ(answers.size(), calls.size());
    int fees = 0, nulls = 0;
    for (qsizetype i = 0; i < calls.size(); ++i) {
        const QJsonArray call = calls.at(i).toArray();
        const QVariant expected = single(call);
        const QJsonValue got = answers.at(i);
        const QString what = QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact));
        if (expected.isNull()) {
            ++nulls;
            EXPECT_TRUE(got.isNull()) << qPrintable(what);
        } else if (got.isDouble()) {
            fees += call.at(0).toString() == QLatin1String("F_CalcJSFee") && expected.toDouble() > 0;
            // Exactly the same number: the same rule, the same rounding.
            EXPECT_EQ(got.toDouble(), expected.toDouble()) << qPrintable(what);
        } else {
            EXPECT_EQ(got.toString(), expected.toString()) << qPrintable(what);
        }
    }
    EXPECT_GT(fees, 100);
    EXPECT_GT(nulls, 10);
}

TEST_F(BatchCalls, TheFirstFailingCallEndsTheAnswerWithItsReason)
{
    const QJsonArray good{QStringLiteral("F_CalcJSFee"), "a", "北京", "中转费", 1, 2.2, 0, "", "", "", "", "x", "a", "",
                          "2026-12-07 10:00:00", "001"};
    QJsonArray heavy = good;
    heavy[5] = 1e308;
    QJsonArray many = good;
    many[4] = 2147483648.0;
    for (const QJsonArray &bad : {heavy, many}) {
        const QJsonArray answers = batch(QJsonArray{good, good, bad, good});
        ASSERT_EQ(answers.size(), 3) << qPrintable(QJsonDocument(answers).toJson());
        EXPECT_DOUBLE_EQ(answers.at(0).toDouble(), single(good).toDouble());
        EXPECT_TRUE(answers.at(2).isObject());
        EXPECT_TRUE(answers.at(2).toObject().value(QStringLiteral("error")).toString().contains(QStringLiteral("cannot be priced")))
            << qPrintable(QJsonDocument(answers).toJson());
    }
    // Calls that are no finance function's, and malformed calls, fail in their place.
    const QJsonArray wrong[] = {
        {QStringLiteral("F_CallBatch"), QStringLiteral("[]")},
        {QStringLiteral("load_extension"), QStringLiteral("x")},
        {QStringLiteral("F_GetFFSite"), QStringLiteral("1")},
        {QStringLiteral("F_GetFFSite"), QJsonArray{1}, QStringLiteral("001")},
        {QStringLiteral("F_GetAccMdd"), QStringLiteral("1"), QStringLiteral("zero"), QStringLiteral("001")},
    };
    for (const QJsonArray &w : wrong) {
        const QJsonArray answers = batch(QJsonArray{good, w});
        ASSERT_EQ(answers.size(), 2) << qPrintable(QJsonDocument(w).toJson());
        EXPECT_TRUE(answers.at(1).isObject()) << qPrintable(QJsonDocument(w).toJson());
    }
    // What is no batch at all is refused as a whole.
    for (const char *text : {"'not json'", "'{\"a\":1}'", "'[1,2]'"}) {
        if (QByteArray(text) == "'[1,2]'") {
            const QVariant v = c->query(QStringLiteral("select F_CallBatch('[1,2]')"), {}, true).rows.value(0).value(0);
            EXPECT_TRUE(QJsonDocument::fromJson(v.toString().toUtf8()).array().at(0).isObject());
            continue;
        }
        EXPECT_ANY_THROW(c->query(QStringLiteral("select F_CallBatch(%1)").arg(QString::fromUtf8(text)), {}, true)) << text;
    }
    EXPECT_TRUE(c->query(QStringLiteral("select F_CallBatch(null)"), {}, true).rows.value(0).value(0).isNull());
    EXPECT_EQ(batch(QJsonArray{}).size(), 0);
}

} // namespace

