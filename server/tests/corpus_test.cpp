// Every SQL text that the windows send, as they build it, through the provider of a
// running server on the demo data: each must run and return the rows that the same
// question asked of SQLite directly returns (and, where the demo data fixes it, a count).
#include "testserver.h"

#include <QCborArray>
#include <QDateTime>
#include <cmath>

using namespace server;
using namespace server::test;

namespace {

QString Q(const QString &s)
{
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

QString day(int back)
{
    return QDate::currentDate().addDays(-back).toString(QStringLiteral("yyyy-MM-dd"));
}

const QString kSysid = QStringLiteral("001");
const QString kSite = QStringLiteral("上海浦东");
const QString kEmp = QStringLiteral("马超");

class Corpus : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        srv = new TestServer(300);
        // The administrator reads every table the windows read, every row of them (a site's
        // roles see less: server/tests/roles_test.cpp).
        client = srv->client(QStringLiteral("000"), QStringLiteral("001.admin")).release();
    }
    static void TearDownTestSuite()
    {
        delete client;
        delete srv;
    }

    // Runs the window's text through the server and the equivalent SQLite text directly;
    // compares the values of every row (in order when `ordered`). Returns the packet.
    static quillon::DataPacket same(const QString &windowSql, const QString &nativeSql,
                                    bool ordered = false)
    {
        quillon::DataPacket p;
        try {
            p = query(*client, windowSql);
        } catch (const quillon::protocol::ProtocolError &e) {
            ADD_FAILURE() << e.message().toStdString() << "\n" << windowSql.toStdString();
            return p;
        }
        const QueryResult n = srv->native(nativeSql);
        auto text = [](const QList<QVariantList> &rows, bool sort) {
            QStringList out;
            for (const QVariantList &r : rows) {
                QStringList cells;
                for (const QVariant &v : r) {
                    if (v.typeId() == QMetaType::QDateTime)
                        cells.append(v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
                    else if (v.typeId() == QMetaType::Double)
                        cells.append(QString::number(v.toDouble()));
                    else
                        cells.append(v.toString());
                }
                out.append(cells.join(QLatin1Char('|')));
            }
            if (sort)
                out.sort();
            return out;
        };
        EXPECT_EQ(text(p.rows, !ordered), text(n.rows, !ordered)) << windowSql.toStdString();
        return p;
    }

    static TestServer *srv;
    static quillon::protocol::Transport *client;
};
TestServer *Corpus::srv = nullptr;
quillon::protocol::Transport *Corpus::client = nullptr;

// ---- notices ------------------------------------------------------------------------

QString unreadText()
{
    return QStringLiteral("select b.*,a.MSGSITE,null as MSGEMP from TAB_MSGSITE a,TAB_MSGRECORD b where a.MSGID=b.MSGID and a.sysid=b.sysid and a.MSGSITE=")
           + Q(kSite) + QStringLiteral(" and b.OPTIME >=trunc(sysdate-10) ")
           + QStringLiteral(" and not exists (select 1 from TAB_MSGREAD c where MSGREADSITE = ") + Q(kSite)
           + QStringLiteral(" and MSGREADER = ") + Q(kEmp) + QStringLiteral(" and a.MSGID =c.MSGID)")
           + QStringLiteral(" and a.sysid=") + Q(kSysid) + QStringLiteral(" union all ")
           + QStringLiteral("select b.*,a.MSGSITE,a.MSGEMP from TAB_MSGEMP a,TAB_MSGRECORD b where a.MSGID=b.MSGID and a.sysid=b.sysid")
           + QStringLiteral(" and a.MSGSITE=") + Q(kSite) + QStringLiteral(" and a.MSGEMP=") + Q(kEmp)
           + QStringLiteral(" and b.OPTIME >=trunc(sysdate-10) ")
           + QStringLiteral(" and not exists (select 1 from TAB_MSGREAD c where MSGREADSITE = ") + Q(kSite)
           + QStringLiteral(" and MSGREADER = ") + Q(kEmp) + QStringLiteral(" and a.MSGID =c.MSGID)")
           + QStringLiteral(" and a.sysid=") + Q(kSysid);
}

TEST_F(Corpus, UnreadNoticesOfTheLastTenDays)
{
    const QString since = Q(day(10) + QStringLiteral(" 00:00:00"));
    const QString native =
        QStringLiteral("select b.*, a.MSGSITE, null from TAB_MSGSITE a join TAB_MSGRECORD b on a.MSGID=b.MSGID and a.sysid=b.sysid "
                       "where a.MSGSITE='上海浦东' and b.OPTIME >= %1 and a.sysid='001' and not exists "
                       "(select 1 from TAB_MSGREAD c where c.MSGReadSite='上海浦东' and c.MSGReader='马超' and c.MSGID=a.MSGID) "
                       "union all select b.*, a.MSGSITE, a.MSGEMP from TAB_MSGEMP a join TAB_MSGRECORD b on a.MSGID=b.MSGID "
                       "and a.sysid=b.sysid where a.MSGSITE='上海浦东' and a.MSGEMP='马超' and b.OPTIME >= %1 and a.sysid='001' "
                       "and not exists (select 1 from TAB_MSGREAD c where c.MSGReadSite='上海浦东' and c.MSGReader='马超' and c.MSGID=a.MSGID)")
            .arg(since);
    const quillon::DataPacket p = same(unreadText(), native);
    // Nine notices within ten days reach the site, two of them read; one of the two
    // personal ones is unread.
    EXPECT_EQ(p.rows.size(), 8);
    // The notice row's eleven columns (with the attachment's original name), then the two.
    ASSERT_EQ(p.fields.size(), 13);
    EXPECT_EQ(p.fields.at(11).name, QStringLiteral("MSGSITE"));
    EXPECT_EQ(p.fields.at(12).name, QStringLiteral("MSGEMP"));
    EXPECT_EQ(p.fields.at(p.fieldIndex(QStringLiteral("OPTIME"))).type, quillon::FieldType::DateTime);
}

TEST_F(Corpus, QueryingNoticesByReadState)
{
    const QString B = day(15), E = day(0);
    const QString tpl =
        QStringLiteral("select b.*,a.MSGSITE,null as MSGEMP from TAB_MSGSITE a,TAB_MSGRECORD b where a.MSGID=b.MSGID and a.sysid=b.sysid and a.MSGSITE=")
        + Q(kSite) + QStringLiteral(" and b.OPTIME between to_date('") + B + QStringLiteral(" 00:00:00','yyyy-mm-dd HH24:mi:ss')")
        + QStringLiteral(" and to_date('") + E + QStringLiteral(" 23:59:59','yyyy-mm-dd HH24:mi:ss') %1 ")
        + QStringLiteral(" and a.sysid=") + Q(kSysid) + QStringLiteral(" union all ")
        + QStringLiteral("select b.*,a.MSGSITE,a.MSGEMP from TAB_MSGEMP a,TAB_MSGRECORD b where a.MSGID=b.MSGID and a.sysid=b.sysid")
        + QStringLiteral(" and a.MSGSITE=") + Q(kSite) + QStringLiteral(" and a.MSGEMP=") + Q(kEmp)
        + QStringLiteral(" and b.OPTIME between to_date('") + B + QStringLiteral(" 00:00:00','yyyy-mm-dd HH24:mi:ss')")
        + QStringLiteral(" and to_date('") + E + QStringLiteral(" 23:59:59','yyyy-mm-dd HH24:mi:ss') %1 ")
        + QStringLiteral(" and a.sysid=") + Q(kSysid);
    const QString unread = QStringLiteral(" and not exists (select 1 from TAB_MSGREAD c where MSGReadSite = ") + Q(kSite)
                           + QStringLiteral(" and MSGReader = ") + Q(kEmp) + QStringLiteral(" and a.MSGID =c.MSGID)");
    const QString read = QStringLiteral(" and  exists (select 1 from TAB_MSGREAD c where MSGReadSite = ") + Q(kSite)
                         + QStringLiteral(" and MSGReader = ") + Q(kEmp) + QStringLiteral(" and a.MSGID =c.MSGID)");
    const QString nativeTpl =
        QStringLiteral("select b.MSGID, a.MSGSITE from TAB_MSGSITE a join TAB_MSGRECORD b on a.MSGID=b.MSGID and a.sysid=b.sysid "
                       "where a.MSGSITE='上海浦东' and b.OPTIME between '%1 00:00:00' and '%2 23:59:59' %3 "
                       "union all select b.MSGID, a.MSGSITE from TAB_MSGEMP a join TAB_MSGRECORD b on a.MSGID=b.MSGID and a.sysid=b.sysid "
                       "where a.MSGSITE='上海浦东' and a.MSGEMP='马超' and b.OPTIME between '%1 00:00:00' and '%2 23:59:59' %3");
    const struct
    {
        QString filter, nativeFilter;
        int rows;
    } states[] = {
        {unread, QStringLiteral("and not exists (select 1 from TAB_MSGREAD c where c.MSGReadSite='上海浦东' and c.MSGReader='马超' and c.MSGID=a.MSGID)"), 11},
        {read, QStringLiteral("and exists (select 1 from TAB_MSGREAD c where c.MSGReadSite='上海浦东' and c.MSGReader='马超' and c.MSGID=a.MSGID)"), 4},
        {QString(), QString(), 15},
    };
    for (const auto &s : states) {
        const quillon::DataPacket p = query(*client, tpl.arg(s.filter));
        const QueryResult n = srv->native(nativeTpl.arg(B, E, s.nativeFilter));
        EXPECT_EQ(p.rows.size(), n.rows.size());
        EXPECT_EQ(p.rows.size(), s.rows) << s.filter.toStdString();
    }
}

TEST_F(Corpus, ManagingNoticesAndTheirDetails)
{
    const QString B = day(15), E = day(0);
    auto text = [&](const QString &site) -> QString {
        QString t = QStringLiteral(" select 0 as sel,nvl((select count(b.MSGID) from TAB_MSGSITE b where a.MSGID=b.MSGID and b.sysid=a.sysid),0) as SiteCnt,nvl((select count(b.MSGID) from TAB_MSGEMP b where a.MSGID=b.MSGID and b.sysid=a.sysid),0) as EmpCnt,a.* from TAB_MSGRECORD a ")
                    + QStringLiteral(" Where OPTIME between to_date( '") + B + QStringLiteral(" 00:00:00','yyyy-mm-dd hh24:mi:ss')")
                    + QStringLiteral(" And to_date('") + E + QStringLiteral(" 23:59:59','yyyy-mm-dd hh24:mi:ss') ");
        if (!site.isEmpty())
            t += QStringLiteral(" and OPSITE='") + site + QLatin1Char('\'');
        return t + QStringLiteral(" and a.sysid=") + Q(kSysid);
    };
    const QString native = QStringLiteral(
        "select 0, (select count(*) from TAB_MSGSITE b where b.MSGID=a.MSGID and b.sysid=a.sysid), "
        "(select count(*) from TAB_MSGEMP b where b.MSGID=a.MSGID and b.sysid=a.sysid), a.* from TAB_MSGRECORD a "
        "where OPTIME between '%1 00:00:00' and '%2 23:59:59' and a.sysid='001'").arg(B, E);
    const quillon::DataPacket all = same(text(QString()), native);
    EXPECT_EQ(all.rows.size(), 12);
    EXPECT_EQ(all.fields.at(0).name, QStringLiteral("SEL"));
    EXPECT_EQ(all.fields.at(1).name, QStringLiteral("SITECNT"));
    EXPECT_EQ(all.fields.at(1).type, quillon::FieldType::Integer);
    int withoutEmployees = 0;
    for (const QVariantList &r : all.rows)
        withoutEmployees += r.at(2).toInt() == 0 ? 1 : 0;
    EXPECT_EQ(withoutEmployees, 6);
    EXPECT_EQ(query(*client, text(QStringLiteral("总部"))).rows.size(), 12);
    EXPECT_EQ(query(*client, text(QStringLiteral("上海浦东"))).rows.size(), 0);

    const QString id = all.rows.at(0).at(all.fieldIndex(QStringLiteral("MSGID"))).toString();
    same(QStringLiteral("select MSGSITE,HASREAD,READTIME,READEMP from TAB_MSGSITE where MSGID='") + id + QStringLiteral("'")
             + QStringLiteral(" and sysid=") + Q(kSysid),
         QStringLiteral("select MSGSITE,HASREAD,READTIME,READEMP from TAB_MSGSITE where MSGID='%1'").arg(id));
    same(QStringLiteral("select MSGEMP,MSGSITE,HASREAD,READTIME from TAB_MSGEMP where MSGID='") + id + QStringLiteral("'")
             + QStringLiteral(" and sysid=") + Q(kSysid),
         QStringLiteral("select MSGEMP,MSGSITE,HASREAD,READTIME from TAB_MSGEMP where MSGID='%1'").arg(id));
    const QString id2 = all.rows.at(1).at(all.fieldIndex(QStringLiteral("MSGID"))).toString();
    EXPECT_EQ(query(*client, QStringLiteral("select * from TAB_MSGRECORD Where MSGID in (%1) and sysid=")
                                 .arg(Q(id) + QLatin1Char(',') + Q(id2)) + Q(kSysid)).rows.size(), 2);

    const quillon::DataPacket empty = query(*client, QStringLiteral("select * from TAB_MSGRECORD where 1=0"));
    EXPECT_EQ(empty.rows.size(), 0);
    EXPECT_EQ(empty.fields.size(), 11);
    for (const char *t : {"TAB_MSGSITE", "TAB_MSGEMP"})
        EXPECT_EQ(query(*client, QStringLiteral("select * from %1 where 1=0").arg(QLatin1String(t))).rows.size(), 0);
}

TEST_F(Corpus, ReadReceiptsAndLookups)
{
    const QString DB = day(15), DE = day(0);
    auto text = [&](const QString &site, const QString &emp) -> QString {
        QString t = QStringLiteral("select b.*,a.MSGOBJECT,a.MSGFILE,a.OPSITE,a.OPTIME,a.OPEMP,a.MSGCONTENT from TAB_MSGRECORD a  left join TAB_MSGREAD b on a.MSGID=b.MSGID and a.sysid=b.sysid where   b.MSGREADTIME between to_date(")
                    + Q(DB + QStringLiteral("00:00:00 ")) + QStringLiteral(",'yyyy-mm-dd hh24:mi:ss') and to_Date(")
                    + Q(DE + QStringLiteral("23:59:59 ")) + QStringLiteral(",'yyyy-mm-dd hh24:mi:ss')")
                    + QStringLiteral(" and a.sysid=") + Q(kSysid);
        if (!site.isEmpty())
            t += QStringLiteral(" and b.MSGREADSITE='") + site + QLatin1Char('\'');
        if (!emp.isEmpty())
            t += QStringLiteral(" and b.MSGREADER='") + emp + QLatin1Char('\'');
        return t;
    };
    const quillon::DataPacket p = same(text(QString(), QString()),
         QStringLiteral("select b.*,a.MSGOBJECT,a.MSGFILE,a.OPSITE,a.OPTIME,a.OPEMP,a.MSGCONTENT from TAB_MSGRECORD a "
                        "join TAB_MSGREAD b on a.MSGID=b.MSGID and a.sysid=b.sysid where b.MSGReadTime between "
                        "'%1 00:00:00' and '%2 23:59:59' and a.sysid='001'").arg(DB, DE));
    EXPECT_EQ(p.rows.size(), 3);
    EXPECT_EQ(query(*client, text(kSite, kEmp)).rows.size(), 3);
    EXPECT_EQ(query(*client, text(QString(), QStringLiteral("张伟"))).rows.size(), 0);

    const QString id = p.rows.at(0).at(p.fieldIndex(QStringLiteral("MSGID"))).toString();
    EXPECT_EQ(query(*client, QStringLiteral("Select * from TAB_MSGREAD  where MSGReader=") + Q(kEmp)
                                 + QStringLiteral(" and MSGID =") + Q(id) + QStringLiteral(" and MSGReadSite=") + Q(kSite)
                                 + QStringLiteral(" and sysid=") + Q(kSysid)).rows.size(), 1);

    same(QStringLiteral("select SiteCode,SiteName,BELONGSITE From tab_Site where sysid=") + Q(kSysid),
         QStringLiteral("select SiteCode,SiteName,BELONGSITE from tab_Site where sysid='001'"));
    EXPECT_EQ(same(QStringLiteral("select EmpCode,EmpName,BELONGSITE From tab_Employee where sysid=") + Q(kSysid),
                   QStringLiteral("select EmpCode,EmpName,BELONGSITE from tab_Employee where sysid='001'")).rows.size(), 36);
    // Type-ahead of a lookup box: at most twenty rows, matched anywhere, lower case.
    EXPECT_EQ(query(*client, QStringLiteral("select SiteCode,SiteName from tab_Site where 1=1  and rownum<=20  and (lower(SiteName) like '%上海%' or lower(SiteCode) like '%上海%')")).rows.size(), 3);
    EXPECT_EQ(query(*client, QStringLiteral("select EmpCode,EmpName from tab_Employee where sysid='001' and rownum<=20  and (lower(EmpName) like '%%' or lower(EmpCode) like '%%')")).rows.size(), 20);
    same(QStringLiteral("select * from sys_menu where sysid='001' order by POSID"),
         QStringLiteral("select * from sys_menu where sysid='001' order by POSID"), true);
    same(QStringLiteral("select * from tab_Mdd where sysid='001'"), QStringLiteral("select * from tab_Mdd where sysid='001'"));
    same(QStringLiteral("select * from tab_GoodsType where sysid='001'"), QStringLiteral("select * from tab_GoodsType where sysid='001'"));
}

// ---- finance ------------------------------------------------------------------------

QString range(const QString &column, int fromBack)
{
    return QStringLiteral(" where ") + column + QStringLiteral(" between to_date(") + Q(day(fromBack) + QStringLiteral(" 00:00:00"))
           + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ") + QStringLiteral(" and to_date(")
           + Q(day(0) + QStringLiteral(" 23:59:59")) + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ");
}

QString nativeRange(const QString &column, int fromBack)
{
    return QStringLiteral(" where %1 between '%2 00:00:00' and '%3 23:59:59' ").arg(column, day(fromBack), day(0));
}

TEST_F(Corpus, FinanceQueriesWithTheirFilters)
{
    struct Case
    {
        QString head, dateColumn;
        int back;
        QString conditions, nativeConditions;
        bool nonEmpty;
    } cases[] = {
        {"select * from TAB_ACCOUNT ", "SCANTIME", 0, QString(), QString(), true},
        {"select * from TAB_ACCOUNT ", "SCANTIME", 0, " and STATIONCODE='上海浦东'", " and STATIONCODE='上海浦东'", false},
        {"select * from TAB_ACCOUNT ", "SCANTIME", 29, " and FINANCECENTER='上海中心' and nvl(SIGNED,0)=1 ",
         " and FINANCECENTER='上海中心' and ifnull(SIGNED,0)=1", true},
        {"select * from TAB_ACCOUNT ", "SCANTIME", 29,
         " and FINANCECENTER='北京中心' and PRIORFINANCE='上海中心' and STATIONCODE='北京朝阳' and GOODSTYPE='文件' and nvl(SIGNED,0)=0 ",
         " and FINANCECENTER='北京中心' and PRIORFINANCE='上海中心' and STATIONCODE='北京朝阳' and GOODSTYPE='文件' and ifnull(SIGNED,0)=0", false},
        {"select * from TAB_ACCOUNT ", "SCANTIME", 29, " and PRIORSTATIONCODE='上海中心' and NEXTSTATIONCODE='x'",
         " and PRIORSTATIONCODE='上海中心' and NEXTSTATIONCODE='x'", false},
        {"select * from TAB_ACCOUNT ", "SCANTIME", 29, " and GOODSTYPE='it''s'", " and GOODSTYPE='it''s'", false},
        {"select * from TAB_DFKRECORD ", "CREATETIME", 29, " and FIRSTCENTER='上海中心' and nvl(SIGNFLAG,0)=1 ",
         " and FIRSTCENTER='上海中心' and ifnull(SIGNFLAG,0)=1", true},
        {"select * from TAB_DFKRECORD ", "SIGNTIME", 29, " and SIGNCENTER='北京中心' and SIGNSITE='北京朝阳' and nvl(SIGNFLAG,0)=1 ",
         " and SIGNCENTER='北京中心' and SIGNSITE='北京朝阳' and ifnull(SIGNFLAG,0)=1", false},
        {"select * from TAB_DFKRECORD ", "CREATETIME", 29, " and nvl(SIGNFLAG,0)=0 ", " and ifnull(SIGNFLAG,0)=0", true},
        {"select * from TAB_DFPFRECORD ", "CREATETIME", 29, " and FIRSTCENTER='广州中心' and nvl(SIGNFLAG,0)=1 ",
         " and FIRSTCENTER='广州中心' and ifnull(SIGNFLAG,0)=1", true},
        {"select * from TAB_DFPFRECORD ", "SIGNTIME", 29, " and SIGNSITE='上海浦东'", " and SIGNSITE='上海浦东'", false},
    };
    for (const Case &c : cases) {
        const QString text = c.head + range(c.dateColumn, c.back) + c.conditions + QStringLiteral(" and sysid=") + Q(kSysid);
        const QString native = c.head + nativeRange(c.dateColumn, c.back) + c.nativeConditions + QStringLiteral(" and sysid='001'");
        const quillon::DataPacket p = same(text, native);
        if (c.nonEmpty) {
            EXPECT_GT(p.rows.size(), 0) << text.toStdString();
        }
    }
    const quillon::DataPacket acc = query(*client, QStringLiteral("select * from TAB_ACCOUNT where rownum<=1"));
    EXPECT_EQ(acc.fields.at(acc.fieldIndex(QStringLiteral("WEIGHT"))).type, quillon::FieldType::Float);
    EXPECT_EQ(acc.fields.at(acc.fieldIndex(QStringLiteral("PCS"))).type, quillon::FieldType::Integer);
    EXPECT_EQ(acc.fields.at(acc.fieldIndex(QStringLiteral("SCANTIME"))).type, quillon::FieldType::DateTime);
    EXPECT_EQ(acc.fields.at(acc.fieldIndex(QStringLiteral("BILLCODE"))).size, 20);
}

TEST_F(Corpus, LookupCallsReturnTheWaybillEvents)
{
    const QString bill = srv->native(QStringLiteral("select BILLCODE from TAB_SIGN order by BILLCODE limit 1")).rows.at(0).at(0).toString();
    auto call = [&](const QString &fn, const QString &sep, const QString &result) {
        const QString text = QStringLiteral("select ") + fn + QLatin1Char('(') + Q(bill) + sep + Q(kSysid)
                             + QStringLiteral(") as ") + result + QStringLiteral(" from dual");
        const quillon::DataPacket p = query(*client, text);
        EXPECT_EQ(p.fields.value(0).name, result.toUpper());
        return p.rows.value(0).value(0);
    };
    auto native = [&](const QString &sql) { return srv->native(sql, {bill}).rows.value(0).value(0); };
    EXPECT_EQ(call(QStringLiteral("F_GetFFSite"), QStringLiteral(","), QStringLiteral("pResult")).toString(),
              native(QStringLiteral("select SITENAME from TAB_BILLISSUE where ?1 between BILLSTART and BILLEND")).toString());
    EXPECT_EQ(call(QStringLiteral("F_GetSJSite"), QStringLiteral(","), QStringLiteral("pResult")).toString(),
              native(QStringLiteral("select SITENAME from TAB_PICKUP where BILLCODE=?1")).toString());
    EXPECT_EQ(call(QStringLiteral("F_GetAccMdd"), QStringLiteral(",0,"), QStringLiteral("mResult")).toString(),
              native(QStringLiteral("select DEST from TAB_BILLENTRY where BILLCODE=?1")).toString());
    EXPECT_EQ(call(QStringLiteral("F_GetAccMdd"), QStringLiteral(",1,"), QStringLiteral("mResult")).toString(),
              native(QStringLiteral("select s.DEFAULTMDD from TAB_SIGN g join tab_Site s on s.SiteName=g.SIGNSITE where g.BILLCODE=?1")).toString());
    EXPECT_DOUBLE_EQ(call(QStringLiteral("F_GetMaxWeight"), QStringLiteral(","), QStringLiteral("wResult")).toDouble(),
                     native(QStringLiteral("select max(w) from (select WEIGHT w from TAB_PICKUP where BILLCODE=?1 union all "
                                           "select WEIGHT from TAB_SCAN where BILLCODE=?1 union all select WEIGHT from "
                                           "TAB_BILLENTRY where BILLCODE=?1 union all select WEIGHT from TAB_WAYBILL where BILLCODE=?1) e")).toDouble());
    EXPECT_EQ(call(QStringLiteral("F_GetSignSite"), QStringLiteral(","), QStringLiteral("sResult")).toString(),
              native(QStringLiteral("select SIGNSITE from TAB_SIGN where BILLCODE=?1")).toString());
    EXPECT_EQ(call(QStringLiteral("F_GetFirstSite"), QStringLiteral(",1,"), QStringLiteral("mResult")).toString(),
              native(QStringLiteral("select SENDSITE from TAB_BILLENTRY where BILLCODE=?1")).toString());
    EXPECT_DOUBLE_EQ(call(QStringLiteral("F_GetWeight"), QStringLiteral(",2,"), QStringLiteral("mResult")).toDouble(),
                     native(QStringLiteral("select WEIGHT from TAB_WAYBILL where BILLCODE=?1")).toDouble());
    EXPECT_FALSE(call(QStringLiteral("F_GetSignSite"), QStringLiteral(","), QStringLiteral("sResult")).toString().isEmpty());
}

TEST_F(Corpus, TheFeeCallBindsItsFifteenParameters)
{
    const QString block = QStringLiteral(" begin select F_CalcJSFee( Pi_FirstSite=>:1,Pi_Dest=>:2,Pi_FeeType=>:3,Pi_PCS=>:4,Pi_Weight=>:5,Pi_BulkWeight=>:6, Pi_FastType=>:7,Pi_GoodsType=>:8,Pi_SevrType=>:9,Pi_TransType=>:10,Pi_Finance=>:11, Pi_OpSite=>:12,Pi_CusName=>:13,Pi_ValidTime=>:14,Pi_sysid=>:15 ) as wResult from dual; end;");
    struct Case
    {
        const char *finance, *dest, *type;
        double weight;
        double expected;
    } cases[] = {
        {"上海中心", "北京", "中转费", 2.3, 1.75},  // 1.0 + 1.5 kg x 0.5
        {"北京中心", "上海", "中转费", 1.0, 1.2},   // the centre's own rule
        {"上海中心", "深圳", "派件费", 2.0, 2.0},   // destination rule
        {"上海中心", "北京", "派件费", 35.0, 6.0},  // heavy band: 5.0 + 5 kg x 0.2
        {"上海中心", "北京", "其他费", 1.0, 0.0},   // no rule for these goods
        {"上海中心", "北京", "到付款手续费", 1.0, 1.0},
    };
    for (const Case &c : cases) {
        const QCborArray params = {QStringLiteral("上海浦东"), QString::fromUtf8(c.dest), QString::fromUtf8(c.type), 1,
                                   c.weight, c.weight, QStringLiteral("标准快递"), QStringLiteral("物品"), QString(),
                                   QString(), QString::fromUtf8(c.finance), QStringLiteral("上海浦东"), QString(),
                                   QCborValue(QDateTime::currentDateTime()), kSysid};
        const quillon::DataPacket p = query(*client, block, params);
        ASSERT_EQ(p.rows.size(), 1);
        EXPECT_EQ(p.fields.at(0).name, QStringLiteral("WRESULT"));
        EXPECT_DOUBLE_EQ(p.rows.at(0).at(0).toDouble(), c.expected) << c.type << " " << c.weight;
    }
    // Without its parameters the call fails (the window then takes 0).
    EXPECT_THROW(query(*client, block), quillon::protocol::ProtocolError);
}

// ---- settings -----------------------------------------------------------------------

TEST_F(Corpus, OperationLogAndUpdateRegister)
{
    EXPECT_EQ(same(QStringLiteral("select TABLENAME from SYS_TABLES where sysid=") + Q(kSysid),
                   QStringLiteral("select TABLENAME from SYS_TABLES where sysid='001'")).rows.size(), 3);
    const QString head = QStringLiteral("select id, tablename, key, optype, content, opsite, opemp, opaddress, optime, opnote, key1,  key2, key3, key4, key5 from sys_log %1 ");
    const QString nativeHead = QStringLiteral("select id, tablename, key, optype, content, opsite, opemp, opaddress, optime, opnote, key1, key2, key3, key4, key5 from sys_log ");
    const struct
    {
        int back;
        QString conditions;
        bool nonEmpty;
    } cases[] = {
        {0, QString(), true},
        {9, QStringLiteral(" and tablename='TAB_ACCOUNT'"), true},
        {9, QStringLiteral(" and tablename='TAB_ACCOUNT' and optype='DEL'"), true},
        {9, QStringLiteral(" and optype='UPT'"), true},
        {9, QStringLiteral(" and tablename='NOT_LOGGED'"), false},
    };
    for (const auto &c : cases) {
        const QString cond = QStringLiteral(" where optime between to_date(") + Q(day(c.back) + QStringLiteral(" 00:00:00"))
                             + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ") + QStringLiteral(" and to_date(")
                             + Q(day(0) + QStringLiteral(" 23:59:59")) + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ")
                             + c.conditions + QStringLiteral(" and sysid=") + Q(kSysid);
        const quillon::DataPacket p = same(head.arg(cond), nativeHead + nativeRange(QStringLiteral("optime"), c.back) + c.conditions
                                                               + QStringLiteral(" and sysid='001'"));
        EXPECT_EQ(p.rows.isEmpty(), !c.nonEmpty) << c.conditions.toStdString();
        EXPECT_EQ(p.fields.value(2).name, QStringLiteral("KEY"));
    }

    const QString uhead = QStringLiteral("select id, utheme, udllname, ucontent, utime, uemp, UVERSION, UPATH, UFLAG from sys_update %1 ");
    auto ucond = [&](const QString &dll) -> QString {
        QString c = QStringLiteral(" where UTIME between to_date(") + Q(day(30) + QStringLiteral(" 00:00:00"))
                    + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS')") + QStringLiteral(" and to_date(")
                    + Q(day(0) + QStringLiteral(" 23:59:59")) + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS')");
        if (!dll.isEmpty())
            c += QStringLiteral(" and UDLLNAME like '%") + dll + QStringLiteral("%' ");
        return c + QStringLiteral(" and sysid=") + Q(kSysid);
    };
    const quillon::DataPacket all = query(*client, uhead.arg(ucond(QString())));
    EXPECT_EQ(all.rows.size(), 8);
    EXPECT_EQ(all.fields.at(all.fieldIndex(QStringLiteral("UCONTENT"))).type, quillon::FieldType::Memo);
    EXPECT_EQ(query(*client, uhead.arg(ucond(QStringLiteral("Herald")))).rows.size(), 2);
    EXPECT_EQ(query(*client, uhead.arg(ucond(QStringLiteral("herald")))).rows.size(), 0) << "like is case-sensitive";
}

} // namespace

namespace {

TEST_F(Corpus, CachedTablesOfTheLogOn)
{
    const QString sub = QStringLiteral("select * from tab_Site where sysid='001' and (SiteName='%1' or BELONGSITE='%1' or "
                                       "BELONGSITE in (select SiteName from tab_Site where BELONGSITE='%1' and sysid='001'))");
    EXPECT_EQ(query(*client, sub.arg(QStringLiteral("总部"))).rows.size(), 12);
    EXPECT_EQ(query(*client, sub.arg(QStringLiteral("上海中心"))).rows.size(), 4);
    EXPECT_EQ(query(*client, sub.arg(QStringLiteral("上海浦东"))).rows.size(), 1);
    EXPECT_EQ(query(*client, QStringLiteral("select * from tab_Site where sysid='001' and ISFINANCE=1")).rows.size(), 4);
    const quillon::DataPacket menu = query(*client, QStringLiteral(
        "select POSID, MENUNAME, FUNCNAME, ORGANLEVEL, SHORTCUT, OFFLINEENABLED, PNGNAME from sys_menu where sysid='001' order by POSID"));
    ASSERT_EQ(menu.rows.size(), 29);
    // Another deployment's rows (here the super administrator's menus) stay invisible.
    EXPECT_EQ(query(*client, QStringLiteral("select * from sys_menu where sysid='dk'")).rows.size(), 0);
    auto dk = srv->client(QStringLiteral("000"), QStringLiteral("dk"));
    EXPECT_EQ(query(*dk, QStringLiteral("select * from sys_menu where sysid='dk'")).rows.size(), 29);
    EXPECT_EQ(query(*dk, QStringLiteral("select * from sys_menu")).rows.size(), 29);
    EXPECT_EQ(query(*client, QStringLiteral("select * from sys_menu")).rows.size(), 29);
    EXPECT_EQ(query(*client, QStringLiteral("select count(*) from sys_menu where sysid='dk'")).rows.at(0).at(0), QVariant(0));
    EXPECT_EQ(menu.fields.at(5).type, quillon::FieldType::Integer);
    // Headers first, each group before its entries, every function of the modules.
    QStringList functions;
    for (const QVariantList &r : menu.rows)
        if (!r.at(2).toString().isEmpty())
            functions.append(r.at(2).toString());
    EXPECT_EQ(functions.size(), 19);
    EXPECT_TRUE(functions.contains(QStringLiteral("px_Herald.fNoReadMessage")));
    EXPECT_TRUE(functions.contains(QStringLiteral("px_Tally.fDFPFQuery")));
    EXPECT_TRUE(functions.contains(QStringLiteral("px_Tuner.fSysUpdate")));
    EXPECT_EQ(menu.rows.at(0).at(0).toString(), QStringLiteral("001.000.000"));
}

} // namespace
