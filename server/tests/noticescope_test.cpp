// The notices a user reads without notice management: those addressed to his site or to him
// and those he published, with their recipients and read receipts — through the provider,
// GetData, joins and aggregates, and on the engine's own connection whatever the SQL says.
// Runs on SQLite and PostgreSQL.
#include "server/auth.h"
#include "server/authz.h"
#include "testserver.h"

#include <QCborArray>

using namespace server;
using namespace server::test;
using namespace quillon;
using quillon::protocol::ProtocolError;

namespace {

struct Notice
{
    const char *id, *publisherSite, *publisher;
    QStringList sites;
    QList<QPair<QString, QString>> employees; // (employee, site)
    QList<QPair<QString, QString>> readers;   // (site, employee)
};

// Publishers and addressees around the demo users 马超 (上海浦东, 001.zhang), 宋佳 (北京朝阳,
// 001.wang) and 陈静 (上海中心, 001.li).
const QList<Notice> &notices()
{
    static const QList<Notice> list = {
        {"NS01", "总部", "张伟", {"上海浦东"}, {}, {{"上海浦东", "马超"}}},
        {"NS02", "总部", "张伟", {"北京朝阳"}, {}, {{"北京朝阳", "宋佳"}}},
        {"NS03", "总部", "张伟", {}, {{"宋佳", "北京朝阳"}}, {}},
        {"NS04", "上海浦东", "马超", {"北京朝阳"}, {}, {{"北京朝阳", "宋佳"}}},
        {"NS05", "北京朝阳", "宋佳", {"上海闵行"}, {}, {{"上海闵行", "赵敏"}}},
        {"NS06", "总部", "张伟", {}, {{"马超", "上海浦东"}}, {}},
        {"NS07", "总部", "张伟", {}, {{"陈静", "上海中心"}}, {}},
        // Another 马超 at another site is not 001.zhang.
        {"NS08", "总部", "张伟", {"上海闵行"}, {{"马超", "上海闵行"}}, {}},
        // Published by another employee of his own site: his site is not the publisher.
        {"NS09", "上海浦东", "李雷", {"北京朝阳"}, {}, {}},
    };
    return list;
}

class NoticeScope : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_srv = new TestServer(20);
        auto c = s_srv->backend->acquireForServer();
        const QDateTime now = QDateTime::currentDateTime();
        for (const Notice &n : notices()) {
            c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, OPTIME, OPSITE, OPEMP, sysid) "
                                      "values (?, ?, ?, ?, ?, ?, '001')"),
                       {QString::fromLatin1(n.id), QStringLiteral("范围"), QStringLiteral("正文"), now,
                        QString::fromUtf8(n.publisherSite), QString::fromUtf8(n.publisher)});
            for (const QString &site : n.sites)
                c->execute(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, sysid) values (?, ?, ?, '001')"),
                           {QString::fromLatin1(n.id), site, now});
            for (const auto &[emp, site] : n.employees)
                c->execute(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, MSGTime, sysid) "
                                          "values (?, ?, ?, ?, '001')"),
                           {QString::fromLatin1(n.id), emp, site, now});
            for (const auto &[site, emp] : n.readers)
                c->execute(QStringLiteral("insert into TAB_MSGREAD (MSGID, MSGReadSite, MSGReader, MSGReadTime, sysid) "
                                          "values (?, ?, ?, ?, '001')"),
                           {QString::fromLatin1(n.id), site, emp, now});
        }
    }
    static void TearDownTestSuite()
    {
        delete s_srv;
        s_srv = nullptr;
    }
    TestServer &srv() { return *s_srv; }

    std::unique_ptr<protocol::Transport> as(const char *site, const char *user)
    {
        return srv().client(QString::fromLatin1(site), QString::fromLatin1(user));
    }
    // The first column of every row, joined by ",".
    static QString column(const DataPacket &p)
    {
        QStringList out;
        for (const QVariantList &row : p.rows)
            out.append(row.value(0).toString());
        return out.join(u',');
    }
    // The test's notices (and their rows) that a client connection of `scope` shows.
    static QString seen(Connection &c, const QString &table, const QString &column)
    {
        const QueryResult r = c.query(
            c.translate(QStringLiteral("select %1 from %2 where MSGID like 'NS%' order by 1").arg(column, table)).sql, {},
            true);
        QStringList out;
        for (const QVariantList &row : r.rows)
            out.append(row.value(0).toString());
        return out.join(u',');
    }

    static TestServer *s_srv;
};
TestServer *NoticeScope::s_srv = nullptr;

