// Finance figures against an in-process application server on loopback with the demo's
// finance volume: 批带 and 刷新 over 1,000 marked centre account lines (4,000 fee calls,
// 3,000 lookups), 批带 over every line of the month, 算费 and 刷新 over 1,000
// pay-on-delivery and delivery-fee records, one fee call, and the query of the month's
// 10,000-odd lines into the grid of 中心账单查询. Compare a run with OneFeeCall of the same
// run of the program: the runs fetch their answers in batches.
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/packet/localtimezone.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "modules/tally/fcenaccedt.h"
#include "modules/tally/fcenaccquery.h"
#include "modules/tally/fdfkedt.h"
#include "modules/tally/fdfpfedt.h"
#include "modules/tally/udm_func.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/seedfinance.h"
#include "server/sql/backend.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTemporaryDir>

#include <QFile>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

// CPU time of the whole process (the window's thread and the in-process server's), in ms:
// steadier than wall time on a shared machine.
double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct BenchServer
{
    QTemporaryDir dir;
    std::unique_ptr<server::Backend> backend;
    std::unique_ptr<server::HttpServer> http;
    quillon::TMySktConnection conn;

    BenchServer()
    {
        backend = server::Backend::open(dir.filePath(QStringLiteral("b.sqlite")), true);
        {
            auto c = backend->acquireForServer();
            server::createSchema(*c);
            server::SeedOptions o;
            o.waybills = 10;
            o.fastHash = true;
            server::seedDemo(*c, o);
            server::seedFinanceVolume(*c);
        }
        server::ServerOptions so;
        so.port = 0;
        so.threads = 2;
        so.quiet = true;
        http = std::make_unique<server::HttpServer>(*backend, dir.filePath(QStringLiteral("files")), so);
        http->start();
        conn.SetHost(QStringLiteral("127.0.0.1"));
        conn.SetPort(http->port());
        // The finance centre's clerk: the centre windows' work, over every site's lines (a
        // site's clerk reads his own site's only).
        conn.SetSiteCode(QStringLiteral("100"));
        conn.SetUsername(QStringLiteral("001.li"));
        conn.SetPassword(QString::fromLatin1(server::kDemoPassword));
        host::CdbCommObj();
        host::setConnection(&conn);
        tally::DM_Func()->InitConn();
        tessera::setAppPath(dir.filePath(QStringLiteral("client")));
        host::setDialogPresenter(std::make_unique<host::ScriptedPresenter>());
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("上海中心"));
        // Not fixed to the centre's own lines (its 财务中心 box): the figures go over every
        // centre's lines, the 操作网点 box that a non-centre log-on fixes is freed below.
        host::g_lstVars->setValue(QStringLiteral("LogOnFinanceType"), QStringLiteral("2"));
    }
    ~BenchServer()
    {
        host::setConnection(nullptr);
        tally::DM_Func()->cnServer = nullptr;
        http->stop();
    }
};

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2) : QString();
}

BenchServer &benchServer()
{
    static BenchServer s;
    return s;
}

// The first `rows` rows marked as a user does with a shift-click.
void markFirst(tessera::TDBGridEh *grid, int rows)
{
    grid->clearSelectedRows();
    QAbstractItemModel *m = grid->view()->model();
    grid->view()->selectionModel()->select(QItemSelection(m->index(0, 0), m->index(rows - 1, m->columnCount() - 1)),
                                           QItemSelectionModel::Select);
}

// Every line of the last thirty days (what the finance volume covers, early in a month
// too), whatever station: the fixed 操作网点 is freed for the figure.
template<class W> void wholeMonth(W *w)
{
    w->boxes.edtSite->setEnabled(true);
    w->boxes.edtSite->clear();
    w->filters->dtB->setDate(QDate::currentDate().addDays(-30));
}

// Wall time per iteration of each run, for the ratios printed after the benchmarks.
std::map<std::string, double> &wallMs()
{
    static std::map<std::string, double> m;
    return m;
}

