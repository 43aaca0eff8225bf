// ApplyData: inserts, updates, deletes in one transaction, conflicts, rollback and the
// deployment key.
#include "testserver.h"

#include <QCborArray>
#include <QDateTime>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

using namespace server;
using namespace server::test;
using quillon::DataPacket;
using quillon::RowState;
using quillon::protocol::ProtocolError;

namespace {

class Apply : public ::testing::Test
{
protected:
    void SetUp() override
    {
        srv = std::make_unique<TestServer>(20);
        // The administrator's role may write every table these tests touch; inserting and
        // deleting finance lines is nobody's, so it is granted here (the writes are under
        // test, not the roles).
        {
            auto c = srv->backend->acquireForServer();
            for (const char *table : {"TAB_ACCOUNT", "TAB_DFKRECORD", "TAB_DFPFRECORD"})
                grantToEveryone(*c, QString::fromLatin1(table));
        }
        t = srv->client(QStringLiteral("000"), QStringLiteral("001.admin"));
    }

    // Calls ApplyData; returns the refreshed packet.
    DataPacket apply(const QString &table, const DataPacket &p)
    {
        const QCborArray r = t->callMethod(QStringLiteral("ApplyData"),
                                           {table, p.toXml(), 0, QCborValue()});
        EXPECT_TRUE(r.at(4).toBool());
        return DataPacket::fromBinary(r.at(3).toByteArray());
    }
    int applyStatus(const QString &table, const DataPacket &p, QString *text = nullptr, QString *kind = nullptr)
    {
        try {
            apply(table, p);
        } catch (const ProtocolError &e) {
            if (text)
                *text = e.message();
            if (kind)
                *kind = e.kind();
            return e.status();
        }
        return 200;
    }
    // The helpers fail the test instead of crashing it when a query brought back fewer
    // rows or other fields than the test expects.
    static void modify(DataPacket &p, int row, const QString &field, const QVariant &value)
    {
        if (row < 0 || row >= p.rows.size() || p.fieldIndex(field) < 0) {
            ADD_FAILURE() << "no row " << row << " or no field " << qPrintable(field) << " in the packet";
            return;
        }
        DataPacket::Change ch;
        ch.state = RowState::Modified;
        ch.row = row;
        ch.original = p.rows.at(row);
        p.rows[row][p.fieldIndex(field)] = value;
        p.changes.append(ch);
    }
    static void insert(DataPacket &p, const QVariantMap &values)
    {
        QVariantList row;
        for (const auto &f : std::as_const(p.fields))
            row.append(values.value(f.name));
        p.rows.append(row);
        DataPacket::Change ch;
        ch.state = RowState::Inserted;
        ch.row = int(p.rows.size() - 1);
        p.changes.append(ch);
    }
    static void remove(DataPacket &p, int row)
    {
        if (row < 0 || row >= p.rows.size()) {
            ADD_FAILURE() << "no row " << row << " to delete in the packet";
            return;
        }
        DataPacket::Change ch;
        ch.state = RowState::Deleted;
        ch.original = p.rows.takeAt(row);
        for (DataPacket::Change &other : p.changes)
            if (other.row > row)
                --other.row;
        p.changes.append(ch);
    }
    qlonglong count(const QString &sql, const QVariantList &params = {})
    {
        return srv->native(sql, params).rows.value(0).value(0).toLongLong();
    }
    QString firstBill()
    {
        return srv->native(QStringLiteral("select min(BILLCODE) from TAB_ACCOUNT")).rows.at(0).at(0).toString();
    }

