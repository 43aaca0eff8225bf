// The operation log: what ApplyData writes into sys_log for logged tables, in the same
// transaction, that clients can read but never write it, and that the hash chain finds
// rows altered, inserted or removed in the database directly (also through the
// administration command).
#include "testserver.h"

#include "server/oplog.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QProcess>
#include <thread>

using namespace server;
using namespace server::test;
using quillon::DataPacket;
using quillon::RowState;
using quillon::protocol::ProtocolError;

namespace {

class OpLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        srv = std::make_unique<TestServer>(20);
        // The log is what is under test here, not the roles: every demo user may write these.
        {
            auto c = srv->backend->acquire();
            for (const char *table : {"TAB_ACCOUNT", "tab_Mdd", "SYS_TABLES", "TAB_DFKRECORD"})
                grantToEveryone(*c, QString::fromLatin1(table));
        }
        t = srv->client();
    }

    void apply(const QString &table, const DataPacket &p)
    {
        t->callMethod(QStringLiteral("ApplyData"), {table, p.toXml(), 0, QCborValue()});
    }
    int applyStatus(const QString &table, const DataPacket &p)
    {
        try {
            apply(table, p);
        } catch (const ProtocolError &e) {
            return e.status();
        }
        return 200;
    }
    static void modify(DataPacket &p, int row, const QString &field, const QVariant &value)
    {
        DataPacket::Change ch;
        ch.state = RowState::Modified;
        ch.row = row;
        ch.original = p.rows.at(row);
        p.rows[row][p.fieldIndex(field)] = value;
        p.changes.append(ch);
    }
    static void remove(DataPacket &p, int row)
    {
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
    qlonglong logRows() { return count(QStringLiteral("select count(*) from sys_log")); }
    QList<OpLogAudit> verify()
    {
        auto c = srv->backend->acquire();
        return verifyOpLog(*c);
    }
    QList<QVariantList> newLogRows(qlonglong afterId)
    {
        return srv->native(QStringLiteral("select tablename, key, key1, key2, optype, content, opsite, "
                                          "opemp, opaddress, optime, sysid from sys_log where id > ? "
                                          "order by id"),
                           {afterId})
            .rows;
    }
    qlonglong maxId() { return count(QStringLiteral("select max(id) from sys_log")); }

    std::unique_ptr<TestServer> srv;
    std::unique_ptr<quillon::protocol::Transport> t;
};

TEST_F(OpLog, ChangesAndDeletionsOfLoggedTablesWriteOneRowEach)
{
    const qlonglong lastId = maxId();
    DataPacket p = query(*t, QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, WEIGHT, DEST, sysid "
                                            "from TAB_ACCOUNT where sysid='001' order by BILLCODE, "
                                            "STATIONCODE, SCANTYPE"));
    ASSERT_GE(p.rows.size(), 3);
    const int w = p.fieldIndex(QStringLiteral("WEIGHT"));
    const QVariantList r0 = p.rows.at(0), r1 = p.rows.at(1), r2 = p.rows.at(2);
    modify(p, 0, QStringLiteral("WEIGHT"), 12.5);
    modify(p, 1, QStringLiteral("DEST"), QStringLiteral("成都"));
    remove(p, 2);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    apply(QStringLiteral("TAB_ACCOUNT"), p);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    const QList<QVariantList> rows = newLogRows(lastId);
    ASSERT_EQ(rows.size(), 3);
    for (const QVariantList &r : rows) {
        EXPECT_EQ(r.at(0).toString(), QStringLiteral("TAB_ACCOUNT"));
        EXPECT_EQ(r.at(6).toString(), QStringLiteral("上海浦东"));
        EXPECT_EQ(r.at(7).toString(), QStringLiteral("马超"));
        EXPECT_EQ(r.at(8).toString(), QStringLiteral("127.0.0.1"));
        EXPECT_GE(r.at(9).toDateTime(), before.addMSecs(-before.time().msec()));
        EXPECT_LE(r.at(9).toDateTime(), after);
        EXPECT_EQ(r.at(10).toString(), QStringLiteral("001"));
    }
    // key: the waybill number; key1, key2: the rest of the primary key.
    EXPECT_EQ(rows.at(0).at(1).toString(), r0.at(0).toString());
    EXPECT_EQ(rows.at(0).at(2).toString(), r0.at(1).toString());
    EXPECT_EQ(rows.at(0).at(3).toString(), r0.at(2).toString());
    EXPECT_EQ(rows.at(0).at(4).toString(), QStringLiteral("UPT"));
    EXPECT_EQ(rows.at(0).at(5).toString(),
              QStringLiteral("WEIGHT: %1 -> 12.5").arg(OpLogWriter::displayValue(r0.at(w))));
    EXPECT_EQ(rows.at(1).at(1).toString(), r1.at(0).toString());
    EXPECT_EQ(rows.at(1).at(5).toString(),
              QStringLiteral("DEST: %1 -> 成都").arg(OpLogWriter::displayValue(r1.at(4))));
    EXPECT_EQ(rows.at(2).at(4).toString(), QStringLiteral("DEL"));
    EXPECT_EQ(rows.at(2).at(1).toString(), r2.at(0).toString());
    EXPECT_TRUE(rows.at(2).at(5).toString().contains(QStringLiteral("STATIONCODE: ") + r2.at(1).toString()))
        << qPrintable(rows.at(2).at(5).toString());

    const QList<OpLogAudit> audits = verify();
    ASSERT_EQ(audits.size(), 1);
    EXPECT_TRUE(audits.first().intact) << qPrintable(audits.first().problem);
}

