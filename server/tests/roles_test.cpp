// Rights by role from the attacker's side and from a partial administrator's: what each
// demo role reads (provider, GetData, a hand-written join, and the engine itself), the rows
// a site role sees, escalation attempts, files of others, finance lines and who-did-it
// columns, and the edges of the administration calls. Runs on SQLite and PostgreSQL.
#include "qtprint.h"

#include "server/auth.h"
#include "server/authz.h"
#include "testserver.h"

#include <QCborArray>
#include <QElapsedTimer>
#include <QFile>
#include <atomic>
#include <thread>

using namespace server;
using namespace server::test;
using namespace quillon;
using quillon::protocol::ProtocolError;

namespace {

const char *const kAdmin = "001.admin";
const char *const kLi = "001.li";
const char *const kZhang = "001.zhang";
const char *const kWang = "001.wang";

class Roles : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_srv = new TestServer(60); }
    static void TearDownTestSuite()
    {
        delete s_srv;
        s_srv = nullptr;
    }
    TestServer &srv() { return *s_srv; }

    std::unique_ptr<protocol::Transport> as(const QString &user, const QString &password = QStringLiteral("123456"))
    {
        auto t = std::make_unique<protocol::Transport>(srv().options());
        t->openSession(TestServer::logOnRequest(siteOf(user), user, password));
        return t;
    }
    QString siteOf(const QString &user)
    {
        static const QHash<QString, QString> sites = {{kAdmin, "000"}, {kLi, "100"}, {kZhang, "101"},
                                                      {kWang, "201"}, {"dk", "000"}};
        if (sites.contains(user))
            return sites.value(user);
        return srv().native(QStringLiteral("select SITECODE from sys_user where USERCODE=?"), {user})
            .rows.value(0)
            .value(0)
            .toString();
    }
    template<typename Fn>
    static int statusOf(Fn &&fn, QString *text = nullptr)
    {
        try {
            fn();
        } catch (const ProtocolError &e) {
            if (text)
                *text = e.message();
            return e.status();
        }
        return 200;
    }
    static QCborMap args(std::initializer_list<std::pair<QString, QCborValue>> list)
    {
        QCborMap m;
        for (const auto &[k, v] : list)
            m.insert(k, v);
        return m;
    }
    qlonglong count(const QString &sql, const QVariantList &params = {})
    {
        return srv().native(sql, params).rows.value(0).value(0).toLongLong();
    }
    QString scalar(const QString &sql, const QVariantList &params = {})
    {
        return srv().native(sql, params).rows.value(0).value(0).toString();
    }
    int apply(protocol::Transport &t, const QString &table, const DataPacket &p, QString *text = nullptr)
    {
        return statusOf([&] { t.callMethod(QStringLiteral("ApplyData"), {table, p.toXml(), 0, QCborValue()}); },
                        text);
    }

    static TestServer *s_srv;
};
TestServer *Roles::s_srv = nullptr;

// The tables each demo role reads, as docs/roles.md gives them; every other table is refused.
struct Expected
{
    const char *table;
    bool admin, li, zhang, wang;
};
const Expected kMatrix[] = {
    {"tab_Site", true, true, true, true},
    {"tab_Employee", true, true, true, true},
    {"tab_Mdd", true, true, true, true},
    {"tab_GoodsType", true, true, true, true},
    {"TAB_MSGRECORD", true, true, true, true},
    {"TAB_MSGSITE", true, true, true, true},
    {"TAB_MSGEMP", true, true, true, true},
    {"TAB_MSGREAD", true, true, true, true},
    {"TAB_ACCOUNT", true, true, true, false},
    {"TAB_DFKRECORD", true, true, true, false},
    {"TAB_DFPFRECORD", true, true, true, false},
    {"TAB_FEERULE", true, true, true, false},
    {"TAB_WAYBILL", true, true, true, false},
    {"TAB_SCAN", true, true, true, false},
    {"TAB_SIGN", true, true, true, false},
    {"sys_log", true, true, false, false},
    {"SYS_TABLES", true, true, false, false},
    {"sys_update", true, false, false, false},
    {"TAB_PARAMETER", true, false, false, false},
    {"sys_menu", true, true, true, true},
    {"sys_user", false, false, false, false},
};

