// The data grid over 100,000 rows: binding and first paint, sorting by a column, applying
// a filter, footer sums.
#include "baseforms/dbgrideh.h"
#include "baseforms/uiconfig.h"
#include "bench/baseforms/benchdata.h"

#include <QPixmap>

using quillon::FieldType;

namespace {

constexpr int kRows = 100000;

quillon::TMyDataSet &bigDataSet()
{
    static const char *const sites[] = {"总部",     "北京分拨中心", "上海浦东", "广州白云",
                                        "深圳南山", "杭州西湖",     "成都武侯", "武汉江汉"};
    static quillon::TMyDataSet *ds = bench::generatedDataSet(
        {{QStringLiteral("BILLCODE"), FieldType::String, 14},
         {QStringLiteral("SENDSITE"), FieldType::String, 20},
         {QStringLiteral("DESTSITE"), FieldType::String, 20},
         {QStringLiteral("PIECES"), FieldType::Integer},
         {QStringLiteral("WEIGHT"), FieldType::Float},
         {QStringLiteral("FREIGHT"), FieldType::Float},
         {QStringLiteral("SENDDATE"), FieldType::DateTime},
         {QStringLiteral("REMARK"), FieldType::String, 40}},
        kRows, 7, [](int i, QRandomGenerator &rng) -> QVariantList {
            static const QDateTime start(QDate(2026, 1, 1), QTime(0, 0));
            return {QStringLiteral("88%1").arg(rng.bounded(100000000), 10, 10, QLatin1Char('0')),
                    QString::fromUtf8(sites[rng.bounded(8)]), QString::fromUtf8(sites[rng.bounded(8)]),
                    int(rng.bounded(9)) + 1, rng.bounded(5000) / 100.0, rng.bounded(20000) / 100.0,
                    start.addSecs(qint64(i) * 300), QStringLiteral("备注 %1").arg(i)};
        });
    return *ds;
}

struct Bound
{
    Bound()
    {
        source.setDataSet(&bigDataSet());
        grid.setDataSource(&source);
        grid.applyStandardStyle(tessera::UIConfig());
        grid.resize(1200, 700);
    }
    tessera::TDataSource source;
    tessera::TDBGridEh grid;
};

void BM_BindAndFirstPaint(benchmark::State &state)
{
    bigDataSet();
    for (auto _ : state) {
        Bound b;
        QPixmap pm = b.grid.grab();
        benchmark::DoNotOptimize(pm);
    }
}
BENCHMARK(BM_BindAndFirstPaint)->Unit(benchmark::kMillisecond);

void BM_SortByColumn(benchmark::State &state)
{
    Bound b;
    const int column = int(state.range(0));
    bool desc = false;
    for (auto _ : state) {
        b.grid.sortByColumn(column, desc ? Qt::DescendingOrder : Qt::AscendingOrder);
        desc = !desc;
    }
    state.SetLabel(b.grid.Columns()[column]->FieldName.toStdString());
}
BENCHMARK(BM_SortByColumn)->Arg(0)->Arg(1)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_ApplyFilter(benchmark::State &state)
{
    Bound b;
    for (auto _ : state) {
        b.grid.setFilterText(1, QStringLiteral("北京"));
        b.grid.setFilterText(1, QString());
    }
    state.counters["rowsPerFilter"] = kRows;
}
BENCHMARK(BM_ApplyFilter)->Unit(benchmark::kMillisecond);

void BM_FooterSums(benchmark::State &state)
{
    Bound b;
    for (auto _ : state) {
        b.grid.recalcFooter();
        for (int c = 0; c < b.grid.Columns().size(); ++c)
            benchmark::DoNotOptimize(b.grid.footerText(c));
    }
}
BENCHMARK(BM_FooterSums)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
