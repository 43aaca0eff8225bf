// The operation log: what ApplyData writes into sys_log for logged tables, in the same
// transaction, that clients can read but never write it, and that the hash chain finds
// rows altered, inserted or removed in the database directly (also through the
// administration command).
#include "testserver.h"

#include "server/oplog.h"
#include "server/applydata.h"
#include "server/httpserver.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
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
            auto c = srv->backend->acquireForServer();
            for (const char *table : {"TAB_ACCOUNT", "tab_Mdd", "SYS_TABLES", "TAB_DFKRECORD"})
                grantToEveryone(*c, QString::fromLatin1(table));
            for (const char *table : {"sys_log", "sys_logchain"})
                grantToEveryone(*c, QString::fromLatin1(table), QStringLiteral("R"));
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
        auto c = srv->backend->acquireForServer();
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
    srv->backend->acquireForServer()->execute(QStringLiteral("update TAB_DFKRECORD set WEIGHT=2.35 where BILLCODE=?"), {bill});
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
        auto c = srv->backend->acquireForServer();
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
    auto c = srv->backend->acquireForServer();
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
    auto c = srv->backend->acquireForServer();
    const auto rows = srv->native(QStringLiteral("select id, seq, hash from sys_log where sysid='001' "
                                                 "order by seq")).rows;
    // Removing the newest rows leaves an intact-looking chain; the head remembers.
    c->execute(QStringLiteral("delete from sys_log where id=?"), {rows.last().at(0)});
    QList<OpLogAudit> r = verifyOpLog(*c);
    EXPECT_FALSE(r.first().intact);
    EXPECT_TRUE(r.first().problem.contains(QStringLiteral("end"))) << qPrintable(r.first().problem);

    // A copy of a row under a new id, with its place and hash: a repeated place.
    TestServer other(20);
    auto d = other.backend->acquireForServer();
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
    srv->backend->acquireForServer()->execute(QStringLiteral("update sys_log set opaddress='10.9.9.9' where id=?"),
                                     {id});
    EXPECT_EQ(run(&out), 1) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("row id %1 ").arg(id))) << qPrintable(out);
}

// ---- evidence: what a database administrator with write access cannot hide ---------------

// A fresh seeded deployment (200 log rows in one append, so one checkpoint at position 200)
// and the ways to tamper with its chain.
class OpLogEvidence : public OpLog
{
protected:
    QList<QVariantList> chain()
    {
        return srv->native(QStringLiteral("select id, seq, hash from sys_log where sysid='001' "
                                          "order by seq, id"))
            .rows;
    }
    qlonglong idAt(int seq) { return chain().at(seq - 1).at(0).toLongLong(); }
    QString hashAt(int seq) { return chain().at(seq - 1).at(2).toString(); }
    void exec(const QString &sql, const QVariantList &params = {})
    {
        srv->backend->acquireForServer()->execute(sql, params);
    }
    // Cuts the chain after `seq` and moves its head back to the surviving last row.
    void truncateTo(int seq)
    {
        const QString hash = hashAt(seq);
        exec(QStringLiteral("delete from sys_log where sysid='001' and seq > ?"), {seq});
        exec(QStringLiteral("update sys_logchain set lastseq=?, lasthash=? where sysid='001'"), {seq, hash});
    }
    // Writes every row of deployment 001 again, MACed with `key`, and moves the head: what
    // whoever holds `key` could do. Writes no checkpoint where the server keeps them.
    void rewriteChainWith(const QByteArray &key)
    {
        const OpLogFiles real = opLogFiles();
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("k")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(key.toHex());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        auto c = srv->backend->acquireForServer();
        const QueryResult rows = c->query(
            QStringLiteral("select tablename, key, key1, key2, optype, content, opsite, opemp, "
                           "opaddress, optime, opnote from sys_log where sysid='001' order by seq"),
            {}, false);
        QList<OpLogEntry> entries;
        for (const QVariantList &r : rows.rows) {
            OpLogEntry e;
            e.tableName = r.at(0).toString();
            e.key = r.at(1).toString();
            e.keys = {r.at(2).toString(), r.at(3).toString()};
            e.opType = r.at(4).toString();
            e.content = r.at(5).toString();
            e.site = r.at(6).toString();
            e.emp = r.at(7).toString();
            e.address = r.at(8).toString();
            e.time = r.at(9).toDateTime();
            e.note = r.at(10).toString();
            entries.append(e);
        }
        OpLogFiles forged = real;
        forged.keyFile = f.fileName();
        forged.checkpointFile = dir.filePath(QStringLiteral("cp"));
        configureOpLog(forged);
        c->begin();
        c->execute(QStringLiteral("delete from sys_log where sysid='001'"));
        c->execute(QStringLiteral("delete from sys_logchain where sysid='001'"));
        appendOpLog(*c, QStringLiteral("001"), entries);
        c->commit();
        c->runAfterCommit();
        configureOpLog(real);
    }
    OpLogAudit audit(const OpLogVerifyOptions &o = {})
    {
        OpLogVerifyOptions opts = o;
        opts.sysid = QStringLiteral("001");
        auto c = srv->backend->acquireForServer();
        const QList<OpLogAudit> r = verifyOpLog(*c, opts);
        EXPECT_EQ(r.size(), 1);
        return r.value(0);
    }
    // One logged change through ApplyData (one more position and checkpoint).
    void oneChange(double weight)
    {
        DataPacket p = query(*t, QStringLiteral("select BILLCODE, WEIGHT from TAB_DFKRECORD order by BILLCODE"));
        modify(p, 0, QStringLiteral("WEIGHT"), weight);
        apply(QStringLiteral("TAB_DFKRECORD"), p);
    }
};

