// Application server figures: EchoString over keep-alive (requests per second and
// latency), 10,000 account rows through the provider against the same query stepped
// directly in SQLite, and ApplyData of 1,000 modified rows.
#include "bench/directsqlite.h"
#include "dataaccess/packet/datapacket.h"
#include "dataaccess/protocol/transport.h"
#include "dataaccess/packet/localtimezone.h"
#include "dataaccess/recordstore.h"
#include "server/provider.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <sqlite3.h>

using namespace server;
using quillon::DataPacket;
using quillon::protocol::Transport;

namespace {

const char kAccountQuery[] = "select * from TAB_ACCOUNT where rownum<=10000";

struct Env
{
    QTemporaryDir dir;
    QString db;
    std::unique_ptr<Backend> backend;
    std::unique_ptr<HttpServer> http;

    Env()
    {
        db = dir.filePath(QStringLiteral("bench.sqlite"));
        backend = Backend::open(db, true);
        {
            auto c = backend->acquireForServer();
            createSchema(*c);
            SeedOptions o;
            o.waybills = 5600; // a little over 10,000 account lines
            o.fastHash = true;
            seedDemo(*c, o);
        }
        ServerOptions so;
        so.port = 0;
        so.quiet = true;
        so.threads = 4;
        http = std::make_unique<HttpServer>(*backend, dir.filePath(QStringLiteral("files")), so);
        http->start();
    }

    std::unique_ptr<Transport> client()
    {
        Transport::Options o;
        o.host = QStringLiteral("127.0.0.1");
        o.port = http->port();
        auto t = std::make_unique<Transport>(o);
        quillon::protocol::SessionRequest r;
        r.authenticationUser = quillon::protocol::AuthUser{QStringLiteral("000000000000"), QStringLiteral("1"),
                                                           QStringLiteral("101"), QStringLiteral("001.zhang")}
                                   .join();
        r.authenticationPassword = QStringLiteral("123456");
        t->openSession(r);
        return t;
    }
};

Env *env()
{
    static Env *e = new Env();
    return e;
}

void BM_EchoStringKeepAlive(benchmark::State &state)
{
    auto t = env()->client();
    std::vector<double> micros;
    micros.reserve(200000);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const QCborArray r = t->callMethod(QStringLiteral("EchoString"), {QStringLiteral("ping")});
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(r);
    }
    std::sort(micros.begin(), micros.end());
    state.SetItemsProcessed(state.iterations());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_EchoStringKeepAlive)->UseRealTime()->MinTime(2.0);

// A one-row query: what a lookup or a fee call costs, row filter included.
void BM_ProviderOneRow(benchmark::State &state)
{
    auto t = env()->client();
    for (auto _ : state)
        benchmark::DoNotOptimize(t->provider(QStringLiteral("select SiteName from tab_Site where SiteCode='101' and sysid='001'")));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProviderOneRow)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The whole client path as a dataset takes it: request, query, packet, transfer, and
// decoding into the dataset's column storage.
void BM_Provider10kAccountRows(benchmark::State &state)
{
    auto t = env()->client();
    size_t rows = 0;
    for (auto _ : state) {
        quillon::RecordStore store;
        quillon::RecordStoreLoader loader(store);
        DataPacket::readBinary(t->provider(QString::fromLatin1(kAccountQuery)), loader);
        store.finishLoading();
        rows = store.size();
    }
    state.counters["rows"] = double(rows);
}
BENCHMARK(BM_Provider10kAccountRows)->UseRealTime()->Unit(benchmark::kMillisecond);

// The server side as the provider answers, without the transfer: translation, query and
// the packet's bytes written from the rows.
void BM_Provider10kServerSide(benchmark::State &state)
{
    for (auto _ : state) {
        auto c = env()->backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
        benchmark::DoNotOptimize(runProviderQueryBinary(*c, QString::fromLatin1(kAccountQuery)));
    }
}
BENCHMARK(BM_Provider10kServerSide)->UseRealTime()->Unit(benchmark::kMillisecond);

// Decoding the 2.2 MB packet into a dataset's storage, as the client does.
void BM_Decode10kIntoStore(benchmark::State &state)
{
    auto c = env()->backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const QByteArray bytes = runProviderQueryBinary(*c, QString::fromLatin1(kAccountQuery));
    for (auto _ : state) {
        quillon::RecordStore store;
        quillon::RecordStoreLoader loader(store);
        DataPacket::readBinary(bytes, loader);
        store.finishLoading();
    }
}
BENCHMARK(BM_Decode10kIntoStore)->UseRealTime()->Unit(benchmark::kMillisecond);

// The typed path, which answers results the packet cannot be written from directly (an
// expression column, an odd value), and its halves below.
void BM_Provider10kTypedPath(benchmark::State &state)
{
    for (auto _ : state) {
        auto c = env()->backend->acquireForServer();
        const TranslatedSql sql = c->translate(QString::fromLatin1(kAccountQuery));
        QueryResult r = c->query(sql.sql, {}, true);
        DataPacket p;
        p.fields = r.fields;
        p.rows = std::move(r.rows);
        benchmark::DoNotOptimize(p.toBinary());
    }
}
BENCHMARK(BM_Provider10kTypedPath)->UseRealTime()->Unit(benchmark::kMillisecond);