// A decimal old value (not exact in binary) still matches its NUMBER column.
TEST_F(OpLog, DecimalOldValuesMatchAndShowAsTyped)
{
    const QString bill = srv->native(QStringLiteral("select min(BILLCODE) from TAB_DFKRECORD")).rows.at(0).at(0).toString();
    srv->backend->acquire()->execute(QStringLiteral("update TAB_DFKRECORD set WEIGHT=2.35 where BILLCODE=?"), {bill});
    DataPacket p = query(*t, QStringLiteral("select BILLCODE, WEIGHT from TAB_DFKRECORD where BILLCODE='%1'").arg(bill));
    ASSERT_EQ(p.rows.size(), 1);
    modify(p, 0, QStringLiteral("WEIGHT"), 2.4);
    const qlonglong lastId = maxId();
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_DFKRECORD"), p), 200);
    const QList<QVariantList> rows = newLogRows(lastId);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).at(5).toString(), QStringLiteral("WEIGHT: 2.35 -> 2.4"));
}

TEST_F(OpLog, RolledBackAndUnloggedChangesLeaveNoRows)
{
    const qlonglong before = logRows();
    // The second change conflicts: the whole call rolls back, the first change's log row too.
    DataPacket p = query(*t, QStringLiteral("select BILLCODE, WEIGHT from TAB_DFKRECORD order by BILLCODE"));
    ASSERT_GE(p.rows.size(), 2);
    modify(p, 0, QStringLiteral("WEIGHT"), 3.0);
    modify(p, 1, QStringLiteral("WEIGHT"), 4.0);
    p.changes[1].original[p.fieldIndex(QStringLiteral("WEIGHT"))] = 999.0; // stale original
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_DFKRECORD"), p), 409);
    EXPECT_EQ(logRows(), before);

    // Tables outside SYS_TABLES are not logged; once listed they are, and switching the
    // log off again shows in the log.
    DataPacket m = query(*t, QStringLiteral("select MddCode, MddName from tab_Mdd order by MddCode"));
    modify(m, 0, QStringLiteral("MddName"), QStringLiteral("上海市"));
    apply(QStringLiteral("tab_Mdd"), m);
    EXPECT_EQ(logRows(), before);

    DataPacket list = query(*t, QStringLiteral("select TABLENAME, sysid from SYS_TABLES where 1=0"));
    list.rows.append({QStringLiteral("tab_mdd"), QStringLiteral("001")});
    list.changes.append({RowState::Inserted, 0, {}});
    apply(QStringLiteral("SYS_TABLES"), list);
    m = query(*t, QStringLiteral("select MddCode, MddName from tab_Mdd order by MddCode"));
    modify(m, 0, QStringLiteral("MddName"), QStringLiteral("上海"));
    apply(QStringLiteral("tab_Mdd"), m);
    EXPECT_EQ(logRows(), before + 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log where tablename='tab_Mdd' and "
                                   "content='MddName: 上海市 -> 上海'")),
              1);

    list = query(*t, QStringLiteral("select TABLENAME, sysid from SYS_TABLES where TABLENAME='tab_mdd'"));
    remove(list, 0);
    apply(QStringLiteral("SYS_TABLES"), list);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log where tablename='SYS_TABLES' and "
                                   "optype='DEL' and key='tab_mdd'")),
              1);
}