TEST_F(Roles, EachRoleReadsExactlyTheTablesOfItsFunctions)
{
    const char *users[] = {kAdmin, kLi, kZhang, kWang};
    for (int u = 0; u < 4; ++u) {
        const QString user = QString::fromLatin1(users[u]);
        auto t = as(user);
        const ClientScope scope = srv().scopeOf(user);
        for (const Expected &e : kMatrix) {
            const bool readable = u == 0 ? e.admin : u == 1 ? e.li : u == 2 ? e.zhang : e.wang;
            const QString table = QString::fromLatin1(e.table);
            const QString what = user + QLatin1Char(' ') + table;
            QString text;
            const int provider = statusOf([&] { query(*t, QStringLiteral("select count(*) from %1").arg(table)); }, &text);
            EXPECT_EQ(provider, readable ? 200 : 403) << qPrintable(what) << " " << qPrintable(text);
            if (!readable) {
                // Chinese, naming the table, saying whom to ask.
                EXPECT_TRUE(text.contains(table, Qt::CaseInsensitive)) << qPrintable(text);
                EXPECT_TRUE(text.contains(QStringLiteral("系统管理员"))) << qPrintable(text);
            }
            const int getData = statusOf([&] {
                t->callMethod(QStringLiteral("GetData"), {QStringLiteral("select * from %1 where rownum<=1").arg(table), 1});
            });
            EXPECT_EQ(getData, readable ? 200 : 403) << qPrintable(what) << " GetData";
            const int joined = statusOf([&] {
                query(*t, QStringLiteral("select count(*) from tab_Site s join %1 x on x.sysid=s.sysid "
                                         "where s.SiteCode='000'")
                              .arg(table));
            });
            EXPECT_EQ(joined, readable ? 200 : 403) << qPrintable(what) << " join";
            // The engine itself, whatever the server's text checks say.
            auto c = srv().backend->acquireForClient(scope);
            bool engineRead = true;
            try {
                c->query(c->translate(QStringLiteral("select count(*) from %1").arg(table)).sql, {}, true);
            } catch (const DbError &) {
                engineRead = false;
            }
            EXPECT_EQ(engineRead, readable) << qPrintable(what) << " engine";
        }
    }
}

// The role x table matrix of the demo roles as the server enforces it: reading asked of the
// provider (and the rows compared with the deployment's), writing asked of the server's
// write check, the column limit of the registry. Printed as the Markdown table of
// docs/roles.md (WAYLINK_ROLE_MATRIX=file writes it there too); the docs must match it.
TEST_F(Roles, TheMatrixOfTheDemoRolesAsTheServerEnforcesIt)
{
    const QStringList tables = {
        "tab_Site", "tab_Employee", "tab_Mdd", "tab_GoodsType", "sys_menu", "TAB_MSGRECORD", "TAB_MSGSITE", "TAB_MSGEMP",
        "TAB_MSGREAD", "TAB_ACCOUNT", "TAB_DFKRECORD", "TAB_DFPFRECORD", "TAB_FEERULE", "TAB_WAYBILL", "TAB_BILLISSUE",
        "TAB_PICKUP", "TAB_BILLENTRY", "TAB_SCAN", "TAB_SIGN", "sys_log", "sys_logchain", "SYS_TABLES", "sys_update",
        "TAB_PARAMETER", "sys_user", "sys_role", "sys_functable", "sys_fileowner"};
    const QStringList users = {kAdmin, kLi, kZhang, kWang};
    QStringList lines = {QStringLiteral("| table | 管理员 | 总部财务 | 网点财务 | 网点操作员 |"),
                         QStringLiteral("|---|---|---|---|---|")};
    QHash<QString, QString> cell; // user + table -> what it says
    // A notice of none of the four, with a recipient row and a read receipt: who sees only
    // his own notices sees fewer rows of each notice table than there are.
    if (count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='MATRIX1'")) == 0) {
        const QDateTime now = QDateTime::currentDateTime();
        srv().native(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, OPTIME, OPSITE, OPEMP, sysid) "
                                    "values ('MATRIX1', 'x', ?, '上海闵行', '赵敏', '001')"), {now});
        srv().native(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, sysid) values ('MATRIX1', '上海闵行', ?, '001')"), {now});
        srv().native(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, MSGTime, sysid) "
                                    "values ('MATRIX1', '赵敏', '上海闵行', ?, '001')"), {now});
        srv().native(QStringLiteral("insert into TAB_MSGREAD (MSGID, MSGReadSite, MSGReader, MSGReadTime, sysid) "
                                    "values ('MATRIX1', '上海闵行', '赵敏', ?, '001')"), {now});
    }
    for (const QString &user : users) {
        auto t = as(user);
        Rights rights;
        {
            auto c = srv().backend->acquireForServer();
            rights = loadRights(*c, user, QStringLiteral("001"));
        }
        for (const QString &table : tables) {
            QString ops;
            qlonglong seen = -1;
            if (statusOf([&] { seen = query(*t, QStringLiteral("select count(*) from %1").arg(table)).rows.value(0).value(0).toLongLong(); }) == 200)
                ops += u'R';
            for (QChar op : {u'I', u'U', u'D'}) {
                try {
                    authorizeWrite(rights, table, QString(op));
                    ops += op;
                } catch (const ServerError &) {
                }
            }
            QString text = ops.isEmpty() ? QStringLiteral("—") : ops;
            if (ops.contains(u'U') && !rights.updatableColumns(table).isEmpty())
                text += QStringLiteral(" (U: fees)");
            if (ops.contains(u'R')) {
                const bool hasSysid = srv().backend->acquireForServer()->tableInfo(table).columnIndex(QStringLiteral("sysid")) >= 0;
                const qlonglong all = count(QStringLiteral("select count(*) from %1%2").arg(table, hasSysid ? QStringLiteral(" where sysid='001'") : QString()));
                if (seen < all)
                    text += isNoticeTable(table) ? QStringLiteral(" (own notices)")
                            : rowScopedTables().contains(table, Qt::CaseInsensitive) ? QStringLiteral(" (own site)")
                                                                                     : QStringLiteral(" (own rows)");
                EXPECT_LE(seen, all) << qPrintable(user) << " " << qPrintable(table);
            }
            cell.insert(user + table, text);
        }
    }
    for (const QString &table : tables) {
        QStringList row = {table};
        for (const QString &user : users)
            row.append(cell.value(user + table));
        lines.append(QStringLiteral("| ") + row.join(QStringLiteral(" | ")) + QStringLiteral(" |"));
    }
    const QString matrix = lines.join(u'\n');
    std::printf("%s\n", qPrintable(matrix));
    if (const QString out = qEnvironmentVariable("WAYLINK_ROLE_MATRIX"); !out.isEmpty()) {
        QFile f(out);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(matrix.toUtf8() + '\n');
    }
    // Reading agrees with the expected table of the other checks; the write side of the
    // finance tables is update only, for fees.
    for (const Expected &e : kMatrix) {
        const bool expected[] = {e.admin, e.li, e.zhang, e.wang};
        for (int u = 0; u < 4; ++u) {
            if (tables.contains(QString::fromLatin1(e.table))) {
                EXPECT_EQ(cell.value(users.at(u) + QString::fromLatin1(e.table)).startsWith(u'R'), expected[u])
                    << qPrintable(users.at(u)) << " " << e.table;
            }
        }
    }
    EXPECT_EQ(cell.value(QString::fromLatin1(kZhang) + QStringLiteral("TAB_DFKRECORD")), QStringLiteral("RU (U: fees) (own site)"));
    EXPECT_EQ(cell.value(QString::fromLatin1(kWang) + QStringLiteral("TAB_MSGRECORD")), QStringLiteral("RI (own notices)"));
    EXPECT_EQ(cell.value(QString::fromLatin1(kAdmin) + QStringLiteral("TAB_MSGRECORD")), QStringLiteral("RIUD"));
    EXPECT_EQ(cell.value(QString::fromLatin1(kZhang) + QStringLiteral("TAB_ACCOUNT")), QStringLiteral("R (own site)"));
    EXPECT_EQ(cell.value(QString::fromLatin1(kWang) + QStringLiteral("sys_user")), QStringLiteral("—"));
    // The documentation carries the same table.
    QFile doc(QStringLiteral(WAYLINK_SOURCE_DIR "/docs/roles.md"));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(doc.readAll()).contains(matrix)) << "docs/roles.md lacks the matrix:\n" << qPrintable(matrix);
}