TEST_F(OpLogEvidence, UntouchedLogVerifiesAgainstItsCheckpoint)
{
    oneChange(7.5);
    const OpLogAudit a = audit();
    EXPECT_EQ(a.status, OpLogAudit::Intact) << qPrintable(a.problems.join(QLatin1Char('\n')));
    EXPECT_EQ(a.headSeq, 201);
    EXPECT_EQ(a.headHash, hashAt(201));
    EXPECT_TRUE(a.notes.join(u' ').contains(QStringLiteral("matches the latest checkpoint")))
        << qPrintable(a.notes.join(u' '));
}

TEST_F(OpLogEvidence, EveryAlteredRowAndRangeIsReported)
{
    const qlonglong id10 = idAt(10), id120 = idAt(120), id30 = idAt(30), id31 = idAt(31);
    exec(QStringLiteral("update sys_log set content='WEIGHT: 1 -> 1' where id=?"), {id10});
    exec(QStringLiteral("update sys_log set opemp='某人' where id=?"), {id120});
    // Two rows swapped in the chain's order.
    exec(QStringLiteral("update sys_log set seq=-1 where id=?"), {id30});
    exec(QStringLiteral("update sys_log set seq=30 where id=?"), {id31});
    exec(QStringLiteral("update sys_log set seq=31 where id=?"), {id30});
    const OpLogAudit a = audit();
    EXPECT_EQ(a.status, OpLogAudit::Tampered);
    EXPECT_EQ(a.badId, id10);
    const QString all = a.problems.join(QLatin1Char('\n'));
    ASSERT_GE(a.problems.size(), 3) << qPrintable(all);
    EXPECT_TRUE(a.problems.at(0).contains(QStringLiteral("row id %1 ").arg(id10))) << qPrintable(all);
    // The swapped rows, and the row after them, whose link to its predecessor broke.
    EXPECT_TRUE(a.problems.at(1).contains(QStringLiteral("chain positions 30 to 32"))) << qPrintable(all);
    EXPECT_TRUE(a.problems.at(2).contains(QStringLiteral("row id %1 ").arg(id120))) << qPrintable(all);
}

TEST_F(OpLogEvidence, InsertedRowWithTheHeadMovedIsFound)
{
    const qlonglong id = maxId() + 1;
    const QString fake(64, QLatin1Char('a'));
    exec(QStringLiteral("insert into sys_log (id, seq, hash, tablename, optype, content, optime, sysid) "
                        "values (?, 201, ?, 'TAB_ACCOUNT', 'UPT', 'WEIGHT: 1 -> 2', ?, '001')"),
         {id, fake, QDateTime::currentDateTime()});
    exec(QStringLiteral("update sys_logchain set lastseq=201, lasthash=? where sysid='001'"), {fake});
    const OpLogAudit a = audit();
    EXPECT_EQ(a.status, OpLogAudit::Tampered);
    EXPECT_EQ(a.badId, id);
    EXPECT_TRUE(a.problem.contains(QStringLiteral("row id %1 ").arg(id))) << qPrintable(a.problem);
}