TEST_F(OpLog, ClientsReadTheirLogButNeverWriteIt)
{
    // Another deployment's log rows stay invisible.
    {
        auto c = srv->backend->acquire();
        Transaction tr(*c);
        OpLogEntry e;
        e.tableName = QStringLiteral("TAB_ACCOUNT");
        e.key = QStringLiteral("X");
        e.opType = QStringLiteral("UPT");
        e.content = QStringLiteral("WEIGHT: 1 -> 2");
        appendOpLog(*c, QStringLiteral("002"), {e});
        tr.commit();
    }
    const DataPacket mine = query(*t, QStringLiteral("select id, sysid from sys_log"));
    EXPECT_EQ(mine.rows.size(), count(QStringLiteral("select count(*) from sys_log where sysid='001'")));
    for (const QVariantList &r : mine.rows)
        EXPECT_EQ(r.at(1).toString(), QStringLiteral("001"));

    const qlonglong before = logRows();
    DataPacket log = query(*t, QStringLiteral("select id, content, sysid from sys_log order by id"));
    ASSERT_FALSE(log.rows.isEmpty());
    modify(log, 0, QStringLiteral("CONTENT"), QStringLiteral("nothing happened"));
    EXPECT_EQ(applyStatus(QStringLiteral("sys_log"), log), 403);
    EXPECT_EQ(applyStatus(QStringLiteral(" SYS_LOG"), log), 403);
    DataPacket del = query(*t, QStringLiteral("select id, sysid from sys_log order by id"));
    remove(del, 0);
    EXPECT_EQ(applyStatus(QStringLiteral("sys_log"), del), 403);
    DataPacket head = query(*t, QStringLiteral("select sysid, lastseq, lasthash from sys_logchain"));
    ASSERT_EQ(head.rows.size(), 1);
    modify(head, 0, QStringLiteral("LASTSEQ"), 1);
    EXPECT_EQ(applyStatus(QStringLiteral("sys_logchain"), head), 403);
    for (const char *sql : {"delete from sys_log", "update sys_log set content='x'",
                            "insert into sys_log (id, sysid) values (99999, '001')",
                            "with x as (delete from sys_log returning id) select * from x"}) {
        EXPECT_THROW(t->provider(QString::fromLatin1(sql)), ProtocolError) << sql;
    }
    EXPECT_EQ(logRows(), before);
    EXPECT_TRUE(verify().first().intact);
}

TEST_F(OpLog, ConcurrentWritersKeepOneChain)
{
    auto worker = [this](int offset) {
        auto client = srv->client(QStringLiteral("201"), QStringLiteral("001.wang"));
        for (int i = 0; i < 8; ++i) {
            DataPacket p = query(*client, QStringLiteral("select BILLCODE, WEIGHT from TAB_DFKRECORD "
                                                         "order by BILLCODE"));
            const int row = offset + 2 * i;
            if (row >= p.rows.size())
                return;
            modify(p, row, QStringLiteral("WEIGHT"), 1.0 + i);
            client->callMethod(QStringLiteral("ApplyData"),
                               {QStringLiteral("TAB_DFKRECORD"), p.toXml(), 0, QCborValue()});
        }
    };
    const qlonglong before = logRows();
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    EXPECT_GT(logRows(), before);
    const QList<OpLogAudit> audits = verify();
    ASSERT_EQ(audits.size(), 1);
    EXPECT_TRUE(audits.first().intact) << qPrintable(audits.first().problem);
    EXPECT_EQ(audits.first().rows, logRows());
}