TEST_F(Roles, ASiteRoleSeesOnlyItsSitesRowsAlsoThroughAggregatesAndJoins)
{
    auto zhang = as(QString::fromLatin1(kZhang));
    const QString site = QStringLiteral("上海浦东");
    const qlonglong own = count(QStringLiteral("select count(*) from TAB_ACCOUNT where STATIONCODE=? and sysid='001'"), {site});
    const qlonglong all = count(QStringLiteral("select count(*) from TAB_ACCOUNT where sysid='001'"));
    ASSERT_GT(own, 0);
    ASSERT_GT(all, own);
    auto first = [](const DataPacket &p) { return p.rows.value(0).value(0); };
    EXPECT_EQ(first(query(*zhang, QStringLiteral("select count(*) from TAB_ACCOUNT"))).toLongLong(), own);
    const DataPacket stations = query(*zhang, QStringLiteral("select distinct STATIONCODE from TAB_ACCOUNT"));
    ASSERT_EQ(stations.rows.size(), 1);
    EXPECT_EQ(first(stations).toString(), site);
    // An aggregate over a sub-query and a join of the two scoped tables: no more rows.
    EXPECT_EQ(first(query(*zhang, QStringLiteral("select count(*) from (select BILLCODE from TAB_ACCOUNT "
                                                "union all select BILLCODE from TAB_ACCOUNT where 1=0) x")))
                  .toLongLong(),
              own);
    const qlonglong joinedNative = count(
        QStringLiteral("select count(*) from TAB_DFKRECORD d join TAB_ACCOUNT a on a.BILLCODE=d.BILLCODE and a.sysid=d.sysid "
                       "where d.sysid='001' and a.STATIONCODE=? and (d.FIRSTSITE=? or d.SIGNSITE=?)"),
        {site, site, site});
    EXPECT_EQ(first(query(*zhang, QStringLiteral("select count(*) from TAB_DFKRECORD d join TAB_ACCOUNT a "
                                                "on a.BILLCODE=d.BILLCODE")))
                  .toLongLong(),
              joinedNative);
    const qlonglong dfpf = count(QStringLiteral("select count(*) from TAB_DFPFRECORD where sysid='001' and "
                                                "(FIRSTSITE=? or ARRIVESITE=? or SIGNSITE=?)"),
                                 {site, site, site});
    EXPECT_EQ(first(query(*zhang, QStringLiteral("select count(*) from TAB_DFPFRECORD"))).toLongLong(), dfpf);
    EXPECT_EQ(first(query(*zhang, QStringLiteral("select count(*) from TAB_DFPFRECORD where FIRSTSITE<>'上海浦东' "
                                                "and ARRIVESITE<>'上海浦东' and SIGNSITE<>'上海浦东'")))
                  .toLongLong(),
              0);
    // GetData as well.
    const QCborArray r = zhang->callMethod(QStringLiteral("GetData"),
                                           {QStringLiteral("select count(*) as N from TAB_ACCOUNT"), 1});
    EXPECT_EQ(DataPacket::fromBinary(r.at(2).toByteArray()).rows.value(0).value(0).toLongLong(), own);
    // Head-office finance is not limited.
    auto li = as(QString::fromLatin1(kLi));
    EXPECT_EQ(first(query(*li, QStringLiteral("select count(*) from TAB_ACCOUNT"))).toLongLong(), all);
}