TEST_F(OpLogEvidence, TruncationWithTheHeadMovedIsFoundByTheCheckpoint)
{
    truncateTo(150);
    const OpLogAudit a = audit();
    EXPECT_EQ(a.status, OpLogAudit::Tampered) << qPrintable(a.problems.join(u'\n'));
    EXPECT_TRUE(a.problem.contains(QStringLiteral("positions 151 to 200 are missing"))) << qPrintable(a.problem);

    // Without the checkpoints, a head noted earlier finds it just as well.
    OpLogVerifyOptions o;
    o.useCheckpoints = false;
    o.headSeq = 200;
    o.headHash = QString(64, QLatin1Char('0'));
    const OpLogAudit b = audit(o);
    EXPECT_EQ(b.status, OpLogAudit::Tampered);
    EXPECT_TRUE(b.problem.contains(QStringLiteral("positions 151 to 200 are missing"))) << qPrintable(b.problem);
}

TEST_F(OpLogEvidence, WipedChainWithItsHeadIsFound)
{
    exec(QStringLiteral("delete from sys_log where sysid='001'"));
    exec(QStringLiteral("delete from sys_logchain where sysid='001'"));
    auto c = srv->backend->acquireForServer();
    // Found without naming the deployment too: the checkpoints name it.
    const QList<OpLogAudit> all = verifyOpLog(*c);
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all.first().sysid, QStringLiteral("001"));
    EXPECT_EQ(all.first().status, OpLogAudit::Tampered);
    EXPECT_TRUE(all.first().problem.contains(QStringLiteral("missing altogether")) &&
                all.first().problem.contains(QStringLiteral("positions 1 to 200")))
        << qPrintable(all.first().problem);
}

// Whoever reads the whole database (a backup, a replica, any DBA) finds no key there that
// lets him rewrite the chain: a chain recomputed with any value of sys_server fails.
TEST_F(OpLogEvidence, ChainRewrittenWithAnyKeyFoundInTheDatabaseFails)
{
    const OpLogFiles real = opLogFiles();
    QFile keyFile(real.keyFile);
    ASSERT_TRUE(keyFile.exists());
    EXPECT_EQ(keyFile.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());
    const QByteArray realKey = readOpLogKey(real.keyFile);
    const QList<QVariantList> values = srv->native(QStringLiteral("select NAME, VALUE from sys_server")).rows;
    ASSERT_FALSE(values.isEmpty());
    int tried = 0;
    for (const QVariantList &row : values) {
        QByteArray candidate = row.at(1).toByteArray();
        EXPECT_FALSE(candidate.contains(realKey)) << qPrintable(row.at(0).toString());
        EXPECT_FALSE(candidate.contains(realKey.toHex())) << qPrintable(row.at(0).toString());
        if (candidate.size() < 32)
            continue;
        candidate.truncate(32);
        // The attacker's rewrite: every row written again under the candidate key, head moved.
        rewriteChainWith(candidate);
        const OpLogAudit a = audit();
        EXPECT_EQ(a.status, OpLogAudit::Tampered) << qPrintable(row.at(0).toString());
        EXPECT_TRUE(a.problem.contains(QStringLiteral("chain positions 1 to 200")))
            << qPrintable(row.at(0).toString()) << ": " << qPrintable(a.problem);
        ++tried;
    }
    EXPECT_GE(tried, 2); // the token key and the database id at least
}