    std::unique_ptr<TestServer> srv;
    std::unique_ptr<quillon::protocol::Transport> t;
};

TEST_F(Apply, InsertsStampTheDeploymentAndComeBackRefreshed)
{
    DataPacket p = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    ASSERT_GE(p.fieldIndex(QStringLiteral("MSGREADTIME")), 0);
    const QDateTime when(QDate(2026, 12, 7), QTime(10, 11, 12));
    insert(p, {{"MSGID", "X1"}, {"MSGREADSITE", QStringLiteral("上海浦东")}, {"MSGREADER", QStringLiteral("马超")}, {"MSGREADTIME", when}});
    const DataPacket back = apply(QStringLiteral("TAB_MSGREAD"), p);
    EXPECT_TRUE(back.changes.isEmpty());
    ASSERT_EQ(back.rows.size(), 1);
    EXPECT_EQ(back.rows.at(0).at(back.fieldIndex(QStringLiteral("sysid"))).toString(), QStringLiteral("001"));
    EXPECT_EQ(back.rows.at(0).at(back.fieldIndex(QStringLiteral("MSGREADTIME"))).toDateTime(), when);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='X1' and sysid='001' "
                                   "and MSGReadTime='2026-12-07 10:11:12'")),
              1);

    // The update register's window selects no sysid column: new rows still get it.
    DataPacket u = query(*t, QStringLiteral("select id, utheme, udllname, ucontent, utime, uemp, UVERSION, "
                                            "UPATH, UFLAG from sys_update where 1=0"));
    insert(u, {{"ID", 777}, {"UTHEME", "新功能"}, {"UDLLNAME", "px_Tally.dll"}, {"UFLAG", "1"}});
    apply(QStringLiteral("sys_update"), u);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_update where id=777 and sysid='001'")), 1);
}

TEST_F(Apply, UpdatesMatchTheKeyAndIgnoreForeignColumns)
{
    const QString bill = firstBill();
    DataPacket p = query(*t, QStringLiteral("select 0 as sel, a.* from TAB_ACCOUNT a where BILLCODE='%1' "
                                            "and sysid='001'").arg(bill));
    ASSERT_GE(p.rows.size(), 1);
    const QString station = p.rows.at(0).at(p.fieldIndex(QStringLiteral("STATIONCODE"))).toString();
    modify(p, 0, QStringLiteral("WEIGHT"), 12.5);
    p.rows[0][p.fieldIndex(QStringLiteral("DEST"))] = QStringLiteral("成都");
    const DataPacket back = apply(QStringLiteral("TAB_ACCOUNT"), p);
    EXPECT_DOUBLE_EQ(back.rows.at(0).at(back.fieldIndex(QStringLiteral("WEIGHT"))).toDouble(), 12.5);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where BILLCODE=? and STATIONCODE=? "
                                   "and WEIGHT=12.5 and DEST='成都'"),
                    {bill, station}),
              1);

    // A change of the column SEL, which the table lacks, does nothing and succeeds.
    DataPacket q = query(*t, QStringLiteral("select 0 as sel, a.* from TAB_ACCOUNT a where BILLCODE='%1'").arg(bill));
    modify(q, 0, QStringLiteral("SEL"), 1);
    const DataPacket same = apply(QStringLiteral("TAB_ACCOUNT"), q);
    EXPECT_EQ(same.rows.at(0).at(0), QVariant(1)); // the packet keeps its own column
    EXPECT_DOUBLE_EQ(srv->native(QStringLiteral("select WEIGHT from TAB_ACCOUNT where BILLCODE=? and STATIONCODE=?"),
                                 {bill, station}).rows.at(0).at(0).toDouble(),
                     12.5);
}

TEST_F(Apply, DeletesRemoveExactlyTheRows)
{
    const qlonglong before = count(QStringLiteral("select count(*) from TAB_MSGRECORD"));
    DataPacket p = query(*t, QStringLiteral("select * from TAB_MSGRECORD where sysid='001' order by MSGID"));
    ASSERT_GE(p.rows.size(), 3);
    const QString gone = p.rows.at(1).at(p.fieldIndex(QStringLiteral("MSGID"))).toString();
    remove(p, 1);
    const DataPacket back = apply(QStringLiteral("TAB_MSGRECORD"), p);
    EXPECT_EQ(back.rows.size(), p.rows.size());
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD")), before - 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID=?"), {gone}), 0);
}