TEST_F(Roles, FinanceRolesUpdateLinesOfTheirSiteButNeitherInsertNorDelete)
{
    auto zhang = as(QString::fromLatin1(kZhang));
    DataPacket p = query(*zhang, QStringLiteral("select * from TAB_DFKRECORD where rownum<=1"));
    ASSERT_EQ(p.rows.size(), 1);
    const QString bill = p.rows.at(0).at(p.fieldIndex(QStringLiteral("BILLCODE"))).toString();
    const qlonglong before = count(QStringLiteral("select count(*) from TAB_DFKRECORD where sysid='001'"));

    DataPacket del = p;
    DataPacket::Change d;
    d.state = RowState::Deleted;
    d.original = p.rows.at(0);
    del.rows.clear();
    del.changes = {d};
    QString text;
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"), del, &text), 403);
    EXPECT_TRUE(text.contains(QStringLiteral("删除"))) << qPrintable(text);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_DFKRECORD where BILLCODE=? and sysid='001'"), {bill}), 1);

    DataPacket ins = p;
    ins.rows[0][p.fieldIndex(QStringLiteral("BILLCODE"))] = QStringLiteral("990000000001");
    DataPacket::Change i;
    i.state = RowState::Inserted;
    i.row = 0;
    ins.changes = {i};
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"), ins), 403);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_DFKRECORD where sysid='001'")), before);

    // A fee of his own site's record may change.
    DataPacket upd = p;
    DataPacket::Change m;
    m.state = RowState::Modified;
    m.row = 0;
    m.original = p.rows.at(0);
    upd.rows[0][p.fieldIndex(QStringLiteral("JZPAYCHARGE"))] = 12.5;
    upd.changes = {m};
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"), upd, &text), 200) << qPrintable(text);

    // Another site's record, named by a hand-made packet, may not.
    const QString other = scalar(QStringLiteral("select min(BILLCODE) from TAB_DFKRECORD where sysid='001' and "
                                                "FIRSTSITE<>'上海浦东' and SIGNSITE<>'上海浦东'"));
    ASSERT_FALSE(other.isEmpty());
    auto li = as(QString::fromLatin1(kLi));
    DataPacket foreign = query(*li, QStringLiteral("select * from TAB_DFKRECORD where BILLCODE=:1"), QCborArray{other});
    ASSERT_EQ(foreign.rows.size(), 1);
    const QString oldFee = scalar(QStringLiteral("select JZPAYCHARGE from TAB_DFKRECORD where BILLCODE=? and sysid='001'"), {other});
    DataPacket::Change f;
    f.state = RowState::Modified;
    f.row = 0;
    f.original = foreign.rows.at(0);
    foreign.rows[0][foreign.fieldIndex(QStringLiteral("JZPAYCHARGE"))] = 999.0;
    foreign.changes = {f};
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"), foreign, &text), 403) << qPrintable(text);
    EXPECT_EQ(scalar(QStringLiteral("select JZPAYCHARGE from TAB_DFKRECORD where BILLCODE=? and sysid='001'"), {other}), oldFee);
    // Moving his own record to another site is refused as well.
    DataPacket move = query(*zhang, QStringLiteral("select * from TAB_DFKRECORD where BILLCODE=:1"), QCborArray{bill});
    DataPacket::Change mv;
    mv.state = RowState::Modified;
    mv.row = 0;
    mv.original = move.rows.at(0);
    move.rows[0][move.fieldIndex(QStringLiteral("FIRSTSITE"))] = QStringLiteral("北京朝阳");
    move.rows[0][move.fieldIndex(QStringLiteral("SIGNSITE"))] = QStringLiteral("北京朝阳");
    move.changes = {mv};
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"), move), 403);
}

