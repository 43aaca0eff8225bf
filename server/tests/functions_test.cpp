// The server functions: fee rules by specificity, weight bands and validity, and the
// lookups over the waybill events.
#include "server/schema.h"
#include "server/serverfunctions.h"
#include "server/sql/backend.h"
#include "testserver.h"

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
        c = backend->acquireForServer();
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

} // namespace