struct Expected
{
    const char *site, *user;
    const char *notices, *siteRows, *employeeRows, *readRows;
};

// Rows as "notice:site" (recipient sites), "notice:employee" and "notice:reader".
const Expected kExpected[] = {
    // 马超: addressed to his site (NS01) or to him (NS06), published by him (NS04, with its
    // recipient 北京朝阳 and 宋佳's receipt).
    {"101", "001.zhang", "NS01,NS04,NS06", "NS01:上海浦东,NS04:北京朝阳", "NS06:马超", "NS01:马超,NS04:宋佳"},
    // 宋佳: her site's (NS02, NS04, NS09), to her (NS03), published by her (NS05).
    {"201", "001.wang", "NS02,NS03,NS04,NS05,NS09", "NS02:北京朝阳,NS04:北京朝阳,NS05:上海闵行,NS09:北京朝阳",
     "NS03:宋佳", "NS02:宋佳,NS04:宋佳,NS05:赵敏"},
    // 陈静 (总部财务, no notice management): only the one to her.
    {"100", "001.li", "NS07", "", "NS07:陈静", ""},
};

// The number of notices that rows "notice:..." belong to.
int noticesOf(const QString &rows)
{
    QSet<QString> ids;
    for (const QString &r : rows.split(u',', Qt::SkipEmptyParts))
        ids.insert(r.section(u':', 0, 0));
    return int(ids.size());
}