// The finance windows change the fee and refresh columns of existing lines; a hand-made
// packet that changes another column (a waybill number, a site, a centre) is refused whole,
// by the server's check and by the engine itself.
TEST_F(Roles, FinanceRolesChangeOnlyTheFeeAndRefreshColumns)
{
    auto modified = [](DataPacket p, std::initializer_list<std::pair<const char *, QVariant>> values) {
        DataPacket::Change m;
        m.state = RowState::Modified;
        m.row = 0;
        m.original = p.rows.at(0);
        for (const auto &[field, v] : values)
            p.rows[0][p.fieldIndex(QString::fromLatin1(field))] = v;
        p.changes = {m};
        return p;
    };
    auto zhang = as(QString::fromLatin1(kZhang));
    const DataPacket dfk = query(*zhang, QStringLiteral("select * from TAB_DFKRECORD where rownum<=1"));
    ASSERT_EQ(dfk.rows.size(), 1);
    const QString bill = dfk.rows.at(0).at(dfk.fieldIndex(QStringLiteral("BILLCODE"))).toString();
    auto stored = [&](const char *column) {
        return scalar(QStringLiteral("select %1 from TAB_DFKRECORD where BILLCODE=? and sysid='001'").arg(QLatin1String(column)),
                      {bill});
    };
    const QString fee = stored("JZPAYCHARGE");
    const QString centre = stored("FIRSTCENTER");
    QString text;
    // A fee together with the waybill number, or with the record's centre: nothing written.
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"),
                    modified(dfk, {{"JZPAYCHARGE", 31.5}, {"BILLCODE", QStringLiteral("990000000777")}}), &text),
              403);
    EXPECT_TRUE(text.contains(QStringLiteral("BILLCODE"))) << qPrintable(text);
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"), modified(dfk, {{"JZPAYCHARGE", 31.5}, {"FIRSTCENTER", QStringLiteral("北京中心")}})),
              403);
    EXPECT_EQ(stored("JZPAYCHARGE"), fee);
    EXPECT_EQ(stored("FIRSTCENTER"), centre);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_DFKRECORD where BILLCODE='990000000777'")), 0);
    // What the window's refresh and fee run write goes through.
    EXPECT_EQ(apply(*zhang, QStringLiteral("TAB_DFKRECORD"),
                    modified(dfk, {{"JZPAYCHARGE", 31.5}, {"PZGETCHARGE", 31.5}, {"REMARK", QStringLiteral("刷新")}}), &text),
              200)
        << qPrintable(text);
    EXPECT_EQ(stored("JZPAYCHARGE").toDouble(), 31.5);

    // Head-office finance on the centre account: the station of a line stays.
    auto li = as(QString::fromLatin1(kLi));
    const DataPacket line = query(*li, QStringLiteral("select * from TAB_ACCOUNT where rownum<=1"));
    ASSERT_EQ(line.rows.size(), 1);
    const QVariant key = line.rows.at(0).at(line.fieldIndex(QStringLiteral("BILLCODE")));
    const qlonglong atStation = count(QStringLiteral("select count(*) from TAB_ACCOUNT where STATIONCODE='北京朝阳' and sysid='001'"));
    EXPECT_EQ(apply(*li, QStringLiteral("TAB_ACCOUNT"), modified(line, {{"STATIONCODE", QStringLiteral("北京朝阳")}})), 403);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where STATIONCODE='北京朝阳' and sysid='001'")), atStation);
    EXPECT_EQ(apply(*li, QStringLiteral("TAB_ACCOUNT"), modified(line, {{"AR_TRANS_FEE", 8.25}, {"OTHERCHARGE", 1.0}}), &text), 200)
        << qPrintable(text);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where BILLCODE=? and AR_TRANS_FEE=8.25 and sysid='001'"), {key}), 1);

    // The engine itself, under the limit ApplyData sets: another column is refused, a fee not.
    auto c = srv().backend->acquireForServer();
    for (const char *column : {"BILLCODE", "FIRSTSITE", "FIRSTCENTER"}) {
        Transaction t(*c);
        c->beginLimitedUpdate(QStringLiteral("TAB_DFKRECORD"), updatableColumns(QStringLiteral("TAB_DFKRECORD")));
        EXPECT_THROW(c->execute(QStringLiteral("update TAB_DFKRECORD set %1=%1 where BILLCODE=? and sysid='001'")
                                    .arg(QLatin1String(column)),
                                {bill}),
                     AccessDenied)
            << column;
        c->endLimitedUpdate();
    }
    {
        Transaction t(*c);
        c->beginLimitedUpdate(QStringLiteral("TAB_DFKRECORD"), updatableColumns(QStringLiteral("TAB_DFKRECORD")));
        EXPECT_EQ(c->execute(QStringLiteral("update TAB_DFKRECORD set JZPAYCHARGE=32 where BILLCODE=? and sysid='001'"), {bill}), 1);
        c->endLimitedUpdate();
        // Past the limit the server's own statements are whole again.
        EXPECT_EQ(c->execute(QStringLiteral("update TAB_DFKRECORD set FIRSTCENTER=FIRSTCENTER where BILLCODE=? and sysid='001'"), {bill}), 1);
        t.commit();
    }
    EXPECT_EQ(stored("JZPAYCHARGE").toDouble(), 32.0);
}

