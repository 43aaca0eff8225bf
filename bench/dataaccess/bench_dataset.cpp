// Client dataset figures: an open of 10,000 x 24 rows end to end (server + packet +
// dataset) and its parts; Locate and ordering over 100,000 rows; memory per 100,000 rows.
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/transport.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>
#include <memory>

using namespace quillon;

namespace {

constexpr int kOpenRows = 10000;
constexpr int kBigRows = 100000;

// A server with a table of 24 columns (text, integers, floats, date-times) and 10,000 rows.
struct BenchServer
{
    QTemporaryDir dir;
    std::unique_ptr<server::Backend> backend;
    std::unique_ptr<server::HttpServer> http;

    BenchServer()
    {
        backend = server::Backend::open(dir.filePath(QStringLiteral("b.sqlite")), true);
        auto c = backend->acquireForServer();
        server::createSchema(*c);
        server::SeedOptions o;
        o.waybills = 10;
        o.fastHash = true;
        server::seedDemo(*c, o);
        QStringList cols;
        for (int i = 0; i < 10; ++i)
            cols << QStringLiteral("S%1 VARCHAR2(30)").arg(i);
        for (int i = 0; i < 6; ++i)
            cols << QStringLiteral("N%1 INTEGER").arg(i);
        for (int i = 0; i < 5; ++i)
            cols << QStringLiteral("F%1 NUMBER(12,2)").arg(i);
        cols << QStringLiteral("D0 DATE") << QStringLiteral("D1 DATE") << QStringLiteral("sysid VARCHAR2(3)");
        c->executeScript(QStringLiteral("create table BENCH (%1);").arg(cols.join(u',')));
        c->begin();
        QStringList marks(24, QStringLiteral("?"));
        const QString insert = QStringLiteral("insert into BENCH values (%1)").arg(marks.join(u','));
        const QDateTime base(QDate(2026, 1, 1), QTime(8, 0));
        for (int r = 0; r < kOpenRows; ++r) {
            QVariantList v;
            for (int i = 0; i < 10; ++i)
                v << QStringLiteral("站点%1-%2").arg(r).arg(i);
            for (int i = 0; i < 6; ++i)
                v << r * 7 + i;
            for (int i = 0; i < 5; ++i)
                v << r * 0.25 + i;
            v << base.addSecs(r * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
              << base.addDays(r % 30).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
              << QStringLiteral("001");
            c->execute(insert, v);
        }
        c->commit();
        server::ServerOptions options;
        options.port = 0;
        options.threads = 2;
        options.quiet = true;
        http = std::make_unique<server::HttpServer>(*backend, dir.filePath(QStringLiteral("files")), options);
        http->start();
    }
    ~BenchServer() { http->stop(); }

    void logOn(TMySktConnection &c) const
    {
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(http->port());
        c.SetSiteCode(QStringLiteral("101"));
        c.SetUsername(QStringLiteral("001.zhang"));
        c.SetPassword(QString::fromLatin1(server::kDemoPassword));
    }
};

BenchServer &benchServer()
{
    static BenchServer s;
    return s;
}

const QString kQuery = QStringLiteral("select * from BENCH where sysid='001'");

void BM_OpenEndToEnd_10000x24(benchmark::State &state)
{
    TMySktConnection c;
    benchServer().logOn(c);
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetCommandText(kQuery);
    for (auto _ : state) {
        ds.Close();
        ds.Open();
        benchmark::DoNotOptimize(ds.RecordCount());
    }
    state.counters["rows"] = ds.RecordCount();
    state.counters["fields"] = ds.FieldCount();
}
BENCHMARK(BM_OpenEndToEnd_10000x24)->Unit(benchmark::kMillisecond);

// Split 1: the server's query, packet encoding and the transfer (raw packet bytes).
void BM_OpenSplit_ServerAndWire(benchmark::State &state)
{
    TMySktConnection c;
    benchServer().logOn(c);
    c.Open();
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QByteArray b = c.DBXConnection()->provider(kQuery);
        bytes = b.size();
    }
    state.counters["packet_bytes"] = double(bytes);
}
BENCHMARK(BM_OpenSplit_ServerAndWire)->Unit(benchmark::kMillisecond);

// Split 2: decoding the binary packet on the client.
void BM_OpenSplit_DecodePacket(benchmark::State &state)
{
    TMySktConnection c;
    benchServer().logOn(c);
    c.Open();
    const QByteArray b = c.DBXConnection()->provider(kQuery);
    for (auto _ : state)
        benchmark::DoNotOptimize(DataPacket::fromBinary(b).rows.size());
}
BENCHMARK(BM_OpenSplit_DecodePacket)->Unit(benchmark::kMillisecond);

// Part of split 1 done by the shared codec: encoding the packet on the server.
void BM_OpenSplit_EncodePacket(benchmark::State &state)
{
    TMySktConnection c;
    benchServer().logOn(c);
    c.Open();
    const DataPacket p = DataPacket::fromBinary(c.DBXConnection()->provider(kQuery));
    for (auto _ : state)
        benchmark::DoNotOptimize(p.toBinary().size());
}
BENCHMARK(BM_OpenSplit_EncodePacket)->Unit(benchmark::kMillisecond);

// The XML form that ApplyUpdates sends, for the same 10,000 rows.
void BM_XmlPacket_10000x24(benchmark::State &state)
{
    TMySktConnection c;
    benchServer().logOn(c);
    c.Open();
    const DataPacket p = DataPacket::fromBinary(c.DBXConnection()->provider(kQuery));
    qsizetype chars = 0;
    for (auto _ : state) {
        const QString xml = p.toXml();
        chars = xml.size();
        benchmark::DoNotOptimize(DataPacket::fromXml(xml).rows.size());
    }
    state.counters["xml_chars"] = double(chars);
}
BENCHMARK(BM_XmlPacket_10000x24)->Unit(benchmark::kMillisecond);

// Split 3: loading a decoded packet into the dataset.
void BM_OpenSplit_LoadDataset(benchmark::State &state)
{
    TMySktConnection c;
    benchServer().logOn(c);
    c.Open();
    const DataPacket p = DataPacket::fromBinary(c.DBXConnection()->provider(kQuery));
    TMyDataSet ds;
    for (auto _ : state) {
        state.PauseTiming();
        DataPacket copy = p;
        for (auto &row : copy.rows)
            row.detach();
        state.ResumeTiming();
        ds.SetData(std::move(copy));
    }
}
BENCHMARK(BM_OpenSplit_LoadDataset)->Unit(benchmark::kMillisecond);

// 100,000 rows x 25 columns, as a big finance query gives them.
DataPacket bigPacket()
{
    DataPacket p;
    for (int i = 0; i < 12; ++i)
        p.fields.append({QStringLiteral("S%1").arg(i), FieldType::String, 30, false});
    for (int i = 0; i < 6; ++i)
        p.fields.append({QStringLiteral("N%1").arg(i), FieldType::Integer, 0, false});
    for (int i = 0; i < 5; ++i)
        p.fields.append({QStringLiteral("F%1").arg(i), FieldType::Float, 0, false});
    p.fields.append({QStringLiteral("D0"), FieldType::DateTime, 0, false});
    p.fields.append({QStringLiteral("BILLCODE"), FieldType::String, 20, false});
    p.rows.reserve(kBigRows);
    const QDateTime base(QDate(2026, 1, 1), QTime(8, 0));
    for (int r = 0; r < kBigRows; ++r) {
        QVariantList v;
        v.reserve(25);
        for (int i = 0; i < 12; ++i)
            v << QStringLiteral("站点%1").arg((r * 31 + i) % 5000);
        for (int i = 0; i < 6; ++i)
            v << (r * 13 + i) % 1000;
        for (int i = 0; i < 5; ++i)
            v << r * 0.5 + i;
        v << base.addSecs(r);
        v << QStringLiteral("B%1").arg((qint64(r) * 7919) % kBigRows, 8, 10, QLatin1Char('0'));
        p.rows.append(std::move(v));
    }
    return p;
}

TMyDataSet &bigDataSet()
{
    static TMyDataSet *ds = [] {
        auto *d = new TMyDataSet;
        d->SetData(DataPacket::fromBinary(bigPacket().toBinary()));
        return d;
    }();
    return *ds;
}

void BM_Locate_100000_LastRow(benchmark::State &state)
{
    TMyDataSet &ds = bigDataSet();
    ds.SetIndexFieldNames(QString());
    ds.Last();
    const QString target = ds.FieldByName(QStringLiteral("BILLCODE"))->AsString();
    for (auto _ : state) {
        ds.First();
        if (!ds.Locate(QStringLiteral("BILLCODE"), target))
            state.SkipWithError("not found");
    }
}
BENCHMARK(BM_Locate_100000_LastRow)->Unit(benchmark::kMillisecond);

void BM_Locate_100000_PartialCaseInsensitiveMiss(benchmark::State &state)
{
    TMyDataSet &ds = bigDataSet();
    for (auto _ : state)
        benchmark::DoNotOptimize(ds.Locate(QStringLiteral("S3"), QStringLiteral("站点X"),
                                           LocateOptions(PartialKey | CaseInsensitive)));
}
BENCHMARK(BM_Locate_100000_PartialCaseInsensitiveMiss)->Unit(benchmark::kMillisecond);

void BM_Order_100000(benchmark::State &state)
{
    TMyDataSet &ds = bigDataSet();
    const QStringList orders = {QStringLiteral("BILLCODE"), QStringLiteral("N2;S1"), QStringLiteral("D0 DESC"),
                                QStringLiteral("S4:N")};
    const QString order = orders.at(state.range(0));
    for (auto _ : state) {
        ds.SetIndexFieldNames(QString());
        ds.SetIndexFieldNames(order);
    }
    state.SetLabel(order.toStdString());
    ds.SetIndexFieldNames(QString());
}
BENCHMARK(BM_Order_100000)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Bytes the heap has handed out and not taken back (glibc).
long heapInUse()
{
    return long(mallinfo2().uordblks);
}

void BM_Memory_100000x25(benchmark::State &state)
{
    double perRow = 0;
    // As a dataset holds rows that came from the server or a cache file: decoded.
    const QByteArray binary = bigPacket().toBinary();
    for (auto _ : state) {
        state.PauseTiming();
        const long before = heapInUse();
        state.ResumeTiming();
        auto *ds = new TMyDataSet;
        ds->SetData(DataPacket::fromBinary(binary));
        state.PauseTiming();
        perRow = double(heapInUse() - before) / kBigRows;
        delete ds;
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = perRow;
    state.counters["MB_per_100000_rows"] = perRow * kBigRows / 1e6;
}
BENCHMARK(BM_Memory_100000x25)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