TEST_F(Apply, AConflictRollsBackTheWholePacket)
{
    DataPacket p = query(*t, QStringLiteral("select * from TAB_DFKRECORD where sysid='001' order by BILLCODE"));
    ASSERT_GE(p.rows.size(), 2);
    const QString first = p.rows.at(0).at(0).toString();
    const QString second = p.rows.at(1).at(0).toString();
    modify(p, 0, QStringLiteral("JZPAYCHARGE"), 3.0);
    modify(p, 1, QStringLiteral("JZPAYCHARGE"), 4.0);
    // Meanwhile someone else changes the second row.
    srv->native(QStringLiteral("update TAB_DFKRECORD set JZPAYCHARGE=9 where BILLCODE=?"), {second});
    QString text, kind = QStringLiteral("unset");
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_DFKRECORD"), p, &text, &kind), 409);
    EXPECT_TRUE(text.contains(second)) << qPrintable(text);
    EXPECT_EQ(kind, QString()); // a changed row is no duplicate key
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_DFKRECORD where BILLCODE=? and JZPAYCHARGE=3"), {first}), 0);

    // A row deleted meanwhile is a conflict too.
    DataPacket d = query(*t, QStringLiteral("select * from TAB_DFKRECORD where BILLCODE='%1'").arg(first));
    remove(d, 0);
    srv->native(QStringLiteral("delete from TAB_DFKRECORD where BILLCODE=?"), {first});
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_DFKRECORD"), d), 409);

    // A duplicate key fails the packet and keeps the earlier insert of it out.
    DataPacket n = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    insert(n, {{"MSGID", "D1"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    insert(n, {{"MSGID", "D2"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    insert(n, {{"MSGID", "D2"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), n, &text, &kind), 409);
    // Named as such, so that a window can renumber without reading the text.
    EXPECT_EQ(kind, QLatin1String(quillon::protocol::kDuplicateKeyError));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID in ('D1','D2')")), 0);
}

TEST_F(Apply, RowsOfAnotherDeploymentAreRefused)
{
    srv->native(QStringLiteral("insert into TAB_MSGREAD values ('F1','北京朝阳','某人',null,'002')"));
    DataPacket p = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    insert(p, {{"MSGID", "F2"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}, {"SYSID", "002"}});
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), p), 403);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='F2'")), 0);

    // The provider shows the caller's deployment only.
    EXPECT_EQ(query(*t, QStringLiteral("select * from TAB_MSGREAD where MSGID='F1'")).rows.size(), 0);
    EXPECT_EQ(query(*t, QStringLiteral("select count(*) from TAB_MSGREAD where sysid='002'")).rows.at(0).at(0), QVariant(0));
    // A packet that claims the foreign row is refused.
    DataPacket f = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    QVariantList foreign(f.fields.size());
    foreign[f.fieldIndex(QStringLiteral("MSGID"))] = QStringLiteral("F1");
    foreign[f.fieldIndex(QStringLiteral("MSGREADSITE"))] = QStringLiteral("北京朝阳");
    foreign[f.fieldIndex(QStringLiteral("MSGREADER"))] = QStringLiteral("某人");
    foreign[f.fieldIndex(QStringLiteral("SYSID"))] = QStringLiteral("002");
    f.rows.append(foreign);
    modify(f, 0, QStringLiteral("MSGREADER"), QStringLiteral("改"));
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), f), 403);
    // Even when the packet hides the sysid column, the row cannot be matched.
    DataPacket h = query(*t, QStringLiteral("select MSGID, MSGREADSITE, MSGREADER from TAB_MSGREAD where 1=0"));
    h.rows.append({QStringLiteral("F1"), QStringLiteral("北京朝阳"), QStringLiteral("某人")});
    remove(h, 0);
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), h), 409);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='F1' and MSGReader='某人'")), 1);
}