TEST_F(Roles, WhoDidItComesFromTheSession)
{
    auto wang = as(QString::fromLatin1(kWang));
    DataPacket p = query(*wang, QStringLiteral("select * from TAB_MSGRECORD where 1=0"));
    p.rows.append(QVariantList(p.fields.size()));
    auto set = [&p](const char *f, const QVariant &v) { p.rows[0][p.fieldIndex(QString::fromLatin1(f))] = v; };
    set("MSGID", QStringLiteral("SPOOF1"));
    set("MSGOBJECT", QStringLiteral("冒名公告"));
    set("OPTIME", QDateTime::currentDateTime());
    set("OPSITE", QStringLiteral("总部"));
    set("OPEMP", QStringLiteral("张伟"));
    DataPacket::Change i;
    i.state = RowState::Inserted;
    i.row = 0;
    p.changes = {i};
    EXPECT_EQ(apply(*wang, QStringLiteral("TAB_MSGRECORD"), p), 403);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='SPOOF1'")), 0);
    // Left empty, the server writes the publisher.
    set("OPSITE", QVariant());
    set("OPEMP", QVariant());
    QString text;
    EXPECT_EQ(apply(*wang, QStringLiteral("TAB_MSGRECORD"), p, &text), 200) << qPrintable(text);
    EXPECT_EQ(scalar(QStringLiteral("select OPSITE from TAB_MSGRECORD where MSGID='SPOOF1'")), QStringLiteral("北京朝阳"));
    EXPECT_EQ(scalar(QStringLiteral("select OPEMP from TAB_MSGRECORD where MSGID='SPOOF1'")), QStringLiteral("宋佳"));

    // A read receipt in 马超's name.
    DataPacket r = query(*wang, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    r.rows.append(QVariantList(r.fields.size()));
    r.rows[0][r.fieldIndex(QStringLiteral("MSGID"))] = QStringLiteral("SPOOF1");
    r.rows[0][r.fieldIndex(QStringLiteral("MSGReadSite"))] = QStringLiteral("上海浦东");
    r.rows[0][r.fieldIndex(QStringLiteral("MSGReader"))] = QStringLiteral("马超");
    r.changes = {i};
    EXPECT_EQ(apply(*wang, QStringLiteral("TAB_MSGREAD"), r), 403);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='SPOOF1'")), 0);
}

TEST_F(Roles, FilesOfOthersAreNeitherReplacedNorRead)
{
    auto zhang = as(QString::fromLatin1(kZhang));
    auto wang = as(QString::fromLatin1(kWang));
    auto admin = as(QString::fromLatin1(kAdmin));
    const QString path = QStringLiteral("notice\\20261208\\roles_{A1}.rtf");
    auto upload = [](protocol::Transport &t, const QString &p, const QByteArray &bytes) {
        return statusOf([&] { t.callMethod(QStringLiteral("UploadByStream"), {p, bytes}); });
    };
    auto download = [](protocol::Transport &t, const QString &p, QByteArray *out = nullptr) {
        return statusOf([&] {
            const QCborArray r = t.callMethod(QStringLiteral("DownloadByStream"), {p});
            if (out)
                *out = r.at(1).toByteArray();
        });
    };
    ASSERT_EQ(upload(*zhang, path, "zhang's body"), 200);
    EXPECT_EQ(upload(*wang, path, "wang's body"), 403);
    EXPECT_EQ(upload(*wang, QStringLiteral("./notice/20261208/roles_{A1}.rtf"), "other spelling"), 403);
    QByteArray bytes;
    EXPECT_EQ(download(*zhang, path, &bytes), 200);
    EXPECT_EQ(bytes, QByteArray("zhang's body"));
    // Not yet named by a notice: nobody else reads it.
    EXPECT_EQ(download(*wang, path), 403);
    // The owner and the notice manager may replace it.
    EXPECT_EQ(upload(*zhang, path, "zhang's second body"), 200);
    EXPECT_EQ(upload(*admin, path, "managed body"), 200);
    srv().native(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, OPTIME, OPSITE, OPEMP, sysid) "
                                "values ('FILE1', 'x', ?, ?, '上海浦东', '马超', '001')"),
                 {path, QDateTime::currentDateTime()});
    // Named by a notice that is not addressed to 北京朝阳: still not hers.
    EXPECT_EQ(download(*wang, path), 403);
    srv().native(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, sysid) values ('FILE1', '北京朝阳', ?, '001')"),
                 {QDateTime::currentDateTime()});
    EXPECT_EQ(download(*wang, path, &bytes), 200);
    EXPECT_EQ(bytes, QByteArray("managed body"));
}

// A user holding only 用户管理 and one holding only 角色管理.
class PartialAdmin : public Roles
{
protected:
    void SetUp() override
    {
        auto admin = as(QString::fromLatin1(kAdmin));
        for (const auto &[role, function] : {std::pair{"仅用户管理", "px_Warden.fUsers"}, std::pair{"仅角色管理", "px_Warden.fRole"}}) {
            if (count(QStringLiteral("select count(*) from sys_role where ROLENAME=? and sysid='001'"), {QString::fromUtf8(role)}) > 0)
                continue;
            admin->callAdmin(QStringLiteral("SaveRole"), args({{"name", QString::fromUtf8(role)},
                                                               {"functions", QCborArray{QString::fromLatin1(function)}}}));
        }
        if (count(QStringLiteral("select count(*) from sys_role where ROLENAME='空角色' and sysid='001'")) == 0)
            admin->callAdmin(QStringLiteral("SaveRole"), args({{"name", QStringLiteral("空角色")}, {"functions", QCborArray{}}}));
        for (const auto &[user, role] : {std::pair{"001.users", "仅用户管理"}, std::pair{"001.roles", "仅角色管理"}}) {
            if (count(QStringLiteral("select count(*) from sys_user where USERCODE=?"), {QString::fromLatin1(user)}) > 0)
                continue;
            admin->callAdmin(QStringLiteral("AddUser"), args({{"user", QString::fromLatin1(user)}, {"site", QStringLiteral("000")},
                                                              {"name", QStringLiteral("部分管理")}, {"password", QStringLiteral("abc12345x")},
                                                              {"roles", QCborArray{QString::fromUtf8(role)}}}));
        }
    }
    std::unique_ptr<protocol::Transport> partial(const char *user) { return as(QString::fromLatin1(user), QStringLiteral("abc12345x")); }
    // Everything the escalation attempts could change.
    QString snapshot()
    {
        QStringList out;
        for (const QString &sql : {QStringLiteral("select USERCODE, ROLENAME from sys_userrole where sysid='001' order by 1, 2"),
                                   QStringLiteral("select ROLENAME, FUNCNAME from sys_rolegrant where sysid='001' order by 1, 2"),
                                   QStringLiteral("select ROLENAME, coalesce(ROWSCOPE, '') from sys_role where sysid='001' order by 1"),
                                   QStringLiteral("select USERCODE, PWHASH, ENABLED, EMPNAME, SITECODE from sys_user where sysid='001' order by 1")})
            for (const QVariantList &row : srv().native(sql).rows) {
                QStringList cells;
                for (const QVariant &v : row)
                    cells.append(v.toString());
                out.append(cells.join(u'|'));
            }
        return out.join(u'\n');
    }
};