// A database whose chain was MACed with the key that older versions kept in sys_server: the
// first start with a key file checks it with that key, signs it again with the file's key,
// records the check in the chain and removes the old key.
TEST_F(OpLogEvidence, OldChainIsCheckedAndSignedAgainWithTheKeyFile)
{
    QByteArray oldKey(32, '\x5a');
    rewriteChainWith(oldKey);
    exec(QStringLiteral("insert into sys_server (NAME, VALUE) values ('oplog_key', ?)"), {oldKey});
    // One row altered under the old key: the finding stays on record after the migration.
    exec(QStringLiteral("update sys_log set content='WEIGHT: 9 -> 9' where id=?"), {idAt(7)});
    // Versions with the key in the database wrote no checkpoints.
    const OpLogFiles real = opLogFiles();
    QTemporaryDir fresh;
    OpLogFiles files = real;
    files.checkpointFile = fresh.filePath(QStringLiteral("checkpoints"));
    configureOpLog(files);
    {
        auto c = srv->backend->acquireForServer();
        Transaction tr(*c);
        ensureOpLogSchema(*c);
        tr.commit();
    }
    configureOpLog(real);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_server where NAME='oplog_key'")), 0);
    OpLogVerifyOptions o;
    o.checkpointFile = files.checkpointFile;
    const OpLogAudit a = audit(o);
    EXPECT_EQ(a.status, OpLogAudit::Intact) << qPrintable(a.problems.join(u'\n'));
    EXPECT_EQ(a.headSeq, 201);
    const QString note = srv->native(QStringLiteral("select content from sys_log where sysid='001' and optype='SYS'"))
                             .rows.value(0).value(0).toString();
    EXPECT_TRUE(note.contains(QStringLiteral("200 行")) && note.contains(QStringLiteral("row id %1 ").arg(idAt(7))))
        << qPrintable(note);
}

TEST_F(OpLogEvidence, RestoredBackupVerifiesAgainstTheCheckpointOfItsTime)
{
    oneChange(7.5);
    oneChange(8.5);
    oneChange(9.5);
    // The database as a backup taken after position 201 left it.
    truncateTo(201);
    OpLogAudit a = audit();
    EXPECT_EQ(a.status, OpLogAudit::Behind) << qPrintable(a.problems.join(u'\n'));
    EXPECT_TRUE(a.problem.contains(QStringLiteral("matches the checkpoint")) &&
                a.problem.contains(QStringLiteral("2 newer entries (positions 202 to 203)")))
        << qPrintable(a.problem);

    // Work goes on after the restore: the set-back stays on record.
    oneChange(10.5);
    a = audit();
    EXPECT_EQ(a.status, OpLogAudit::Behind);
    EXPECT_TRUE(a.problems.join(u'\n').contains(QStringLiteral("set back from position 203 to 201")))
        << qPrintable(a.problems.join(u'\n'));
}

TEST_F(OpLogEvidence, VerifyAgainstANotedHead)
{
    const OpLogAudit first = audit();
    ASSERT_EQ(first.status, OpLogAudit::Intact) << qPrintable(first.problem);
    oneChange(7.5);
    OpLogVerifyOptions o;
    o.headSeq = first.headSeq;
    o.headHash = first.headHash;
    OpLogAudit a = audit(o);
    EXPECT_EQ(a.status, OpLogAudit::Intact) << qPrintable(a.problem);
    EXPECT_TRUE(a.notes.join(u' ').contains(QStringLiteral("matches the noted head 200")));

    o.headHash = QString(64, QLatin1Char('f'));
    a = audit(o);
    EXPECT_EQ(a.status, OpLogAudit::Tampered);
    EXPECT_TRUE(a.problem.contains(QStringLiteral("position 200 does not match the noted head")))
        << qPrintable(a.problem);
}

// Two servers on one database: each file names only the positions its server wrote, so
// the newest entries of the other server can be cut unnoticed by one file alone; read
// together, the files see the whole chain, and their interleaving is no set-back.
TEST_F(OpLogEvidence, OtherServersCheckpointsFindEntriesCutAfterTheOwn)
{
    const OpLogFiles first = opLogFiles();
    oneChange(7.5);                       // position 201, first server's file
    QTemporaryDir dir;
    OpLogFiles second = first;
    second.checkpointFile = dir.filePath(QStringLiteral("second.checkpoints"));
    configureOpLog(second);
    oneChange(8.5);                       // 202 and 203 by the second server
    oneChange(9.5);
    configureOpLog(first);
    oneChange(10.5);                      // 204, first server again
    configureOpLog(second);
    oneChange(11.5);                      // 205, second server
    configureOpLog(first);

    OpLogVerifyOptions both;
    both.otherCheckpointFiles = {second.checkpointFile};
    OpLogAudit a = audit(both);
    EXPECT_EQ(a.status, OpLogAudit::Intact) << qPrintable(a.problems.join(u'\n'));
    EXPECT_TRUE(a.notes.join(u' ').contains(QStringLiteral("matches the latest checkpoint")))
        << qPrintable(a.notes.join(u' '));

    truncateTo(204);
    const OpLogAudit own = audit(); // the first server's file ends at 204: nothing to see
    EXPECT_EQ(own.status, OpLogAudit::Intact) << qPrintable(own.problems.join(u'\n'));
    // Cut at a commit boundary: as a restored backup would look (exit code 2), never intact.
    a = audit(both);
    EXPECT_EQ(a.status, OpLogAudit::Behind);
    EXPECT_TRUE(a.problem.contains(QStringLiteral("positions 205 to 205")))
        << qPrintable(a.problems.join(u'\n'));
    EXPECT_TRUE(a.problem.contains(second.checkpointFile)) << qPrintable(a.problem);
}