TEST_F(Apply, BadRequestsAreRefusedWithAReason)
{
    DataPacket p = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    insert(p, {{"MSGID", "B1"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    QString text;
    EXPECT_EQ(applyStatus(QStringLiteral("NO_SUCH_TABLE"), p, &text), 400);
    EXPECT_TRUE(text.contains(QStringLiteral("NO_SUCH_TABLE")));
    EXPECT_EQ(applyStatus(QStringLiteral("sys_user"), p), 403);
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD; drop table x"), p), 400);
    const QCborArray bad = {QStringLiteral("TAB_MSGREAD"), QStringLiteral("<DATAPACKET><broken"), 0, QCborValue()};
    try {
        t->callMethod(QStringLiteral("ApplyData"), bad);
        ADD_FAILURE() << "malformed XML accepted";
    } catch (const ProtocolError &e) {
        EXPECT_EQ(e.status(), 400);
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='B1'")), 0);

    // Values must fit their columns; nothing of the packet is written otherwise.
    DataPacket v = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    v.fields[v.fieldIndex(QStringLiteral("MSGREADTIME"))].type = quillon::FieldType::String; // a client that says so
    insert(v, {{"MSGID", "V1"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    insert(v, {{"MSGID", "V2"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}, {"MSGREADTIME", "not a date"}});
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), v, &text), 400);
    EXPECT_TRUE(text.contains(QStringLiteral("MSGReadTime"))) << qPrintable(text);
    DataPacket longKey = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
    insert(longKey, {{"MSGID", QString(31, QLatin1Char('9'))}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), longKey), 400);
    DataPacket w = query(*t, QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, WEIGHT from TAB_ACCOUNT where rownum<=1"));
    w.fields[3].type = quillon::FieldType::String;
    w.rows[0][3] = w.rows[0][3].toString();
    modify(w, 0, QStringLiteral("WEIGHT"), QStringLiteral("abc"));
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), w), 400);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID like 'V%' or length(MSGID)>30")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where cast(WEIGHT as varchar(20))='abc'")), 0);
}

} // namespace

namespace {

TEST_F(Apply, ConcurrentWritersWaitForEachOther)
{
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([this, k, &ok] {
            auto client = srv->client();
            for (int i = 0; i < 10; ++i) {
                DataPacket p = query(*client, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
                // The reader is the session's (上海浦东, 马超): a receipt in another name is refused.
                insert(p, {{"MSGID", QStringLiteral("C%1-%2").arg(k).arg(i)}, {"MSGREADSITE", QStringLiteral("上海浦东")}, {"MSGREADER", QStringLiteral("马超")}});
                const QCborArray r = client->callMethod(QStringLiteral("ApplyData"),
                                                        {QStringLiteral("TAB_MSGREAD"), p.toXml(), 0, QCborValue()});
                if (r.at(4).toBool())
                    ++ok;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(ok.load(), 40);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID like 'C%'")), 40);
}

TEST_F(Apply, TwoFieldsForOneColumnAndMovingRowsOutOfTheDeploymentAreRefused)
{
    const QString bill = firstBill();
    const qlonglong ours = count(QStringLiteral("select count(*) from TAB_ACCOUNT where sysid='001'"));
    auto row = [&](const QString &select) {
        return query(*t, select + QStringLiteral(" from TAB_ACCOUNT where BILLCODE='%1' and rownum<=1").arg(bill));
    };
    // A second field for sysid under another spelling, or the same attrname twice: the
    // second one would write what the checks of the first never saw.
    for (const QString &second : {QStringLiteral("SYSID"), QStringLiteral("sysid"), QStringLiteral("SysId")}) {
        DataPacket p = row(QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, sysid, sysid as X"));
        ASSERT_EQ(p.fields.size(), 5);
        ASSERT_EQ(p.rows.size(), 1);
        p.fields[4].name = second;
        modify(p, 0, second, QStringLiteral("002"));
        QString text;
        EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), p, &text), 400) << qPrintable(second);
        EXPECT_TRUE(text.contains(QStringLiteral("两次"))) << qPrintable(text);
    }
    DataPacket twice = row(QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, PCS, PCS as X"));
    ASSERT_EQ(twice.fields.size(), 5);
    twice.fields[4].name = QStringLiteral("pcs");
    modify(twice, 0, QStringLiteral("pcs"), 77);
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), twice), 400);
    DataPacket ins = query(*t, QStringLiteral("select MSGID, MSGREADSITE, MSGREADER, sysid, sysid as Y from TAB_MSGREAD where 1=0"));
    ASSERT_EQ(ins.fields.size(), 5);
    ins.fields[4].name = QStringLiteral("SYSID");
    insert(ins, {{"MSGID", "D1"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}, {"sysid", "001"}, {"SYSID", "002"}});
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_MSGREAD"), ins), 400);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID='D1'")), 0);

    // An update may not set sysid to another deployment, to '' or to null; the packet's
    // other rows are not written either.
    for (const QVariant &target : {QVariant(QStringLiteral("002")), QVariant(QString()), QVariant()}) {
        DataPacket p = row(QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, PCS, sysid"));
        ASSERT_EQ(p.rows.size(), 1);
        modify(p, 0, QStringLiteral("PCS"), 55);
        DataPacket::Change move;
        move.state = RowState::Modified;
        move.row = 0;
        move.original = p.changes.first().original;
        p.changes.clear();
        p.rows[0][p.fieldIndex(QStringLiteral("sysid"))] = target;
        p.changes.append(move);
        EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), p), 403) << qPrintable(target.toString());
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where sysid='001'")), ours);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where sysid<>'001' or sysid is null")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where PCS=55 or PCS=77")), 0);
    // Inserted rows without a sysid, or with an empty one, get the caller's.
    DataPacket stamp = query(*t, QStringLiteral("select MSGID, MSGREADSITE, MSGREADER, sysid from TAB_MSGREAD where 1=0"));
    insert(stamp, {{"MSGID", "S1"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}, {"sysid", ""}});
    insert(stamp, {{"MSGID", "S2"}, {"MSGREADSITE", "a"}, {"MSGREADER", "b"}});
    apply(QStringLiteral("TAB_MSGREAD"), stamp);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGREAD where MSGID in ('S1','S2') and sysid='001'")), 2);
}

} // namespace