TEST_F(PartialAdmin, AUserAdministratorCannotRaiseHimselfOrActOnStrongerUsers)
{
    auto users = partial("001.users");
    const QString before = snapshot();
    struct Attempt
    {
        const char *call;
        QCborMap args;
    } attempts[] = {
        {"UpdateUser", args({{"user", QStringLiteral("001.users")}, {"site", QStringLiteral("000")}, {"name", QStringLiteral("部分管理")},
                             {"roles", QCborArray{QStringLiteral("管理员")}}})},
        {"UpdateUser", args({{"user", QStringLiteral("001.users")}, {"site", QStringLiteral("000")}, {"name", QStringLiteral("部分管理")},
                             {"roles", QCborArray{QStringLiteral("仅用户管理"), QStringLiteral("仅角色管理")}}})},
        {"ResetPassword", args({{"user", QStringLiteral("001.admin")}, {"password", QStringLiteral("takeover123")}})},
        {"ResetPassword", args({{"user", QStringLiteral("001.wang")}, {"password", QStringLiteral("takeover123")}})},
        {"SetUserEnabled", args({{"user", QStringLiteral("001.admin")}, {"enabled", false}})},
        {"UpdateUser", args({{"user", QStringLiteral("001.wang")}, {"site", QStringLiteral("201")}, {"name", QStringLiteral("宋佳")},
                             {"roles", QCborArray{QStringLiteral("管理员")}}})},
        {"AddUser", args({{"user", QStringLiteral("001.mole")}, {"site", QStringLiteral("000")}, {"name", QStringLiteral("内应")},
                          {"password", QStringLiteral("abc12345y")}, {"roles", QCborArray{QStringLiteral("网点财务")}}})},
        {"AddUser", args({{"user", QStringLiteral("001.mole")}, {"site", QStringLiteral("000")}, {"name", QStringLiteral("内应")},
                          {"password", QStringLiteral("abc12345y")}, {"roles", QCborArray{QStringLiteral("管理员")}}})},
        {"SaveRole", args({{"name", QStringLiteral("仅用户管理")}, {"oldName", QStringLiteral("仅用户管理")},
                           {"functions", QCborArray{QStringLiteral("px_Warden.fUsers"), QStringLiteral("px_Warden.fRole")}}})},
    };
    for (const Attempt &a : attempts) {
        QString text;
        EXPECT_EQ(statusOf([&] { users->callAdmin(QString::fromLatin1(a.call), a.args); }, &text), 403) << a.call << " " << qPrintable(text);
    }
    EXPECT_EQ(snapshot(), before);
    // What he holds himself he may hand out: a user with no functions, and that user's password.
    EXPECT_EQ(statusOf([&] {
                  users->callAdmin(QStringLiteral("AddUser"), args({{"user", QStringLiteral("001.plain")}, {"site", QStringLiteral("201")},
                                                                    {"name", QStringLiteral("新人")}, {"password", QStringLiteral("abc12345z")},
                                                                    {"roles", QCborArray{QStringLiteral("空角色")}}}));
              }),
              200);
    EXPECT_EQ(statusOf([&] {
                  users->callAdmin(QStringLiteral("ResetPassword"), args({{"user", QStringLiteral("001.plain")}, {"password", QStringLiteral("abc12345w")}}));
              }),
              200);
}

TEST_F(PartialAdmin, ARoleAdministratorCannotGrantWhatHeLacks)
{
    auto roles = partial("001.roles");
    const QString before = snapshot();
    const QCborMap attempts[] = {
        // his own role, with more
        args({{"name", QStringLiteral("仅角色管理")}, {"oldName", QStringLiteral("仅角色管理")},
              {"functions", QCborArray{QStringLiteral("px_Warden.fRole"), QStringLiteral("px_Warden.fUsers")}}}),
        // another role, with the centre-account editing he lacks
        args({{"name", QStringLiteral("网点操作员")}, {"oldName", QStringLiteral("网点操作员")},
              {"functions", QCborArray{QStringLiteral("px_Herald.fSendMessage"), QStringLiteral("px_Tally.fcenAccEdt")}}}),
        // a new role with a function he lacks
        args({{"name", QStringLiteral("新角色")}, {"functions", QCborArray{QStringLiteral("px_Warden.fUsers")}}}),
        // 管理员
        args({{"name", QStringLiteral("管理员")}, {"oldName", QStringLiteral("管理员")}, {"functions", QCborArray{}}}),
        // widening a site role to every row
        args({{"name", QStringLiteral("网点操作员")}, {"oldName", QStringLiteral("网点操作员")}, {"rowScope", QString()},
              {"functions", QCborArray{QStringLiteral("px_Herald.fSendMessage")}}}),
    };
    for (const QCborMap &a : attempts) {
        QString text;
        EXPECT_EQ(statusOf([&] { roles->callAdmin(QStringLiteral("SaveRole"), a); }, &text), 403) << qPrintable(text);
    }
    QString text;
    EXPECT_EQ(statusOf([&] { roles->callAdmin(QStringLiteral("DeleteRole"), args({{"name", QStringLiteral("仅用户管理")}})); }, &text), 403);
    EXPECT_EQ(snapshot(), before);
    // A role of what he holds is his to make.
    EXPECT_EQ(statusOf([&] {
                  roles->callAdmin(QStringLiteral("SaveRole"), args({{"name", QStringLiteral("角色助理")},
                                                                     {"functions", QCborArray{QStringLiteral("px_Warden.fRole")}}}));
              }),
              200);
}

