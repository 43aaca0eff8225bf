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

#include <ctime>
#include <functional>
#include <memory>

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
            auto c = backend->acquire();
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
        conn.SetSiteCode(QStringLiteral("101"));
        conn.SetUsername(QStringLiteral("001.zhang"));
        conn.SetPassword(QString::fromLatin1(server::kDemoPassword));
        host::CdbCommObj();
        host::setConnection(&conn);
        tally::DM_Func()->InitConn();
        tessera::setAppPath(dir.filePath(QStringLiteral("client")));
        host::setDialogPresenter(std::make_unique<host::ScriptedPresenter>());
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("上海浦东"));
        host::g_lstVars->setValue(QStringLiteral("LogOnFinanceType"), QStringLiteral("2"));
    }
    ~BenchServer()
    {
        host::setConnection(nullptr);
        tally::DM_Func()->cnServer = nullptr;
        http->stop();
    }
};

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
void markFirstThousand(tessera::TDBGridEh *grid)
{
    markFirst(grid, 1000);
}

// Every line of the month, whatever station: the fixed 操作网点 is freed for the figure.
template<class W> void wholeMonth(W *w)
{
    w->boxes.edtSite->setEnabled(true);
    w->boxes.edtSite->clear();
    const QDate today = QDate::currentDate();
    w->filters->dtB->setDate(QDate(today.year(), today.month(), 1));
}

void BM_BatchFeesOverThousandLines(benchmark::State &state)
{
    benchServer();
    std::unique_ptr<tally::TfcenAccEdt> w(tessera::createForm<tally::TfcenAccEdt>());
    w->resize(1200, 700);
    w->show();
    wholeMonth(w.get());
    w->executeAction(w->actQuery);
    if (w->cdsData->RecordCount() < 1000) {
        state.SkipWithError("fewer than 1000 lines");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w->cdsData->CancelUpdates();
        markFirstThousand(w->DBGridData);
        const double before = processCpuMs();
        state.ResumeTiming();
        w->CalcFees(true);
        cpu += processCpuMs() - before;
    }
    state.counters["process_cpu_ms"] = cpu / double(state.iterations());
    state.counters["fee_calls"] = 4000;
    state.counters["changed"] = w->cdsData->ChangeCount();
}
BENCHMARK(BM_BatchFeesOverThousandLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// 批带 over 5,000 lines of the month, as a clerk's month-end re-rating.
void BM_BatchFeesOverFiveThousandLines(benchmark::State &state)
{
    benchServer();
    std::unique_ptr<tally::TfcenAccEdt> w(tessera::createForm<tally::TfcenAccEdt>());
    w->resize(1200, 700);
    w->show();
    wholeMonth(w.get());
    w->executeAction(w->actQuery);
    if (w->cdsData->RecordCount() < 5000) {
        state.SkipWithError("fewer than 5000 lines");
        return;
    }
    int requests = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w->cdsData->CancelUpdates();
        markFirst(w->DBGridData, 5000);
        requests = w->calls().requests();
        const double before = processCpuMs();
        state.ResumeTiming();
        w->CalcFees(true);
        cpu += processCpuMs() - before;
    }
    state.counters["process_cpu_ms"] = cpu / double(state.iterations());
    state.counters["changed"] = w->cdsData->ChangeCount();
    state.counters["requests"] = w->calls().requests() - requests;
}
BENCHMARK(BM_BatchFeesOverFiveThousandLines)->Unit(benchmark::kMillisecond)->Iterations(2);

