// The data path in one run, as three ratios: 10,000 demo account rows through the whole
// client path (request, server query, packet, transfer, decoding, dataset) and through the
// server side alone, each over the same rows stepped directly in SQLite; and the client
// dataset's memory per row for 100,000 account rows. Prints the machine's load with them.
#include "bench/directsqlite.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"
#include "dataaccess/recordstore.h"
#include "dataaccess/packet/packetstream.h"
#include "dataaccess/packet/localtimezone.h"
#include "server/httpserver.h"
#include "server/provider.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <malloc.h>

using namespace quillon;

namespace {

const char kQuery[] = "select * from TAB_ACCOUNT where rownum<=10000";
constexpr int kRuns = 21;
constexpr int kBigRows = 100000;

struct Env
{
    QTemporaryDir dir;
    QString db;
    std::unique_ptr<server::Backend> backend;
    std::unique_ptr<server::HttpServer> http;

    Env()
    {
        db = dir.filePath(QStringLiteral("bench.sqlite"));
        backend = server::Backend::open(db, true);
        {
            auto c = backend->acquireForServer();
            server::createSchema(*c);
            server::SeedOptions o;
            o.waybills = 5600; // a little over 10,000 account lines
            o.fastHash = true;
            server::seedDemo(*c, o);
        }
        server::ServerOptions so;
        so.port = 0;
        so.quiet = true;
        so.threads = 2;
        http = std::make_unique<server::HttpServer>(*backend, dir.filePath(QStringLiteral("files")), so);
        http->start();
    }

    void logOn(TMySktConnection &c) const
    {
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(http->port());
        // Head office reads every site's lines: the same rows as the direct query (a site
        // clerk's roles limit him to his site's).
        c.SetSiteCode(QStringLiteral("000"));
        c.SetUsername(QStringLiteral("001.admin"));
        c.SetPassword(QString::fromLatin1(server::kDemoPassword));
    }
};

struct Timing
{
    double wallMs;
    double cpuMs; // the whole process: the in-process server's threads too
};

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

Timing median(const std::function<void()> &fn)
{
    fn(); // warm caches and connections
    std::vector<double> wall, cpu;
    for (int i = 0; i < kRuns; ++i) {
        const double c0 = processCpuMs();
        const auto start = std::chrono::steady_clock::now();
        fn();
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        cpu.push_back(processCpuMs() - c0);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

long residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.value(1).toLong() * sysconf(_SC_PAGESIZE);
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2) : QString();
}

// 100,000 account rows: the demo table's 10,000 rows ten times, bill codes kept unique.
QByteArray bigAccountPacket(const DataPacket &tenThousand)
{
    DataPacket p;
    p.fields = tenThousand.fields;
    const int bill = p.fieldIndex(QStringLiteral("BILLCODE"));
    p.rows.reserve(kBigRows);
    for (int copy = 0; p.rows.size() < kBigRows; ++copy) {
        for (const QVariantList &row : tenThousand.rows) {
            if (p.rows.size() == kBigRows)
                break;
            QVariantList r = row;
            r[bill] = QString(row.at(bill).toString() + QString::number(copy));
            p.rows.append(std::move(r));
        }
    }
    return p.toBinary();
}

} // namespace