TEST_F(Roles, AdministrationEdges)
{
    auto admin = as(QString::fromLatin1(kAdmin));
    // Booleans must be booleans: "true" and 1 are refused, the user stays as he was.
    for (const QCborValue &v : {QCborValue(QStringLiteral("true")), QCborValue(1), QCborValue()}) {
        EXPECT_EQ(statusOf([&] {
                      admin->callAdmin(QStringLiteral("SetUserEnabled"), args({{"user", QStringLiteral("001.wang")}, {"enabled", v}}));
                  }),
                  400);
    }
    EXPECT_EQ(count(QStringLiteral("select ENABLED from sys_user where USERCODE='001.wang'")), 1);
    // Names that look like others, or read backwards.
    const QString hidden[] = {QStringLiteral("001.zh\u200Bang"), QStringLiteral("001.\u202Egnahz"), QStringLiteral("001.zh\u0007ang")};
    for (const QString &user : hidden) {
        QString text;
        EXPECT_EQ(statusOf([&] {
                      admin->callAdmin(QStringLiteral("AddUser"), args({{"user", user}, {"site", QStringLiteral("101")}, {"name", QStringLiteral("马超")},
                                                                        {"password", QStringLiteral("abc12345q")},
                                                                        {"roles", QCborArray{QStringLiteral("网点操作员")}}}));
                  },
                           &text),
                  400);
        EXPECT_TRUE(text.contains(QStringLiteral("不可见"))) << qPrintable(text);
        EXPECT_EQ(count(QStringLiteral("select count(*) from sys_user where USERCODE=?"), {user}), 0);
    }
    EXPECT_EQ(statusOf([&] {
                  admin->callAdmin(QStringLiteral("UpdateUser"), args({{"user", QStringLiteral("001.wang")}, {"site", QStringLiteral("201")},
                                                                       {"name", QStringLiteral("宋\u200D佳")},
                                                                       {"roles", QCborArray{QStringLiteral("网点操作员")}}}));
              }),
              400);
    EXPECT_EQ(statusOf([&] {
                  admin->callAdmin(QStringLiteral("SaveSite"), args({{"code", QStringLiteral("109")}, {"name", QStringLiteral("上海\u2066浦东")},
                                                                     {"parent", QStringLiteral("上海中心")}, {"level", QStringLiteral("2")},
                                                                     {"finance", false}}));
              }),
              400);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteCode='109'")), 0);
}

TEST_F(Roles, ARevokedTokenIsRefusedByEveryRequestAfterTheAnswer)
{
    auto admin = as(QString::fromLatin1(kAdmin));
    for (int round = 0; round < 3; ++round) {
        auto wang = as(QString::fromLatin1(kWang));
        auto other = as(QString::fromLatin1(kWang));
        // Another client of the same user keeps asking meanwhile, so that the generation is
        // read while the revoking call runs.
        std::atomic<bool> stop{false};
        std::thread busy([&] {
            while (!stop)
                statusOf([&] { other->callMethod(QStringLiteral("GetLstValue"), {QStringLiteral("sysid")}); });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        admin->callAdmin(QStringLiteral("ResetPassword"),
                         args({{"user", QStringLiteral("001.wang")}, {"password", QStringLiteral("abc12345r")}}));
        EXPECT_EQ(statusOf([&] { query(*wang, QStringLiteral("select count(*) from tab_Site")); }), 401) << round;
        stop = true;
        busy.join();
        srv().native(QStringLiteral("update sys_user set PWHASH=? where USERCODE='001.wang'"),
                     {hashPassword(QStringLiteral("123456"), true)});
    }
}

TEST_F(Roles, ChangePasswordGuessesAreThrottledLikeLogOn)
{
    auto zhang = as(QString::fromLatin1(kZhang));
    auto guess = [&](const QString &old) {
        return statusOf([&] {
            zhang->callAdmin(QStringLiteral("ChangePassword"), args({{"old", old}, {"new", QStringLiteral("abc12345n")}}));
        });
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(guess(QStringLiteral("wrong%1").arg(i)), 403);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(guess(QStringLiteral("wrong5")), 403);
    EXPECT_EQ(guess(QStringLiteral("wrong6")), 403);
    // Past the free failures each guess waits (1 s, then 2 s): no longer a dozen a second.
    EXPECT_GE(timer.elapsed(), 2500);
    EXPECT_EQ(scalar(QStringLiteral("select PWHASH from sys_user where USERCODE='001.zhang'")).isEmpty(), false);
}

} // namespace