// The administration command: exit code 0 intact, 1 tampered, 2 behind its checkpoints.
TEST_F(OpLogEvidence, AuditCommandExitCodesAndHead)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/waylink-server");
    if (!QFile::exists(tool))
        GTEST_SKIP() << "waylink-server is not built";
    auto run = [&](const QStringList &more, QString *out) {
        QProcess p;
        p.start(tool, QStringList{QStringLiteral("audit"), QStringLiteral("verify"), QStringLiteral("--db"),
                                  srv->dbPath} + more);
        EXPECT_TRUE(p.waitForFinished(60000));
        *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitCode();
    };
    QString out;
    oneChange(7.5);
    EXPECT_EQ(run({}, &out), 0) << qPrintable(out);
    const QString head = QStringLiteral("201:") + hashAt(201);
    EXPECT_TRUE(out.contains(QStringLiteral("head ") + head)) << qPrintable(out);
    oneChange(8.5);
    EXPECT_EQ(run({QStringLiteral("--sysid"), QStringLiteral("001"), QStringLiteral("--head"), head}, &out), 0)
        << qPrintable(out);
    truncateTo(201);
    EXPECT_EQ(run({}, &out), 2) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("positions 202 to 202"))) << qPrintable(out);
    exec(QStringLiteral("update sys_log set content='x' where id=?"), {idAt(5)});
    EXPECT_EQ(run({}, &out), 1) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("row id %1 ").arg(idAt(5)))) << qPrintable(out);
}

// ---- what the log records --------------------------------------------------------------

TEST_F(OpLog, DeletionLogsTheDatabasesValuesNotThePackets)
{
    const QString bill = srv->native(QStringLiteral("select min(BILLCODE) from TAB_DFKRECORD")).rows.at(0).at(0).toString();
    srv->backend->acquireForServer()->execute(QStringLiteral("update TAB_DFKRECORD set WEIGHT=22.43, REMARK='真', MONEY=5 where BILLCODE=?"), {bill});
    // A hand-made packet: the right key, false old values.
    DataPacket p = query(*t, QStringLiteral("select BILLCODE, WEIGHT, REMARK, sysid from TAB_DFKRECORD where BILLCODE='%1'").arg(bill));
    ASSERT_EQ(p.rows.size(), 1);
    p.rows[0][1] = 123456.0;
    p.rows[0][2] = QStringLiteral("假");
    remove(p, 0);
    const qlonglong lastId = maxId();
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_DFKRECORD"), p), 200);
    const QList<QVariantList> rows = newLogRows(lastId);
    ASSERT_EQ(rows.size(), 1);
    const QString content = rows.at(0).at(5).toString();
    EXPECT_TRUE(content.contains(QStringLiteral("WEIGHT: 22.43"))) << qPrintable(content);
    EXPECT_TRUE(content.contains(QStringLiteral("REMARK: 真"))) << qPrintable(content);
    EXPECT_FALSE(content.contains(QStringLiteral("123456"))) << qPrintable(content);
    // Columns that the packet did not carry are logged too: the row as it was.
    EXPECT_TRUE(content.contains(QStringLiteral("MONEY: 5;"))) << qPrintable(content);
    EXPECT_EQ(rows.at(0).at(1).toString(), bill);
}