TEST_F(NoticeScope, EachUserReadsHisOwnNoticesThroughEveryRoute)
{
    for (const Expected &e : kExpected) {
        SCOPED_TRACE(e.user);
        auto t = as(e.site, e.user);
        auto rows = [&](const QString &sql) { return column(query(*t, sql)); };
        EXPECT_EQ(rows(QStringLiteral("select MSGID from TAB_MSGRECORD where MSGID like 'NS%' order by MSGID")),
                  QString::fromUtf8(e.notices));
        EXPECT_EQ(rows(QStringLiteral("select MSGID || ':' || MSGSITE from TAB_MSGSITE where MSGID like 'NS%' order by 1")),
                  QString::fromUtf8(e.siteRows));
        EXPECT_EQ(rows(QStringLiteral("select MSGID || ':' || MSGEMP from TAB_MSGEMP where MSGID like 'NS%' order by 1")),
                  QString::fromUtf8(e.employeeRows));
        EXPECT_EQ(rows(QStringLiteral("select MSGID || ':' || MSGReader from TAB_MSGREAD where MSGID like 'NS%' order by 1")),
                  QString::fromUtf8(e.readRows));

        const int mine = QString::fromUtf8(e.notices).split(u',', Qt::SkipEmptyParts).size();
        // Aggregates, sub-queries, joins and a CTE named like another table count no more.
        EXPECT_EQ(rows(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID like 'NS%'")).toInt(), mine);
        EXPECT_EQ(rows(QStringLiteral("select count(*) from (select * from TAB_MSGRECORD) x where MSGID like 'NS%'")).toInt(),
                  mine);
        EXPECT_EQ(rows(QStringLiteral("select count(distinct r.MSGID) from TAB_MSGRECORD r left join TAB_MSGSITE s "
                                      "on s.MSGID=r.MSGID where r.MSGID like 'NS%'"))
                      .toInt(),
                  mine);
        EXPECT_EQ(rows(QStringLiteral("with TAB_MSGSITE as (select MSGID from TAB_MSGRECORD) "
                                      "select count(*) from TAB_MSGSITE where MSGID like 'NS%'"))
                      .toInt(),
                  mine);
        EXPECT_EQ(rows(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID in "
                                      "(select MSGID from TAB_MSGREAD) and MSGID like 'NS%'"))
                      .toInt(),
                  noticesOf(QString::fromUtf8(e.readRows)));

        // GetData answers the same.
        const QCborArray got = t->callMethod(
            QStringLiteral("GetData"),
            {QStringLiteral("select MSGID from TAB_MSGRECORD where MSGID like 'NS%' order by MSGID"), 1});
        EXPECT_EQ(column(DataPacket::fromBinary(got.at(2).toByteArray())), QString::fromUtf8(e.notices));
    }
}

TEST_F(NoticeScope, NoticeManagementReadsEveryNotice)
{
    auto admin = as("000", "001.admin");
    EXPECT_EQ(column(query(*admin, QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID like 'NS%'"))),
              QString::number(notices().size()));
    EXPECT_EQ(column(query(*admin, QStringLiteral("select count(*) from TAB_MSGREAD where MSGID like 'NS%'"))),
              QStringLiteral("4"));
}

// On the engine's own client connection: the reader comes from the lease, a connection
// handed from one reader to the next shows the next one's notices only, and the reader's
// note cannot be read or written by a client statement.
TEST_F(NoticeScope, TheEngineKeepsEachLeaseToItsReader)
{
    const ClientScope zhang = srv().scopeOf(QStringLiteral("001.zhang"));
    ASSERT_EQ(zhang.ownNoticeTables,
              (QStringList{"tab_msgemp", "tab_msgread", "tab_msgrecord", "tab_msgsite"}));
    EXPECT_EQ(zhang.reader, (NoticeReader{QStringLiteral("上海浦东"), QStringLiteral("马超")}));
    ClientScope other = zhang;
    other.reader = NoticeReader{QStringLiteral("北京朝阳"), QStringLiteral("宋佳")};
    // The same key: the pool hands the same connections to both readers.
    ASSERT_EQ(other.key(), zhang.key());
    for (int round = 0; round < 3; ++round) {
        {
            auto c = srv().backend->acquireForClient(zhang);
            EXPECT_EQ(seen(*c, QStringLiteral("TAB_MSGRECORD"), QStringLiteral("MSGID")), QStringLiteral("NS01,NS04,NS06"));
        }
        {
            auto c = srv().backend->acquireForClient(other);
            EXPECT_EQ(seen(*c, QStringLiteral("TAB_MSGRECORD"), QStringLiteral("MSGID")),
                      QStringLiteral("NS02,NS03,NS04,NS05,NS09"));
            EXPECT_EQ(seen(*c, QStringLiteral("TAB_MSGEMP"), QStringLiteral("MSGEMP")), QStringLiteral("宋佳"));
        }
    }
    // A reader nobody is sees nothing.
    ClientScope nobody = zhang;
    nobody.reader = NoticeReader{QStringLiteral("无此网点"), QStringLiteral("无此人")};
    {
        auto c = srv().backend->acquireForClient(nobody);
        EXPECT_EQ(seen(*c, QStringLiteral("TAB_MSGRECORD"), QStringLiteral("MSGID")), QString());
        EXPECT_EQ(seen(*c, QStringLiteral("TAB_MSGREAD"), QStringLiteral("MSGReader")), QString());
    }
    // A client statement cannot name itself another reader.
    auto c = srv().backend->acquireForClient(zhang);
    const QStringList attacks =
        onPostgres()
            ? QStringList{QStringLiteral("select * from sys_tenantreader"),
                          QStringLiteral("update sys_tenantreader set SITE='北京朝阳', EMP='宋佳'"),
                          QStringLiteral("insert into sys_tenantreader values (pg_backend_pid(), session_user, '北京朝阳', '宋佳')"),
                          QStringLiteral("select * from tab_msgrecord r where r.msgid not in (select wl_reader_notices())")}
            : QStringList{QStringLiteral("select * from main.TAB_MSGRECORD"),
                          QStringLiteral("select * from main.TAB_MSGSITE where MSGSITE<>wl_reader_site()")};
    for (const QString &sql : attacks) {
        bool refusedOrEmpty = false;
        try {
            refusedOrEmpty = c->query(sql, {}, true).rows.isEmpty();
        } catch (const DbError &) {
            refusedOrEmpty = true;
        }
        EXPECT_TRUE(refusedOrEmpty) << qPrintable(sql);
    }
    EXPECT_EQ(seen(*c, QStringLiteral("TAB_MSGRECORD"), QStringLiteral("MSGID")), QStringLiteral("NS01,NS04,NS06"));
}

// Files follow the notices: the body of a notice is read by its addressees and publisher.
TEST_F(NoticeScope, ANoticeFileIsReadByThoseWhoSeeTheNotice)
{
    const QString path = QStringLiteral("notice\\20261208\\scope_{B1}.rtf");
    auto admin = as("000", "001.admin");
    admin->callMethod(QStringLiteral("UploadByStream"), {path, QByteArray("body of NS02")});
    srv().native(QStringLiteral("update TAB_MSGRECORD set MSGCONTENT=? where MSGID='NS02'"), {path});
    auto download = [&](protocol::Transport &t) {
        try {
            return t.callMethod(QStringLiteral("DownloadByStream"), {path}).at(1).toByteArray();
        } catch (const ProtocolError &e) {
            return QByteArray::number(e.status());
        }
    };
    auto wang = as("201", "001.wang");
    auto zhang = as("101", "001.zhang");
    EXPECT_EQ(download(*wang), QByteArray("body of NS02"));
    EXPECT_EQ(download(*zhang), QByteArray("403"));
}

} // namespace