// The halves of the typed path: typed rows from SQLite, and the packet encoding; and the
// packet decoded into rows of values.
void BM_Query10kTypedRows(benchmark::State &state)
{
    auto c = env()->backend->acquireForServer();
    const QString sql = c->translate(QString::fromLatin1(kAccountQuery)).sql;
    for (auto _ : state)
        benchmark::DoNotOptimize(c->query(sql, {}, true));
}
BENCHMARK(BM_Query10kTypedRows)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Encode10kPacket(benchmark::State &state)
{
    auto c = env()->backend->acquireForServer();
    QueryResult r = c->query(c->translate(QString::fromLatin1(kAccountQuery)).sql, {}, true);
    DataPacket p;
    p.fields = r.fields;
    p.rows = std::move(r.rows);
    for (auto _ : state)
        benchmark::DoNotOptimize(p.toBinary());
}
BENCHMARK(BM_Encode10kPacket)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Decode10kPacket(benchmark::State &state)
{
    auto c = env()->backend->acquireForServer();
    QueryResult r = c->query(c->translate(QString::fromLatin1(kAccountQuery)).sql, {}, true);
    DataPacket p;
    p.fields = r.fields;
    p.rows = std::move(r.rows);
    const QByteArray bytes = p.toBinary();
    state.counters["bytes"] = double(bytes.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(DataPacket::fromBinary(bytes));
}
BENCHMARK(BM_Decode10kPacket)->UseRealTime()->Unit(benchmark::kMillisecond);

// Directly with SQLite's defaults (argument 0), and on a connection set up as the server
// sets up its own (argument 1: no locking per call, the file mapped, a 16 MB page cache).
void BM_Direct10kAccountRows(benchmark::State &state)
{
    sqlite3 *db = bench::openDirect(env()->db, state.range(0) == 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(bench::stepAccountRows(db));
    sqlite3_close(db);
}
BENCHMARK(BM_Direct10kAccountRows)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ApplyData1000Modified(benchmark::State &state)
{
    auto t = env()->client();
    DataPacket base = DataPacket::fromBinary(
        t->provider(QStringLiteral("select * from TAB_ACCOUNT where rownum<=1000 order by BILLCODE")));
    const int w = base.fieldIndex(QStringLiteral("OTHERCHARGE"));
    // Two packets that swap the value back and forth, each with the other's originals.
    auto make = [&](double from, double to) {
        DataPacket p = base;
        for (int r = 0; r < p.rows.size(); ++r) {
            DataPacket::Change ch;
            ch.state = quillon::RowState::Modified;
            ch.row = r;
            ch.original = p.rows.at(r);
            ch.original[w] = from;
            p.rows[r][w] = to;
            p.changes.append(ch);
        }
        return p.toXml();
    };
    const QString forth = make(0.0, 1.5), back = make(1.5, 0.0);
    static bool even = true; // the database's state carries over between runs
    for (auto _ : state) {
        QCborArray r;
        try {
            r = t->callMethod(QStringLiteral("ApplyData"),
                              {QStringLiteral("TAB_ACCOUNT"), even ? forth : back, 0, QCborValue()});
        } catch (const quillon::protocol::ProtocolError &e) {
            state.SkipWithError(e.what());
            break;
        }
        if (!r.at(4).toBool()) {
            state.SkipWithError("ApplyData failed");
            break;
        }
        even = !even;
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ApplyData1000Modified)->UseRealTime()->Unit(benchmark::kMillisecond);

double medianMs(const std::function<void()> &fn, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        fn();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    quillon::pinLocalTimeZone();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    // The ratios: the whole client path into the dataset's storage and the provider's
    // server side, each over the rows stepped directly with SQLite's defaults, same run.
    auto t = env()->client();
    sqlite3 *db = bench::openDirect(env()->db, false);
    const double direct = medianMs([db] { benchmark::DoNotOptimize(bench::stepAccountRows(db)); }, 21);
    sqlite3_close(db);
    const double provider = medianMs([&t] {
        quillon::RecordStore store;
        quillon::RecordStoreLoader loader(store);
        DataPacket::readBinary(t->provider(QString::fromLatin1(kAccountQuery)), loader);
    }, 21);
    const double serverSide = medianMs([] {
        auto c = env()->backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
        benchmark::DoNotOptimize(runProviderQueryBinary(*c, QString::fromLatin1(kAccountQuery)));
    }, 21);
    std::printf("10,000 account rows: direct SQLite %.2f ms, provider (client path) %.2f ms "
                "(ratio %.2f), server side only %.2f ms (ratio %.2f)\n",
                direct, provider, provider / direct, serverSide, serverSide / direct);
    benchmark::Shutdown();
    return 0;
}