TEST_F(OpLog, AFailingLogAppendRollsTheChangeBack)
{
    const OpLogFiles real = opLogFiles();
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    OpLogFiles broken = real;
    broken.keyFile = blocker.fileName() + QStringLiteral("/oplog.key"); // cannot be made
    DataPacket p = query(*t, QStringLiteral("select BILLCODE, WEIGHT from TAB_DFKRECORD order by BILLCODE"));
    const QVariant before = p.rows.at(0).at(1);
    modify(p, 0, QStringLiteral("WEIGHT"), 77.0);
    const qlonglong rows = logRows();
    configureOpLog(broken);
    const int status = applyStatus(QStringLiteral("TAB_DFKRECORD"), p);
    configureOpLog(real);
    EXPECT_GE(status, 400);
    EXPECT_EQ(logRows(), rows);
    const QVariant now = srv->native(QStringLiteral("select WEIGHT from TAB_DFKRECORD where BILLCODE=?"),
                                     {p.rows.at(0).at(0)}).rows.at(0).at(0);
    EXPECT_DOUBLE_EQ(now.toDouble(), before.toDouble());
}

TEST_F(OpLog, ParameterAndNoticeChangesAreLoggedWithoutSysTables)
{
    auto c = srv->backend->acquireForServer();
    grantToEveryone(*c, QStringLiteral("TAB_PARAMETER"));
    grantToEveryone(*c, QStringLiteral("TAB_MSGRECORD"));
    c->execute(QStringLiteral("update TAB_PARAMETER set PARAMVALUE='31' where PARAMCODE='QUERYMAXDAYS' and sysid='001'"));
    const qlonglong lastId = maxId();
    DataPacket p = query(*t, QStringLiteral("select PARAMCODE, PARAMVALUE, sysid from TAB_PARAMETER where PARAMCODE='QUERYMAXDAYS'"));
    modify(p, 0, QStringLiteral("PARAMVALUE"), QStringLiteral("62"));
    apply(QStringLiteral("TAB_PARAMETER"), p);
    QList<QVariantList> rows = newLogRows(lastId);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).at(0).toString(), QStringLiteral("TAB_PARAMETER"));
    EXPECT_EQ(rows.at(0).at(1).toString(), QStringLiteral("QUERYMAXDAYS"));
    EXPECT_EQ(rows.at(0).at(5).toString(), QStringLiteral("PARAMVALUE: 31 -> 62"));

    // A notice deletion, with the site, employee and receipt rows its rules removed.
    const QString msg = srv->native(QStringLiteral("select MSGID from TAB_MSGSITE where sysid='001' "
                                                   "group by MSGID order by count(*) desc, MSGID")).rows.at(0).at(0).toString();
    const qlonglong sites = count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID=?"), {msg});
    DataPacket n = query(*t, QStringLiteral("select MSGID, MSGOBJECT, sysid from TAB_MSGRECORD where MSGID='%1'").arg(msg));
    ASSERT_EQ(n.rows.size(), 1);
    remove(n, 0);
    const qlonglong beforeDelete = maxId();
    apply(QStringLiteral("TAB_MSGRECORD"), n);
    rows = newLogRows(beforeDelete);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.at(0).at(4).toString(), QStringLiteral("DEL"));
    EXPECT_TRUE(rows.at(0).at(5).toString().contains(QStringLiteral("随之删除: TAB_MSGSITE %1 行").arg(sites)))
        << qPrintable(rows.at(0).at(5).toString());
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID=?"), {msg}), 0);
}