TEST_F(OpLog, VerificationNamesTheFirstRowTamperedWith)
{
    auto c = srv->backend->acquire();
    const QList<OpLogAudit> clean = verifyOpLog(*c);
    ASSERT_EQ(clean.size(), 1);
    ASSERT_TRUE(clean.first().intact) << qPrintable(clean.first().problem);
    EXPECT_EQ(clean.first().rows, 200);
    EXPECT_EQ(clean.first().headHash.size(), 64);

    const auto ids = srv->native(QStringLiteral("select id from sys_log where sysid='001' order by seq")).rows;
    const qlonglong id10 = ids.at(10).at(0).toLongLong(), id50 = ids.at(50).at(0).toLongLong();
    const qlonglong last = ids.last().at(0).toLongLong();

    // An edited content: found at that row, whatever comes after it.
    c->execute(QStringLiteral("update sys_log set content='WEIGHT: 1 -> 1' where id=?"), {id50});
    c->execute(QStringLiteral("update sys_log set opemp='某人' where id=?"), {ids.at(120).at(0).toLongLong()});
    QList<OpLogAudit> r = verifyOpLog(*c);
    EXPECT_FALSE(r.first().intact);
    EXPECT_EQ(r.first().badId, id50);
    EXPECT_TRUE(r.first().problem.contains(QStringLiteral("altered"))) << qPrintable(r.first().problem);

    // A removed row in the middle: found at the row after the gap.
    c->execute(QStringLiteral("delete from sys_log where id=?"), {id10});
    r = verifyOpLog(*c);
    EXPECT_EQ(r.first().badId, ids.at(11).at(0).toLongLong());
    EXPECT_TRUE(r.first().problem.contains(QStringLiteral("removed"))) << qPrintable(r.first().problem);

    // An inserted row without a chain place, and one that copies a place.
    c->execute(QStringLiteral("insert into sys_log (id, tablename, optype, sysid) values (?, 'TAB_ACCOUNT', "
                              "'UPT', '001')"),
               {last + 100});
    r = verifyOpLog(*c, QStringLiteral("001"));
    EXPECT_EQ(r.first().badId, last + 100);
    EXPECT_TRUE(r.first().problem.contains(QStringLiteral("inserted"))) << qPrintable(r.first().problem);
}

TEST_F(OpLog, VerificationFindsRowsRemovedAtTheEndAndCopiedRows)
{
    auto c = srv->backend->acquire();
    const auto rows = srv->native(QStringLiteral("select id, seq, hash from sys_log where sysid='001' "
                                                 "order by seq")).rows;
    // Removing the newest rows leaves an intact-looking chain; the head remembers.
    c->execute(QStringLiteral("delete from sys_log where id=?"), {rows.last().at(0)});
    QList<OpLogAudit> r = verifyOpLog(*c);
    EXPECT_FALSE(r.first().intact);
    EXPECT_TRUE(r.first().problem.contains(QStringLiteral("end"))) << qPrintable(r.first().problem);

    // A copy of a row under a new id, with its place and hash: a repeated place.
    TestServer other(20);
    auto d = other.backend->acquire();
    const auto src = other.native(QStringLiteral("select id, seq from sys_log order by seq")).rows;
    d->execute(QStringLiteral("insert into sys_log (id, seq, hash, tablename, key, optype, content, opsite, "
                              "opemp, opaddress, optime, sysid) select cast(? as integer), seq, hash, tablename, key, optype, "
                              "content, opsite, opemp, opaddress, optime, sysid from sys_log where id=?"),
               {src.last().at(0).toLongLong() + 1, src.at(5).at(0)});
    r = verifyOpLog(*d);
    EXPECT_EQ(r.first().badId, src.last().at(0).toLongLong() + 1);
    EXPECT_TRUE(r.first().problem.contains(QStringLiteral("inserted"))) << qPrintable(r.first().problem);
}

