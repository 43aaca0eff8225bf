// The print preview of a long list: time until the first page is on the screen, paging
// deep into the report, and the whole report as a PDF; 10,000 rows of nine columns.
#include "baseforms/report.h"
#include "baseforms/reportpreview.h"
#include "bench/baseforms/benchdata.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

using quillon::FieldType;

namespace {

constexpr int kRows = 10000;

const char kDefinition[] = R"([Report]
Title=到付款清单
Footer=制表 [Time]
[Columns]
1=BILLCODE;运单编号;30
2=FIRSTSITE;寄件网点;25
3=DEST;目的地;20
4=WEIGHT;重量;15;sum
5=MONEY;到付款;18;sum
6=JZPAYCHARGE;寄站应付手续费;22;sum
7=SIGNSITE;签收网点;25
8=CREATETIME;建立时间;32
9=REMARK;备注;40
)";

quillon::TMyDataSet &rows()
{
    static quillon::TMyDataSet *ds = bench::generatedDataSet(
        {{QStringLiteral("BILLCODE"), FieldType::String, 14},
         {QStringLiteral("FIRSTSITE"), FieldType::String, 20},
         {QStringLiteral("DEST"), FieldType::String, 20},
         {QStringLiteral("WEIGHT"), FieldType::Float},
         {QStringLiteral("MONEY"), FieldType::Float},
         {QStringLiteral("JZPAYCHARGE"), FieldType::Float},
         {QStringLiteral("SIGNSITE"), FieldType::String, 20},
         {QStringLiteral("CREATETIME"), FieldType::DateTime},
         {QStringLiteral("REMARK"), FieldType::String, 200}},
        kRows, 3, [](int i, QRandomGenerator &rng) -> QVariantList {
            static const QDateTime start(QDate(2026, 11, 1), QTime(8, 0));
            return {QStringLiteral("8800%1").arg(i, 8, 10, QLatin1Char('0')),
                    QStringLiteral("上海浦东"), QStringLiteral("北京朝阳"),
                    rng.bounded(5000) / 100.0, rng.bounded(100000) / 100.0,
                    rng.bounded(1000) / 100.0, QStringLiteral("北京朝阳"),
                    start.addSecs(qint64(i) * 60), QStringLiteral("已核对")};
        });
    return *ds;
}

struct Fixture
{
    Fixture()
    {
        source.setDataSet(&rows());
        report.loadFromText(QString::fromUtf8(kDefinition));
        report.setDataSource(&source);
    }
    tessera::TDataSource source;
    tessera::TfrxReport report;
};

// What the clerk waits for after Ctrl+P: the preview made and its first page drawn; then
// whether the program stays responsive: the longest wait of a 10 ms timer while the
// preview is up and paged through for 300 ms (longest_stall_ms; a program that answers
// keeps it near 10).
void BM_PreviewFirstPageOf10000Rows(benchmark::State &state)
{
    Fixture f;
    double stall = 0;
    for (auto _ : state) {
        tessera::ReportPreview preview(&f.report);
        preview.resize(1000, 700);
        preview.show();
        QImage shot = preview.grab().toImage();
        benchmark::DoNotOptimize(shot.bits());
        state.PauseTiming();
        QElapsedTimer since;
        since.start();
        qint64 last = 0;
        int page = 0;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = since.elapsed();
            stall = std::max(stall, double(now - last));
            last = now;
            preview.showPage(page += 97); // deep into the report, as a clerk pages
        });
        tick.start();
        while (since.elapsed() < 300)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        tick.stop();
        preview.hide();
        state.ResumeTiming();
    }
    state.counters["pages"] = f.report.pageCount();
    state.counters["longest_stall_ms"] = stall;
}
BENCHMARK(BM_PreviewFirstPageOf10000Rows)->Unit(benchmark::kMillisecond);

// Paging to the last page (its totals) costs no more than any other page.
void BM_PaintLastPage(benchmark::State &state)
{
    Fixture f;
    QImage page(595 * 2, 842 * 2, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&page);
        p.scale(2, 2);
        f.report.paintPage(p, f.report.pageCount() - 1);
    }
}
BENCHMARK(BM_PaintLastPage)->Unit(benchmark::kMillisecond);

// Every page into a PDF (what 导出PDF and printing do, with progress and 停止).
void BM_WholeReportAsPdf(benchmark::State &state)
{
    Fixture f;
    QTemporaryDir dir;
    for (auto _ : state)
        benchmark::DoNotOptimize(f.report.exportToPdf(dir.filePath(QStringLiteral("r.pdf"))));
}
BENCHMARK(BM_WholeReportAsPdf)->Unit(benchmark::kMillisecond)->Iterations(1);

// The former way for comparison: the whole report laid out as one rich-text document
// before the preview could show anything (over the first N rows: all 10,000 take minutes).
void BM_OldWholeDocumentLayout(benchmark::State &state)
{
    Fixture f;
    QList<int> first;
    for (int i = 0; i < state.range(0); ++i)
        first << i;
    f.report.setRowOrder(first);
    for (auto _ : state) {
        QTextDocument doc;
        doc.setHtml(f.report.toHtml());
        benchmark::DoNotOptimize(doc.pageCount());
    }
}
BENCHMARK(BM_OldWholeDocumentLayout)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