TEST_F(OpLog, AdministrationLogsOldAndNewInTheWindowsNamesAndTheNetworkAddress)
{
    auto admin = srv->client(QStringLiteral("000"), QStringLiteral("001.admin"));
    const qlonglong lastId = maxId();
    QCborMap args;
    args.insert(QStringLiteral("name"), QStringLiteral("网点操作员"));
    args.insert(QStringLiteral("oldName"), QStringLiteral("网点操作员"));
    args.insert(QStringLiteral("remark"), QStringLiteral("公告"));
    args.insert(QStringLiteral("functions"),
                QCborArray::fromStringList({QStringLiteral("px_Herald.fSendMessage"),
                                            QStringLiteral("px_Herald.fQueryMessage"),
                                            QStringLiteral("px_Tuner.fSysLog")}));
    admin->callAdmin(QStringLiteral("SaveRole"), args);
    const QList<QVariantList> rows = newLogRows(lastId);
    ASSERT_EQ(rows.size(), 1);
    const QString content = rows.at(0).at(5).toString();
    EXPECT_TRUE(content.contains(QStringLiteral("说明 公告的发表、查询和阅读 → 公告"))) << qPrintable(content);
    EXPECT_TRUE(content.contains(QStringLiteral("增加功能 操作日志（px_Tuner.fSysLog）"))) << qPrintable(content);
    EXPECT_TRUE(content.contains(QStringLiteral("取消功能 ")) && content.contains(QStringLiteral("px_Herald.fNoReadMessage"))
                && content.contains(QStringLiteral("px_Tuner.fStyleSet")))
        << qPrintable(content);
    EXPECT_FALSE(content.contains(QStringLiteral("px_Herald.fSendMessage"))) << qPrintable(content); // unchanged
    EXPECT_EQ(rows.at(0).at(8).toString(), QStringLiteral("127.0.0.1")); // not the adapter name

    QCborMap site;
    site.insert(QStringLiteral("code"), QStringLiteral("102"));
    site.insert(QStringLiteral("oldCode"), QStringLiteral("102"));
    site.insert(QStringLiteral("name"), QStringLiteral("上海闵行区"));
    site.insert(QStringLiteral("parent"), QStringLiteral("上海中心"));
    site.insert(QStringLiteral("level"), QStringLiteral("2"));
    const qlonglong beforeSite = maxId();
    admin->callAdmin(QStringLiteral("SaveSite"), site);
    const QList<QVariantList> siteRows = newLogRows(beforeSite);
    ASSERT_EQ(siteRows.size(), 1);
    EXPECT_EQ(siteRows.at(0).at(5).toString(), QStringLiteral("修改网点 102：名称 上海闵行 → 上海闵行区"));
}

// waylink-server's user commands write the log as "cli", never with the password.
TEST_F(OpLog, CommandLineUserChangesAreLogged)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/waylink-server");
    if (!QFile::exists(tool))
        GTEST_SKIP() << "waylink-server is not built";
    const qlonglong lastId = maxId();
    QProcess p;
    p.start(tool, {QStringLiteral("passwd"), QStringLiteral("--db"), srv->dbPath, QStringLiteral("001.wang"),
                   QStringLiteral("-")});
    p.write("Geheim2026\n");
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    p.start(tool, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("--db"), srv->dbPath,
                   QStringLiteral("001.neu"), QStringLiteral("Neu2026abc"), QStringLiteral("--site"),
                   QStringLiteral("101"), QStringLiteral("--name"), QStringLiteral("新人")});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    const QList<QVariantList> rows = newLogRows(lastId);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).at(1).toString(), QStringLiteral("001.wang"));
    EXPECT_EQ(rows.at(0).at(4).toString(), QStringLiteral("UPT"));
    EXPECT_EQ(rows.at(1).at(1).toString(), QStringLiteral("001.neu"));
    EXPECT_EQ(rows.at(1).at(4).toString(), QStringLiteral("INS"));
    for (const QVariantList &r : rows) {
        EXPECT_EQ(r.at(7).toString(), QStringLiteral("cli"));
        EXPECT_FALSE(r.at(5).toString().contains(QStringLiteral("Geheim2026")));
        EXPECT_FALSE(r.at(5).toString().contains(QStringLiteral("Neu2026abc")));
    }
    EXPECT_TRUE(verify().first().intact) << qPrintable(verify().first().problem);
}

