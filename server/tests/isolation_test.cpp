// Reads of a session see only its own deployment, whatever SQL text the client sends: the
// database filters the rows (row-level security on PostgreSQL, row views on SQLite).
#include "server/auth.h"
#include "testserver.h"

#include <QCborArray>
#include <QJsonArray>
#include <QJsonDocument>

using namespace server;
using namespace server::test;

namespace {

class Isolation : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        srv = new TestServer(50);
        // A second deployment with a site, a user, a notice and an account row.
        auto c = srv->backend->acquireForServer();
        c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('101','北京朝阳','002')"));
        c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, OPSITE, sysid) "
                                  "values ('X2','全网','另一部署的公告','北京朝阳','002')"));
        // Addressed to 002.wu's site: a user without notice management reads his own notices.
        c->execute(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, sysid) values ('X2','北京朝阳','002')"));
        c->execute(QStringLiteral("insert into TAB_FEERULE (RULEID, FEETYPE, BASEFEE, sysid) values (9002,'中转费',99,'002')"));
        addUser(*c, QStringLiteral("002.wu"), QStringLiteral("123456"), QStringLiteral("101"),
                QStringLiteral("吴"), true);
        giveRole(*c, QStringLiteral("002"), QStringLiteral("002.wu"), QStringLiteral("财务"),
                 {QStringLiteral("px_Tally.fDFKEdt")});
    }
    static void TearDownTestSuite()
    {
        delete srv;
        srv = nullptr;
    }

    static QStringList column(quillon::protocol::Transport &t, const QString &sql)
    {
        QStringList out;
        for (const QVariantList &row : query(t, sql).rows)
            out.append(row.value(0).toString());
        out.sort();
        out.removeDuplicates();
        return out;
    }

    static TestServer *srv;
};

TestServer *Isolation::srv = nullptr;

TEST_F(Isolation, QueriesWithoutTheDeploymentConditionSeeOnlyTheirOwnRows)
{
    auto first = srv->client(QStringLiteral("101"), QStringLiteral("001.zhang"));
    auto second = srv->client(QStringLiteral("101"), QStringLiteral("002.wu"));
    const QStringList texts[] = {
        {QStringLiteral("select sysid from tab_Site")},
        {QStringLiteral("select sysid from TAB_MSGRECORD")},
        {QStringLiteral("select sysid from TAB_FEERULE")},
        {QStringLiteral("select s.sysid from tab_Site s join TAB_MSGRECORD m on m.OPSITE=s.SiteName")},
        {QStringLiteral("select sysid from tab_Site where SiteCode in (select SiteCode from tab_Site where sysid='002')"
                        " union select sysid from tab_Employee")},
        {QStringLiteral("with t as (select * from TAB_MSGRECORD) select sysid from t")},
        {QStringLiteral("select sysid from (select * from tab_Site) x where 1=1")},
    };
    for (const QStringList &t : texts) {
        const QString sql = t.first();
        EXPECT_EQ(column(*first, sql), QStringList{QStringLiteral("001")}) << qPrintable(sql);
        EXPECT_EQ(column(*second, sql), QStringList{QStringLiteral("002")}) << qPrintable(sql);
    }
    // Asking for the other deployment by name finds nothing.
    EXPECT_TRUE(query(*first, QStringLiteral("select * from TAB_MSGRECORD where MSGID='X2'")).rows.isEmpty());
    EXPECT_TRUE(query(*second, QStringLiteral("select * from tab_Site where sysid='001'")).rows.isEmpty());
    // The fee function reads the rules through the same filter.
    EXPECT_DOUBLE_EQ(query(*first, QStringLiteral("select F_CalcJSFee('a','b','中转费',1,1,1,'','','','','c','a','',"
                                                  "null,'002') from dual"))
                         .rows.value(0)
                         .value(0)
                         .toDouble(),
                     0.0);
}

TEST_F(Isolation, TheSessionCannotLiftItsOwnFilter)
{
    auto first = srv->client(QStringLiteral("101"), QStringLiteral("001.zhang"));
    const char *attempts[] = {
        "select set_config('waylink.sysid','002',false) from dual",
        "select set_config('role','none',false) from dual",
        "reset role",
        "set waylink.sysid = '002'",
        "with d as (delete from tab_Site returning sysid) select sysid from d",
        "drop view tab_Site",
        "select * into tab_copy from tab_Site",
    };
    for (const char *sql : attempts)
        EXPECT_THROW(query(*first, QString::fromUtf8(sql)), quillon::protocol::ProtocolError) << sql;
    EXPECT_EQ(column(*first, QStringLiteral("select sysid from tab_Site")), QStringList{QStringLiteral("001")});
    // The rows of the other deployment are still there.
    EXPECT_EQ(srv->native(QStringLiteral("select count(*) from tab_Site where sysid='002'")).rows.value(0).value(0).toInt(), 1);
}

// A batch of finance calls is a query of the session like the single calls: the same
// deployment filter, the same answers, whoever's rules or waybills it names.
TEST_F(Isolation, ABatchOfFinanceCallsSeesWhatTheSingleCallsSee)
{
    const QString bill = srv->native(QStringLiteral("select min(BILLCODE) from TAB_SIGN where sysid='001'"))
                             .rows.value(0)
                             .value(0)
                             .toString();
    ASSERT_FALSE(bill.isEmpty());
    const QString fee = QStringLiteral("'a','b','中转费',1,1,1,'','','','','c','a','',null,'%1'");
    const QString batch = QStringLiteral("[[\"F_CalcJSFee\",\"a\",\"b\",\"中转费\",1,1,1,\"\",\"\",\"\",\"\",\"c\","
                                         "\"a\",\"\",null,\"%1\"],[\"F_GetSignSite\",\"%2\",\"%1\"]]");
    for (const char *user : {"001.zhang", "002.wu"}) {
        auto t = srv->client(QStringLiteral("101"), QString::fromLatin1(user));
        for (const char *sysid : {"001", "002"}) {
            const QString s = QString::fromLatin1(sysid);
            const QVariant single = query(*t, QStringLiteral("select F_CalcJSFee(%1) from dual").arg(fee.arg(s))).rows.value(0).value(0);
            const QVariant site = query(*t, QStringLiteral("select F_GetSignSite('%1','%2') from dual").arg(bill, s)).rows.value(0).value(0);
            const QString answer = query(*t, QStringLiteral("select F_CallBatch(:1) as R from dual"),
                                         QCborArray{batch.arg(s, bill)})
                                       .rows.value(0)
                                       .value(0)
                                       .toString();
            const QJsonArray a = QJsonDocument::fromJson(answer.toUtf8()).array();
            ASSERT_EQ(a.size(), 2) << qPrintable(answer);
            EXPECT_EQ(a.at(0).toDouble(), single.toDouble()) << user << sysid;
            if (site.isNull())
                EXPECT_TRUE(a.at(1).isNull()) << user << sysid;
            else
                EXPECT_EQ(a.at(1).toString(), site.toString()) << user << sysid;
            // Only the session's own deployment prices or finds anything.
            const bool own = QByteArray(user).startsWith(sysid);
            EXPECT_EQ(single.toDouble() > 0, own) << user << sysid;
            EXPECT_EQ(a.at(1).isString(), own && QByteArray(sysid) == "001") << user << sysid;
        }
    }
}

} // namespace