// The one measure of every run below: window W opened on its rows (`filter` sets the
// range, `options` the run's choices after the query), then `run` timed over the first
// `rows` rows marked as a user marks them, each iteration from the rows as queried.
// Counters: the process's CPU, the rows changed, and the requests when `requests` counts
// them.
template<class W>
void timeMarkedRun(benchmark::State &state, const char *name, int rows, const std::function<void(W *)> &filter,
                   const std::function<void(W *)> &options, const std::function<void(W *)> &run,
                   const std::function<int(W *)> &requests = {})
{
    benchServer();
    std::unique_ptr<W> w(tessera::createForm<W>());
    w->resize(1200, 700);
    w->show();
    filter(w.get());
    w->executeAction(w->actQuery);
    if (w->cdsData->RecordCount() < rows) {
        state.SkipWithError(("fewer than " + std::to_string(rows) + " rows: "
                             + std::to_string(w->cdsData->RecordCount())).c_str());
        return;
    }
    if (options)
        options(w.get());
    double cpu = 0, wall = 0;
    int sent = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w->cdsData->CancelUpdates();
        markFirst(w->DBGridData, rows);
        const int requestsBefore = requests ? requests(w.get()) : 0;
        const double before = processCpuMs();
        const auto start = std::chrono::steady_clock::now();
        state.ResumeTiming();
        run(w.get());
        wall += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        cpu += processCpuMs() - before;
        if (requests)
            sent = requests(w.get()) - requestsBefore;
    }
    state.counters["process_cpu_ms"] = cpu / double(state.iterations());
    state.counters["changed"] = w->cdsData->ChangeCount();
    if (requests)
        state.counters["requests"] = sent;
    wallMs()[name] = wall / double(state.iterations());
}

// The month's rows of a records window.
template<class W> void thisMonth(W *w)
{
    const QDate today = QDate::currentDate();
    w->filters->dtB->setDate(QDate(today.year(), today.month(), 1));
}