// The administration command on the same database (SQLite file or PostgreSQL URL).
TEST_F(OpLog, AuditCommandReportsTamperingWithItsExitCode)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/waylink-server");
    if (!QFile::exists(tool))
        GTEST_SKIP() << "waylink-server is not built";
    auto run = [&](QString *out) {
        QProcess p;
        p.start(tool, {QStringLiteral("audit"), QStringLiteral("verify"), QStringLiteral("--db"), srv->dbPath});
        EXPECT_TRUE(p.waitForFinished(60000));
        *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitCode();
    };
    QString out;
    EXPECT_EQ(run(&out), 0) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("chain intact"))) << qPrintable(out);
    const qlonglong id = count(QStringLiteral("select min(id) from sys_log where optype='UPT'"));
    srv->backend->acquire()->execute(QStringLiteral("update sys_log set opaddress='10.9.9.9' where id=?"),
                                     {id});
    EXPECT_EQ(run(&out), 1) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("row id %1 ").arg(id))) << qPrintable(out);
}

TEST(OpLogValues, DisplayOfValuesIsOneReadableLine)
{
    EXPECT_EQ(OpLogWriter::displayValue(QVariant()), QStringLiteral("(空)"));
    EXPECT_EQ(OpLogWriter::displayValue(2.0), QStringLiteral("2"));
    EXPECT_EQ(OpLogWriter::displayValue(1.25), QStringLiteral("1.25"));
    EXPECT_EQ(OpLogWriter::displayValue(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 1))),
              QStringLiteral("2026-12-07 09:05:01"));
    EXPECT_EQ(OpLogWriter::displayValue(QStringLiteral("a\r\nb")), QStringLiteral("a  b"));
    EXPECT_EQ(OpLogWriter::displayValue(QString(300, QLatin1Char('x'))).size(), 200);
}


// The log rows are part of the change: when writing them fails, the change is not made.
TEST_F(OpLog, AFailureWhileLoggingLeavesNothingChanged)
{
    const char *failSqlite = "create trigger wl_test_logfull before insert on sys_log "
                             "begin select raise(abort, 'log full'); end";
    const char *failPg = "create function wl_test_logfull() returns trigger language plpgsql as "
                         "$$ begin raise exception 'log full'; end $$; "
                         "create trigger wl_test_logfull before insert on sys_log "
                         "for each row execute function wl_test_logfull()";
    srv->backend->acquire()->executeScript(QString::fromLatin1(onPostgres() ? failPg : failSqlite));

    DataPacket p = query(*t, QStringLiteral("select BILLCODE, STATIONCODE, SCANTYPE, WEIGHT, sysid from TAB_ACCOUNT "
                                            "where sysid='001' order by BILLCODE, STATIONCODE, SCANTYPE"));
    ASSERT_GE(p.rows.size(), 2);
    const QVariantList first = p.rows.at(0), second = p.rows.at(1);
    const auto weightOf = [&](const QVariantList &r) {
        return count(QStringLiteral("select count(*) from TAB_ACCOUNT where BILLCODE=? and STATIONCODE=? and "
                                    "SCANTYPE=? and WEIGHT=?"),
                     {r.at(0), r.at(1), r.at(2), 4321.5});
    };
    modify(p, 0, QStringLiteral("WEIGHT"), 4321.5);
    remove(p, 1);
    const qlonglong lines = count(QStringLiteral("select count(*) from TAB_ACCOUNT"));
    const qlonglong before = logRows();
    EXPECT_GE(applyStatus(QStringLiteral("TAB_ACCOUNT"), p), 400);
    EXPECT_EQ(weightOf(first), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT")), lines);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where BILLCODE=? and STATIONCODE=? and SCANTYPE=?"),
                    {second.at(0), second.at(1), second.at(2)}),
              1);
    EXPECT_EQ(logRows(), before);

    // Once the log takes rows again, the same packet goes through with its rows.
    srv->backend->acquire()->executeScript(QStringLiteral("drop trigger wl_test_logfull") +
                                           (onPostgres() ? QStringLiteral(" on sys_log") : QString()));
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), p), 200);
    EXPECT_EQ(weightOf(first), 1);
    EXPECT_EQ(logRows(), before + 2);
}

} // namespace