// A NUL (or a lone surrogate) is refused with 400 on both backends before anything is
// written, in every route: PostgreSQL would keep the text cut at the NUL.
TEST_F(OpLog, TextsABackendCannotStoreAreRefusedEverywhere)
{
    auto c = srv->backend->acquireForServer();
    grantToEveryone(*c, QStringLiteral("TAB_PARAMETER"));
    const QString nul = QStringLiteral("名字") + QChar(0) + QStringLiteral("尾巴1");
    auto admin = srv->client(QStringLiteral("000"), QStringLiteral("001.admin"));
    const qlonglong rows = logRows();
    auto status = [](auto &&fn) {
        try {
            fn();
        } catch (const ProtocolError &e) {
            return e.status();
        }
        return 200;
    };
    {
        const QString &bad = nul;
        QCborMap user;
        user.insert(QStringLiteral("user"), QStringLiteral("001.wang"));
        user.insert(QStringLiteral("site"), QStringLiteral("201"));
        user.insert(QStringLiteral("name"), bad);
        user.insert(QStringLiteral("roles"), QCborArray::fromStringList({QStringLiteral("网点操作员")}));
        EXPECT_EQ(status([&] { admin->callAdmin(QStringLiteral("UpdateUser"), user); }), 400);
        QCborMap site;
        site.insert(QStringLiteral("code"), QStringLiteral("109"));
        site.insert(QStringLiteral("name"), bad);
        site.insert(QStringLiteral("parent"), QStringLiteral("上海中心"));
        site.insert(QStringLiteral("level"), QStringLiteral("2"));
        EXPECT_EQ(status([&] { admin->callAdmin(QStringLiteral("SaveSite"), site); }), 400);

        DataPacket p = query(*t, QStringLiteral("select BILLCODE, REMARK from TAB_DFKRECORD order by BILLCODE"));
        modify(p, 0, QStringLiteral("REMARK"), bad);
        EXPECT_EQ(applyStatus(QStringLiteral("TAB_DFKRECORD"), p), 400);
        DataPacket param = query(*t, QStringLiteral("select PARAMCODE, PARAMVALUE from TAB_PARAMETER where PARAMCODE='COMPANYNAME'"));
        modify(param, 0, QStringLiteral("PARAMVALUE"), bad);
        EXPECT_EQ(applyStatus(QStringLiteral("TAB_PARAMETER"), param), 400);
        EXPECT_EQ(status([&] {
                      t->callMethod(QStringLiteral("UploadByStream"),
                                    QCborArray{QCborValue(QStringLiteral("upload\\") + bad + QStringLiteral(".txt")),
                                               QCborValue(QByteArray("x"))});
                  }),
                  400);
    }
    EXPECT_EQ(logRows(), rows);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_user where EMPNAME like '名字%'")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteCode='109'")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_PARAMETER where PARAMVALUE like '名字%'")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_DFKRECORD where REMARK like '名字%'")), 0);
    EXPECT_TRUE(verify().first().intact) << qPrintable(verify().first().problem);
}

// A lone surrogate never reaches the server through UTF-8 (the client's encoder replaces
// it); the check refuses it all the same, for texts that come another way.
TEST(OpLogText, StorableTexts)
{
    EXPECT_TRUE(isStorableText(QStringLiteral("名字尾巴1 😀")));
    EXPECT_FALSE(isStorableText(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
    EXPECT_FALSE(isStorableText(QStringLiteral("a") + QChar(0xD800)));
    EXPECT_FALSE(isStorableText(QChar(0xDC00) + QStringLiteral("a")));
}

TEST(OpLogAddress, ForwardedAddressOnlyFromATrustedProxy)
{
    const QStringList proxies = {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3")};
    const struct
    {
        const char *peer;
        std::vector<std::string> forwarded;
        const char *expected;
    } cases[] = {
        {"::ffff:192.168.1.9", {}, "192.168.1.9"},
        {"192.168.1.9", {"1.2.3.4"}, "192.168.1.9"},            // not a proxy: header ignored
        {"10.0.0.2", {"192.168.1.7"}, "192.168.1.7"},
        {"10.0.0.2", {"6.6.6.6, 192.168.1.7"}, "192.168.1.7"},  // the client's own claim skipped
        {"10.0.0.2", {"192.168.1.7, 10.0.0.3"}, "192.168.1.7"}, // through two proxies
        {"10.0.0.2", {"192.168.1.7", "10.0.0.3"}, "192.168.1.7"},
        {"10.0.0.2", {"not-an-address"}, "10.0.0.2"},
        {"10.0.0.2", {}, "10.0.0.2"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(clientAddressOf(c.peer, c.forwarded, proxies), QString::fromLatin1(c.expected))
            << c.peer << " " << (c.forwarded.empty() ? "" : c.forwarded.front());
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
    srv->backend->acquireForServer()->executeScript(QString::fromLatin1(onPostgres() ? failPg : failSqlite));

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
    srv->backend->acquireForServer()->executeScript(QStringLiteral("drop trigger wl_test_logfull") +
                                           (onPostgres() ? QStringLiteral(" on sys_log") : QString()));
    EXPECT_EQ(applyStatus(QStringLiteral("TAB_ACCOUNT"), p), 200);
    EXPECT_EQ(weightOf(first), 1);
    EXPECT_EQ(logRows(), before + 2);
}

} // namespace