// 刷新 over 1,000 centre account lines: five steps each, three of them lookups.
void BM_RefreshOverThousandLines(benchmark::State &state)
{
    benchServer();
    std::unique_ptr<tally::TfcenAccEdt> w(tessera::createForm<tally::TfcenAccEdt>());
    w->resize(1200, 700);
    w->show();
    wholeMonth(w.get());
    w->executeAction(w->actQuery);
    w->cboPriorSite->setCurrentIndex(2);
    w->cboNextSite->setCurrentIndex(1);
    w->cboMdd->setCurrentIndex(1);
    w->cboFirstSite->setCurrentIndex(1);
    w->chkWeight->setChecked(true);
    for (auto _ : state) {
        state.PauseTiming();
        w->cdsData->CancelUpdates();
        markFirstThousand(w->DBGridData);
        state.ResumeTiming();
        w->sbRefreshClick();
    }
    state.counters["lookups"] = 3000;
    state.counters["changed"] = w->cdsData->ChangeCount();
}
BENCHMARK(BM_RefreshOverThousandLines)->Unit(benchmark::kMillisecond)->Iterations(3);

// 算费 over 1,000 marked records of a pay-on-delivery or delivery-fee window (1,000 calls).
template<class W> void recordFeesOverThousand(benchmark::State &state)
{
    benchServer();
    std::unique_ptr<W> w(tessera::createForm<W>());
    w->resize(1200, 700);
    w->show();
    const QDate today = QDate::currentDate();
    w->filters->dtB->setDate(QDate(today.year(), today.month(), 1));
    w->executeAction(w->actQuery);
    if (w->cdsData->RecordCount() < 1000) {
        state.SkipWithError("fewer than 1000 records");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        w->cdsData->CancelUpdates();
        markFirstThousand(w->DBGridData);
        state.ResumeTiming();
        w->actCalcExecute();
    }
    state.counters["changed"] = w->cdsData->ChangeCount();
}
void BM_DfkFeesOverThousandRecords(benchmark::State &state)
{
    recordFeesOverThousand<tally::TfDFKEdt>(state);
}
BENCHMARK(BM_DfkFeesOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
void BM_DfpfFeesOverThousandRecords(benchmark::State &state)
{
    recordFeesOverThousand<tally::TfDFPFEdt>(state);
}
BENCHMARK(BM_DfpfFeesOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

// 刷新 over 1,000 marked records: the pay-on-delivery signing site from the server (one
// lookup each), the delivery fee's destination, sending site and weight (three each).
template<class W> void recordRefreshOverThousand(benchmark::State &state, const std::function<void(W *)> &options)
{
    benchServer();
    std::unique_ptr<W> w(tessera::createForm<W>());
    w->resize(1200, 700);
    w->show();
    const QDate today = QDate::currentDate();
    w->filters->dtB->setDate(QDate(today.year(), today.month(), 1));
    w->executeAction(w->actQuery);
    if (w->cdsData->RecordCount() < 1000) {
        state.SkipWithError("fewer than 1000 records");
        return;
    }
    options(w.get());
    for (auto _ : state) {
        state.PauseTiming();
        w->cdsData->CancelUpdates();
        markFirstThousand(w->DBGridData);
        state.ResumeTiming();
        w->sbRefreshClick();
    }
    state.counters["changed"] = w->cdsData->ChangeCount();
}
void BM_DfkRefreshOverThousandRecords(benchmark::State &state)
{
    recordRefreshOverThousand<tally::TfDFKEdt>(state, [](tally::TfDFKEdt *w) { w->chkGet->setChecked(true); });
}
BENCHMARK(BM_DfkRefreshOverThousandRecords)->Unit(benchmark::kMillisecond)->Iterations(3);
void BM_DfpfRefreshOverThousandRecords(benchmark::State &state)
{
    recordRefreshOverThousand<tally::TfDFPFEdt>(state, [](tally::TfDFPFEdt *w) {
        w->cboMdd->setCurrentIndex(1);
        w->cboFirstSite->setCurrentIndex(2);
        w->cboWeight->setCurrentIndex(2);
    });
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
    for (auto _ : state)
        benchmark::DoNotOptimize(w->CalcFee(QStringLiteral("中转费")));
    state.counters["process_cpu_us"] = (processCpuMs() - before) * 1000.0 / double(state.iterations());
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
    return 0;
}