int main(int argc, char **argv)
{
    pinLocalTimeZone();
    QCoreApplication app(argc, argv);
    Env env;

    // Directly in SQLite: with the library's defaults, and with the connection set up as
    // the server sets up its own (no locking per call, the file mapped, a larger page
    // cache); the ratios are taken against the faster of the two.
    sqlite3 *db = bench::openDirect(env.db, false);
    const Timing directDefaults = median([db] { benchmark::DoNotOptimize(bench::stepAccountRows(db)); });
    sqlite3_close(db);
    db = bench::openDirect(env.db, true);
    const Timing directTuned = median([db] { benchmark::DoNotOptimize(bench::stepAccountRows(db)); });
    sqlite3_close(db);
    const Timing direct = directTuned.wallMs < directDefaults.wallMs ? directTuned : directDefaults;

    // As the provider answers: translation, query and the packet's bytes.
    const Timing serverSide = median([&env] {
        auto c = env.backend->acquireForClient(server::ClientScope::wholeDeployment(QStringLiteral("001")));
        benchmark::DoNotOptimize(server::runProviderQueryBinary(*c, QString::fromLatin1(kQuery)));
    });

    TMySktConnection conn;
    env.logOn(conn);
    TMyDataSet ds;
    ds.SetMyConn(&conn);
    ds.SetTag(1);
    ds.SetCommandText(QString::fromLatin1(kQuery));
    const Timing clientPath = median([&ds] {
        ds.Close();
        ds.Open();
        benchmark::DoNotOptimize(ds.RecordCount());
    });
    // The answer read into a dataset's storage while it arrives (the server streams it),
    // without the dataset around it.
    const Timing streamed = median([&conn] {
        RecordStore store;
        RecordStoreLoader loader(store);
        conn.providerFetchInto(QString::fromLatin1(protocol::kProviderName), QString::fromLatin1(kQuery), {},
                               loader);
        store.finishLoading();
        benchmark::DoNotOptimize(store.size());
    });
    // The answer whole, then decoded: the answer's bytes (request, server, transfer), and
    // decoding them into a dataset's storage.
    QByteArray answer;
    const Timing fetch = median([&conn, &answer] {
        answer = conn.providerFetchBinary(QString::fromLatin1(protocol::kProviderName),
                                          QString::fromLatin1(kQuery), {});
    });
    const Timing decode = median([&answer] {
        RecordStore store;
        RecordStoreLoader loader(store);
        DataPacket::readBinary(answer, loader);
        store.finishLoading();
    });
    // `--profile client|decode N`: only that part, N times, for a profiler to look at.
    if (argc > 3 && QByteArray(argv[1]) == "--profile") {
        const bool decodeOnly = QByteArray(argv[2]) == "decode";
        for (int i = 0, n = atoi(argv[3]); i < n; ++i) {
            if (decodeOnly) {
                RecordStore store;
                RecordStoreLoader loader(store);
                DataPacket::readBinary(answer, loader);
                store.finishLoading();
            } else {
                ds.Close();
                ds.Open();
            }
        }
        return 0;
    }
    const int rows = ds.RecordCount();
    const int fields = ds.FieldCount();
    if (rows != 10000) {
        std::fprintf(stderr, "the client path read %d rows, not the direct query's 10,000: no ratio\n", rows);
        return 1;
    }
    const DataPacket tenThousand = ds.Data();
    ds.Close();

    // Memory: resident-set growth of a dataset holding 100,000 rows read from a cache file
    // in the binary form, after the reading's scratch is given back to the system.
    const QString cacheFile = env.dir.filePath(QStringLiteral("account.cds"));
    qsizetype bigBytes = 0;
    {
        const QByteArray big = bigAccountPacket(tenThousand);
        bigBytes = big.size();
        QFile f(cacheFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(big) != big.size())
            return 1;
    }
    malloc_trim(0);
    const long rssBefore = residentBytes();
    const long heapBefore = long(mallinfo2().uordblks);
    auto *bigSet = new TMyDataSet;
    bigSet->LoadFromFile(cacheFile);
    malloc_trim(0);
    const double rssPerRow = double(residentBytes() - rssBefore) / kBigRows;
    const double heapPerRow = double(long(mallinfo2().uordblks) - heapBefore) / kBigRows;
    const double packetPerRow = double(bigBytes) / kBigRows;
    const int bigFields = bigSet->FieldCount();
    delete bigSet;

    std::printf("load average %s\n", qPrintable(loadAverage()));
    std::printf("%d account rows x %d fields, medians of %d runs (wall / CPU of the process):\n",
                rows, fields, kRuns);
    std::printf("  direct SQLite, defaults %7.2f ms / %7.2f ms\n", directDefaults.wallMs, directDefaults.cpuMs);
    std::printf("  direct SQLite, as the server sets it up %7.2f ms / %7.2f ms\n", directTuned.wallMs,
                directTuned.cpuMs);
    std::printf("  server side             %7.2f ms / %7.2f ms\n", serverSide.wallMs, serverSide.cpuMs);
    std::printf("  client path to dataset  %7.2f ms / %7.2f ms\n", clientPath.wallMs, clientPath.cpuMs);
    std::printf("  streamed into the storage %7.2f ms / %7.2f ms\n", streamed.wallMs, streamed.cpuMs);
    std::printf("  whole, then decoded: the answer's bytes %7.2f ms / %7.2f ms, decoding %7.2f ms / %7.2f ms\n",
                fetch.wallMs, fetch.cpuMs, decode.wallMs, decode.cpuMs);
    std::printf("%d account rows x %d fields in a dataset: %.0f bytes a row resident (%.0f heap), "
                "packet %.0f bytes a row\n",
                kBigRows, bigFields, rssPerRow, heapPerRow, packetPerRow);
    std::printf("RATIOS client path / direct %.2f, server side / direct %.2f, bytes per row %.0f "
                "(by CPU time: %.2f, %.2f)\n",
                clientPath.wallMs / direct.wallMs, serverSide.wallMs / direct.wallMs, rssPerRow,
                clientPath.cpuMs / direct.cpuMs, serverSide.cpuMs / direct.cpuMs);
    return 0;
}
