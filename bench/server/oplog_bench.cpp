// Operation log figures: ApplyData of 1,000 changed account rows with the table logged
// and not logged (server side, one transaction each), and the log window's query of one
// day out of 1,000,000 log rows through the provider (server side).
//
// WAYLINK_BENCH_DB names the database (SQLite file or PostgreSQL URL); default: a
// temporary SQLite file.
#include "dataaccess/packet/datapacket.h"
#include "dataaccess/packet/localtimezone.h"
#include "server/applydata.h"
#include "server/oplog.h"
#include "server/provider.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

using namespace server;
using quillon::DataPacket;

namespace {

constexpr int kLogRows = 1000000;

struct Env
{
    QTemporaryDir dir;
    std::unique_ptr<Backend> backend;
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(17, 0));

    Env()
    {
        // The operation log's key and checkpoints in the temporary folder, not the user's.
        qputenv("WAYLINK_CONFIG_DIR", dir.path().toLocal8Bit());
        QString db = qEnvironmentVariable("WAYLINK_BENCH_DB");
        if (db.isEmpty())
            db = dir.filePath(QStringLiteral("oplog.sqlite"));
        backend = Backend::open(db, true);
        auto c = backend->acquireForServer();
        createSchema(*c);
        SeedOptions o;
        o.waybills = 600; // over 1,000 account lines
        o.fastHash = true;
        o.now = now;
        seedDemo(*c, o);
    }

    // Fills the log to 1,000,000 rows spread over the year before `now`.
    void fillLog()
    {
        auto c = backend->acquireForServer();
        QRandomGenerator rnd(7);
        const qint64 have = c->query(QStringLiteral("select count(*) from sys_log"), {}, false)
                                .rows.value(0).value(0).toLongLong();
        const qint64 start = now.addDays(-365).toSecsSinceEpoch();
        const int missing = int(kLogRows - have);
        const int perBatch = 20000;
        for (int done = 0; done < missing; done += perBatch) {
            QList<OpLogEntry> batch;
            for (int i = done; i < std::min(missing, done + perBatch); ++i) {
                OpLogEntry e;
                e.tableName = QStringLiteral("TAB_ACCOUNT");
                e.key = QStringLiteral("66%1").arg(rnd.bounded(1000000), 10, 10, QLatin1Char('0'));
                e.keys = {QStringLiteral("上海中心"), QStringLiteral("到件")};
                e.opType = i % 8 ? QStringLiteral("UPT") : QStringLiteral("DEL");
                e.content = QStringLiteral("WEIGHT: 1.2 -> 1.5; AR_TRANS_FEE: 1.6 -> 1.75");
                e.site = QStringLiteral("上海中心");
                e.emp = QStringLiteral("陈静");
                e.address = QStringLiteral("192.168.10.21");
                e.time = QDateTime::fromSecsSinceEpoch(start + qint64(i) * 365 * 86400 / missing);
                batch.append(e);
            }
            Transaction t(*c);
            appendOpLog(*c, QStringLiteral("001"), batch);
            t.commit();
        }
    }
};

Env *env()
{
    static Env *e = new Env;
    return e;
}

QString changePacket(Connection &c, double from, double to)
{
    RowRestriction r(c, ClientScope::wholeDeployment(QStringLiteral("001")));
    DataPacket p = runProviderQuery(c, QStringLiteral("select * from TAB_ACCOUNT where rownum<=1000 "
                                                      "order by BILLCODE"));
    const int w = p.fieldIndex(QStringLiteral("OTHERCHARGE"));
    for (int row = 0; row < p.rows.size(); ++row) {
        DataPacket::Change ch;
        ch.state = quillon::RowState::Modified;
        ch.row = row;
        ch.original = p.rows.at(row);
        ch.original[w] = from;
        p.rows[row][w] = to;
        p.changes.append(ch);
    }
    return p.toXml();
}

// Arg 1: TAB_ACCOUNT listed in SYS_TABLES (every row logged); 0: not listed.
void BM_ApplyData1000Changed(benchmark::State &state)
{
    auto c = env()->backend->acquireForServer();
    const bool logged = state.range(0) == 1;
    c->execute(QStringLiteral("delete from SYS_TABLES where TABLENAME='TAB_ACCOUNT'"));
    if (logged)
        c->execute(QStringLiteral("insert into SYS_TABLES (TABLENAME, sysid) values ('TAB_ACCOUNT', '001')"));
    static double value = 0.0; // the database's state carries over between runs
    const OpActor actor{QStringLiteral("上海中心"), QStringLiteral("陈静"), QStringLiteral("127.0.0.1")};
    const QString forth = changePacket(*c, 0.0, 1.5), back = changePacket(*c, 1.5, 0.0);
    for (auto _ : state) {
        try {
            applyData(*c, QStringLiteral("TAB_ACCOUNT"), value == 0.0 ? forth : back,
                      QStringLiteral("001"), actor);
        } catch (const ServerError &e) {
            state.SkipWithError(e.what());
            break;
        }
        value = value == 0.0 ? 1.5 : 0.0;
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ApplyData1000Changed)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The log window's query (no table, no type) for one day, 100 days back.
void BM_LogQueryOneDayOf1M(benchmark::State &state)
{
    env()->fillLog();
    auto c = env()->backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const QString day = env()->now.addDays(-100).toString(QStringLiteral("yyyy-MM-dd"));
    const QString sql =
        QStringLiteral("select id, tablename, key, optype, content, opsite, opemp, opaddress, optime, "
                       "opnote, key1,  key2, key3, key4, key5 from sys_log  where optime between "
                       "to_date('%1 00:00:00','YYYY-MM-DD HH24:MI:SS')  and to_date('%1 23:59:59',"
                       "'YYYY-MM-DD HH24:MI:SS')  and sysid='001' ")
            .arg(day);
    qsizetype rows = 0;
    for (auto _ : state) {
        const DataPacket p = runProviderQuery(*c, sql);
        rows = p.rows.size();
        benchmark::DoNotOptimize(p.toBinary());
    }
    state.counters["rows"] = double(rows);
}
BENCHMARK(BM_LogQueryOneDayOf1M)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    quillon::pinLocalTimeZone();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
