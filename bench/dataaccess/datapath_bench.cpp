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

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The medians of several measurements taken in turns, round after round: a machine whose
// speed drifts (other guests, frequency) shifts all of them alike, so their ratios hold.
std::vector<Timing> interleavedMedians(const std::vector<std::function<void()>> &fns)
{
    for (const auto &fn : fns)
        fn(); // warm caches and connections
    std::vector<std::vector<double>> wall(fns.size()), cpu(fns.size());
    for (int i = 0; i < kRuns; ++i) {
        for (size_t k = 0; k < fns.size(); ++k) {
            const double c0 = processCpuMs();
            const auto start = std::chrono::steady_clock::now();
            fns[k]();
            wall[k].push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            cpu[k].push_back(processCpuMs() - c0);
        }
    }
    std::vector<Timing> out;
    for (size_t k = 0; k < fns.size(); ++k)
        out.push_back({medianOf(wall[k]), medianOf(cpu[k])});
    return out;
}

Timing median(const std::function<void()> &fn)
{
    return interleavedMedians({fn}).front();
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

// A sink that passes everything on and notes when the first and the last row arrived.
class TimedSink : public PacketSink
{
public:
    explicit TimedSink(PacketSink &inner) : m_inner(inner) {}
    std::chrono::steady_clock::time_point first, last;
    void begin(const QList<FieldDef> &f, qsizetype rows) override { m_inner.begin(f, rows); }
    void null(int f) override { m_inner.null(f); }
    bool text(int f, QByteArrayView u) override { return m_inner.text(f, u); }
    void integer(int f, qint64 v) override { m_inner.integer(f, v); }
    void real(int f, double v) override { m_inner.real(f, v); }
    void date(int f, qint64 d) override { m_inner.date(f, d); }
    void time(int f, int ms) override { m_inner.time(f, ms); }
    void dateTime(int f, qint64 d, int ms) override { m_inner.dateTime(f, d, ms); }
    void boolean(int f, bool v) override { m_inner.boolean(f, v); }
    void blob(int f, QByteArrayView b) override { m_inner.blob(f, b); }
    void endRow() override
    {
        last = std::chrono::steady_clock::now();
        if (first == std::chrono::steady_clock::time_point())
            first = last;
        m_inner.endRow();
    }
    void row(QVariantList &&values) override { m_inner.row(std::move(values)); }
    void changes(QList<DataPacket::Change> &&c) override { m_inner.changes(std::move(c)); }

private:
    PacketSink &m_inner;
};

} // namespace

int main(int argc, char **argv)
{
    pinLocalTimeZone();
    QCoreApplication app(argc, argv);
    Env env;

    TMySktConnection conn;
    env.logOn(conn);
    TMyDataSet ds;
    ds.SetMyConn(&conn);
    ds.SetTag(1);
    ds.SetCommandText(QString::fromLatin1(kQuery));
    QByteArray answer = conn.providerFetchBinary(QString::fromLatin1(protocol::kProviderName),
                                                 QString::fromLatin1(kQuery), {});
    // `--profile client|fetch|decode|onerow N`: only that part, N times, for a profiler.
    if (argc > 3 && QByteArray(argv[1]) == "--profile") {
        const QByteArray part = argv[2];
        for (int i = 0, n = atoi(argv[3]); i < n; ++i) {
            if (part == "onerow") {
                RecordStore store;
                RecordStoreLoader loader(store);
                conn.providerFetchInto(QString::fromLatin1(protocol::kProviderName),
                                       QStringLiteral("select * from TAB_ACCOUNT where rownum<=1"), {}, loader);
            } else if (part == "fetch") {
                answer = conn.providerFetchBinary(QString::fromLatin1(protocol::kProviderName),
                                                  QString::fromLatin1(kQuery), {});
            } else if (part == "decode") {
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
    // The ratios' four figures in turns: directly in SQLite with the library's defaults and
    // with the connection set up as the server sets up its own (no locking per call, the
    // file mapped, a larger page cache; the ratios are taken against the faster of the
    // two), as the provider answers (translation, query and the packet's bytes), and the
    // whole client path into a dataset.
    sqlite3 *plainDb = bench::openDirect(env.db, false);
    sqlite3 *tunedDb = bench::openDirect(env.db, true);
    const std::vector<Timing> figures = interleavedMedians({
        [plainDb] { benchmark::DoNotOptimize(bench::stepAccountRows(plainDb)); },
        [tunedDb] { benchmark::DoNotOptimize(bench::stepAccountRows(tunedDb)); },
        [&env] {
            auto c = env.backend->acquireForClient(server::ClientScope::wholeDeployment(QStringLiteral("001")));
            benchmark::DoNotOptimize(server::runProviderQueryBinary(*c, QString::fromLatin1(kQuery)));
        },
        [&ds] {
            ds.Close();
            ds.Open();
            benchmark::DoNotOptimize(ds.RecordCount());
        },
    });
    sqlite3_close(plainDb);
    sqlite3_close(tunedDb);
    const Timing directDefaults = figures[0], directTuned = figures[1], serverSide = figures[2],
                 clientPath = figures[3];
    const Timing direct = directTuned.wallMs < directDefaults.wallMs ? directTuned : directDefaults;
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
    // When the rows arrive: the first and the last row decoded, from the request's start;
    // and the fixed cost of a request, as one row through the client path.
    double firstRowMs = 0, lastRowMs = 0, doneMs = 0;
    {
        std::vector<double> firsts, lasts, dones;
        for (int i = 0; i < kRuns; ++i) {
            RecordStore store;
            RecordStoreLoader loader(store);
            TimedSink timed(loader);
            const auto start = std::chrono::steady_clock::now();
            conn.providerFetchInto(QString::fromLatin1(protocol::kProviderName), QString::fromLatin1(kQuery), {},
                                   timed);
            store.finishLoading();
            const auto end = std::chrono::steady_clock::now();
            firsts.push_back(std::chrono::duration<double, std::milli>(timed.first - start).count());
            lasts.push_back(std::chrono::duration<double, std::milli>(timed.last - start).count());
            dones.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        firstRowMs = medianOf(firsts);
        lastRowMs = medianOf(lasts);
        doneMs = medianOf(dones);
    }
    const Timing oneRow = median([&conn] {
        RecordStore store;
        RecordStoreLoader loader(store);
        conn.providerFetchInto(QString::fromLatin1(protocol::kProviderName),
                               QStringLiteral("select * from TAB_ACCOUNT where rownum<=1"), {}, loader);
        store.finishLoading();
    });
    // The answer whole, then decoded: the answer's bytes (request, server, transfer), and
    // decoding them into a dataset's storage.
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
    std::printf("    its first row decoded after %.2f ms, the last after %.2f ms, the storage ready after %.2f ms\n",
                firstRowMs, lastRowMs, doneMs);
    std::printf("  one row through the client path %7.2f ms / %7.2f ms\n", oneRow.wallMs, oneRow.cpuMs);
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