namespace {

int statusOf(const std::function<void()> &fn, QString *text)
{
    try {
        fn();
    } catch (const ProtocolError &e) {
        *text = e.message();
        return e.status();
    }
    return 200;
}

// NUMBER(p,s) keeps at most p-s digits before the point; NaN and infinities are no
// numbers at all. Both are refused naming the column, and nothing is written.
TEST_F(Apply, NumbersMustFitTheirDeclaredPrecision)
{
    const QString bill = firstBill();
    const QString sql = QStringLiteral("select * from TAB_ACCOUNT where BILLCODE='%1' and sysid='001'").arg(bill);
    const double before = query(*t, sql).rows.at(0).at(query(*t, sql).fieldIndex(QStringLiteral("WEIGHT"))).toDouble();
    // The packet is written by hand: a client's own packet would not take some of these.
    for (const char *bad : {"NaN", "nan", "Infinity", "-Infinity", "inf", "1e12", "1E+300", "100000000",
                            "-100000000", "99999999.996"}) {
        DataPacket p = query(*t, sql);
        modify(p, 0, QStringLiteral("WEIGHT"), 4242.5);
        QString xml = p.toXml();
        ASSERT_TRUE(xml.contains(QLatin1String("4242.5")));
        xml.replace(QLatin1String("4242.5"), QLatin1String(bad));
        QString text;
        const int status = statusOf([&] {
            t->callMethod(QStringLiteral("ApplyData"), {QStringLiteral("TAB_ACCOUNT"), xml, 0, QCborValue()});
        }, &text);
        EXPECT_EQ(status, 400) << bad;
        EXPECT_TRUE(text.contains(QLatin1String("WEIGHT"))) << qPrintable(text);
    }
    // An insert is checked the same way.
    DataPacket ins = query(*t, QStringLiteral("select * from TAB_ACCOUNT where 1=0"));
    insert(ins, {{"BILLCODE", "N1"}, {"STATIONCODE", "101"}, {"SCANTYPE", "X"}, {"OTHERCHARGE", 1e9}});
    QString text;
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), ins, &text), 400);
    EXPECT_TRUE(text.contains(QLatin1String("TAB_ACCOUNT.OTHERCHARGE"))) << qPrintable(text);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where BILLCODE='N1'")), 0);
    EXPECT_DOUBLE_EQ(query(*t, sql).rows.at(0).at(query(*t, sql).fieldIndex(QStringLiteral("WEIGHT"))).toDouble(),
                     before);

    // The largest values that fit are stored; extra decimals are the database's to round.
    for (const double good : {99999999.99, -99999999.99, 12345678.994, 0.001}) {
        DataPacket p = query(*t, sql);
        modify(p, 0, QStringLiteral("WEIGHT"), good);
        EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), p), 200) << good;
    }
}

} // namespace