// 批带 over 1,000 marked centre account lines (4,000 fees).
void BM_BatchFeesOverThousandLines(benchmark::State &state)
{
    timeMarkedRun<tally::TfcenAccEdt>(state, "BatchFeesOverThousandLines", 1000, wholeMonth<tally::TfcenAccEdt>, {},
                                      [](tally::TfcenAccEdt *w) { w->CalcFees(true); },
                                      [](tally::TfcenAccEdt *w) { return w->calls().requests(); });
}
BENCHMARK(BM_BatchFeesOverThousandLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// 批带 over 5,000 lines of the month, as a clerk's month-end re-rating.
void BM_BatchFeesOverFiveThousandLines(benchmark::State &state)
{
    timeMarkedRun<tally::TfcenAccEdt>(state, "BatchFeesOverFiveThousandLines", 5000, wholeMonth<tally::TfcenAccEdt>, {},
                                      [](tally::TfcenAccEdt *w) { w->CalcFees(true); },
                                      [](tally::TfcenAccEdt *w) { return w->calls().requests(); });
}
BENCHMARK(BM_BatchFeesOverFiveThousandLines)->Unit(benchmark::kMillisecond)->Iterations(2);

// 刷新 over 1,000 centre account lines: five steps each, three of them lookups.
void BM_RefreshOverThousandLines(benchmark::State &state)
{
    timeMarkedRun<tally::TfcenAccEdt>(
        state, "RefreshOverThousandLines", 1000, wholeMonth<tally::TfcenAccEdt>,
        [](tally::TfcenAccEdt *w) {
            w->cboPriorSite->setCurrentIndex(2);
            w->cboNextSite->setCurrentIndex(1);
            w->cboMdd->setCurrentIndex(1);
            w->cboFirstSite->setCurrentIndex(1);
            w->chkWeight->setChecked(true);
        },
        [](tally::TfcenAccEdt *w) { w->sbRefreshClick(); });
}
BENCHMARK(BM_RefreshOverThousandLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// 算费 over 1,000 marked records of a pay-on-delivery or delivery-fee window (1,000 fees).
void BM_DfkFeesOverThousandRecords(benchmark::State &state)
{
    timeMarkedRun<tally::TfDFKEdt>(state, "DfkFeesOverThousandRecords", 1000, thisMonth<tally::TfDFKEdt>, {},
                                   [](tally::TfDFKEdt *w) { w->actCalcExecute(); });
}
BENCHMARK(BM_DfkFeesOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
void BM_DfpfFeesOverThousandRecords(benchmark::State &state)
{
    timeMarkedRun<tally::TfDFPFEdt>(state, "DfpfFeesOverThousandRecords", 1000, thisMonth<tally::TfDFPFEdt>, {},
                                    [](tally::TfDFPFEdt *w) { w->actCalcExecute(); });
}
BENCHMARK(BM_DfpfFeesOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

// 刷新 over 1,000 marked records: the pay-on-delivery signing site from the server (one
// lookup each), the delivery fee's destination, sending site and weight (three each).
void BM_DfkRefreshOverThousandRecords(benchmark::State &state)
{
    timeMarkedRun<tally::TfDFKEdt>(state, "DfkRefreshOverThousandRecords", 1000, thisMonth<tally::TfDFKEdt>,
                                   [](tally::TfDFKEdt *w) { w->chkGet->setChecked(true); },
                                   [](tally::TfDFKEdt *w) { w->sbRefreshClick(); });
}
BENCHMARK(BM_DfkRefreshOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
void BM_DfpfRefreshOverThousandRecords(benchmark::State &state)
{
    timeMarkedRun<tally::TfDFPFEdt>(
        state, "DfpfRefreshOverThousandRecords", 1000, thisMonth<tally::TfDFPFEdt>,
        [](tally::TfDFPFEdt *w) {
            w->cboMdd->setCurrentIndex(1);
            w->cboFirstSite->setCurrentIndex(2);
            w->cboWeight->setCurrentIndex(2);
        },
        [](tally::TfDFPFEdt *w) { w->sbRefreshClick(); });
}
BENCHMARK(BM_DfpfRefreshOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

// One fee call on loopback: what each of the 4,000 calls of the run above costs.
void BM_OneFeeCall(benchmark::State &state)
{
    benchServer();
    std::unique_ptr<tally::TfcenAccEdt> w(tessera::createForm<tally::TfcenAccEdt>());
    wholeMonth(w.get());
    w->executeAction(w->actQuery);
    const double before = processCpuMs();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(w->CalcFee(QStringLiteral("中转费")));
    state.counters["process_cpu_us"] = (processCpuMs() - before) * 1000.0 / double(state.iterations());
    wallMs()["OneFeeCall"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count()
                             / double(state.iterations());
}
BENCHMARK(BM_OneFeeCall)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_QueryTenThousandLinesIntoTheGrid(benchmark::State &state)
{
    benchServer();
    std::unique_ptr<tally::TfcenAccQuery> w(tessera::createForm<tally::TfcenAccQuery>());
    w->resize(1200, 700);
    w->show();
    wholeMonth(w.get());
    int rows = 0;
    for (auto _ : state) {
        w->executeAction(w->actQuery);
        w->DBGridData->view()->viewport()->repaint();
        rows = w->cdsData->RecordCount();
    }
    state.counters["rows"] = rows;
    if (rows < 10000)
        state.SkipWithError("fewer than 10,000 lines: the user does not read them all");
}
BENCHMARK(BM_QueryTenThousandLinesIntoTheGrid)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    quillon::pinLocalTimeZone(); // as the program does
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Each run as the number of single fee calls that take as long, in this run (the aim:
    // at most 800 for 1,000 lines or records).
    const auto one = wallMs().find("OneFeeCall");
    if (one != wallMs().end() && one->second > 0) {
        std::printf("load average %s\n", qPrintable(loadAverage()));
        for (const auto &[name, ms] : wallMs())
            if (name != one->first)
                std::printf("RATIO %s = %.0f single fee calls (%.1f ms, one call %.0f us)\n", name.c_str(),
                            ms / one->second, ms, one->second * 1000.0);
    }
    return 0;
}
