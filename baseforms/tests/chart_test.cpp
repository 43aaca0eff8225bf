// 图表 over a grid, column sizing and printing the grid's rows: what the chart adds up
// equals what the grid's footer shows over the same filter; columns fit their contents
// unless the user sized them; the report prints the rows as the grid shows them.
#include "baseforms/dbgrideh.h"
#include "baseforms/gridchart.h"
#include "baseforms/inifile.h"
#include "baseforms/report.h"
#include "host/dialogpresenter.h"
#include "testdata.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tessera;
using quillon::FieldType;

namespace {

class ChartTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ds = testdata::dataSet({{QStringLiteral("SITE"), FieldType::String, 20},
                                {QStringLiteral("GOODS"), FieldType::String, 20},
                                {QStringLiteral("WEIGHT"), FieldType::Float},
                                {QStringLiteral("PCS"), FieldType::Integer},
                                {QStringLiteral("SUBJECT"), FieldType::String, 200}},
                               {
                                   {QStringLiteral("上海浦东"), QStringLiteral("文件"), 1.5, 1, QStringLiteral("短")},
                                   {QStringLiteral("北京朝阳"), QStringLiteral("生鲜"), 2.25, 2, QString()},
                                   {QStringLiteral("上海浦东"), QStringLiteral("生鲜"), 4.0, 3, QString()},
                                   {QString(), QStringLiteral("文件"), 0.5, 1, QString()},
                                   {QStringLiteral("北京朝阳"), QStringLiteral("服装"), 10.0, 5,
                                    QStringLiteral("各网点：请按时完成第十二期对账工作并于本周五前上报差异明细")},
                               });
        source.setDataSet(ds.get());
        grid.setDataSource(&source);
        grid.setFooterRowCount(1);
        grid.setSumListActive(true);
        grid.setFilterRowVisible(true);
        grid.resize(800, 300);
    }
    std::unique_ptr<quillon::TMyDataSet> ds;
    TDataSource source;
    TDBGridEh grid;
};

double total(const QList<ChartGroup> &groups)
{
    double t = 0;
    for (const ChartGroup &g : groups)
        t += g.value;
    return t;
}

} // namespace

TEST_F(ChartTest, GroupsAddUpToTheFooterOverTheSameFilter)
{
    // Unfiltered, then with the filter row narrowing the goods to 生鲜 and 文件.
    for (const QString &filter : {QString(), QStringLiteral("文件")}) {
        grid.setFilterText(1, filter);
        const QList<ChartGroup> weight = chartGroups(&grid, 0, 2);
        EXPECT_DOUBLE_EQ(total(weight), grid.footerSum(2)) << filter.toStdString();
        const QList<ChartGroup> pieces = chartGroups(&grid, 0, 3);
        EXPECT_DOUBLE_EQ(total(pieces), grid.footerSum(3));
        const QList<ChartGroup> rows = chartGroups(&grid, 0, -1);
        EXPECT_EQ(int(total(rows)), grid.visibleRowCount());
    }
    grid.setFilterText(1, QString());
    const QList<ChartGroup> bySite = chartGroups(&grid, 0, 2);
    ASSERT_EQ(bySite.size(), 3);
    EXPECT_EQ(bySite[0].label, QStringLiteral("北京朝阳")); // largest first
    EXPECT_DOUBLE_EQ(bySite[0].value, 12.25);
    EXPECT_EQ(bySite[0].rows, 2);
    EXPECT_EQ(bySite[2].label, QStringLiteral("（空）")) << "empty cells form a group of their own";

    const QList<ChartGroup> folded = foldSmallGroups(bySite, 2);
    ASSERT_EQ(folded.size(), 2);
    EXPECT_EQ(folded[1].label, QStringLiteral("其他"));
    EXPECT_DOUBLE_EQ(total(folded), total(bySite));
}

TEST_F(ChartTest, DialogOffersTextColumnsToGroupAndNumbersToAddAndSavesAPng)
{
    EXPECT_EQ(groupingColumns(&grid), (QList<int>{0, 1, 4}));
    EXPECT_EQ(numericColumns(&grid), (QList<int>{2, 3}));
    grid.Columns()[3]->Checkboxes = true; // a mark is not an amount
    EXPECT_EQ(numericColumns(&grid), (QList<int>{2}));
    grid.Columns()[3]->Checkboxes = false;
    TfChart chart(&grid, QStringLiteral("测试"));
    EXPECT_EQ(chart.valueColumn(), 2) << "a numeric column says more than a count";
    chart.choose(1, -1, TfChart::Kind::Pie);
    ASSERT_EQ(chart.groups().size(), 3);
    EXPECT_EQ(chart.groups()[0].label, QStringLiteral("文件"));
    EXPECT_DOUBLE_EQ(chart.groups()[0].value, 2);
    chart.resize(640, 480);
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("chart.png"));
    EXPECT_TRUE(chart.savePng(png));
    EXPECT_GT(QFileInfo(png).size(), 1000);
    EXPECT_FALSE(chart.savePng(dir.filePath(QStringLiteral("no/such/dir/chart.png"))));
}

TEST_F(ChartTest, ColumnsFitTheirContentsUnlessTheUserSizedThem)
{
    // As the windows do: columns of their own with a designed width.
    grid.clearColumns();
    for (const char *f : {"SITE", "GOODS", "WEIGHT", "PCS", "SUBJECT"})
        grid.addColumn(QString::fromLatin1(f), QString::fromLatin1(f), 80);
    source.setDataSet(nullptr);
    source.setDataSet(ds.get());
    const QFontMetrics fm(grid.view()->font());
    const int subject = grid.view()->columnWidth(4);
    EXPECT_GE(subject, std::min(420, fm.horizontalAdvance(grid.cellText(4, 4))))
        << "a long subject is not cut off";
    EXPECT_LE(subject, 420) << "but a column never grows past the cap";
    EXPECT_LT(grid.view()->columnWidth(3), 120) << "a small number stays narrow";

    // A width the user drags is kept when new data arrives and is the only one saved.
    grid.view()->horizontalHeader()->resizeSection(0, 222);
    source.setDataSet(nullptr);
    source.setDataSet(ds.get());
    EXPECT_EQ(grid.view()->columnWidth(0), 222);
    IniFile ini;
    grid.SaveColumnsLayout(ini, QStringLiteral("g"));
    EXPECT_EQ(ini.value(QStringLiteral("g"), QStringLiteral("SITE.Width")), QStringLiteral("222"));
    EXPECT_TRUE(ini.value(QStringLiteral("g"), QStringLiteral("SUBJECT.Width")).isEmpty())
        << "a fitted width is not frozen into the layout file";
}

TEST_F(ChartTest, ReportPrintsTheRowsInTheOrderGiven)
{
    TfrxReport report;
    ASSERT_TRUE(report.loadFromText(QStringLiteral(
        "[Report]\nTitle=T\n[Columns]\nColumn1=SITE;网点;30\nColumn2=WEIGHT;重量;20;Sum\n")));
    report.setDataSource(&source);
    grid.setFilterText(1, QStringLiteral("生鲜"));
    QList<int> rows;
    for (int r = 0; r < grid.visibleRowCount(); ++r)
        rows << grid.sourceRow(r);
    report.setRowOrder(rows);
    const QString html = report.toHtml();
    EXPECT_EQ(html.count(QStringLiteral("<tr>")), 1 + 2 + 1) << "header, two rows, totals";
    EXPECT_TRUE(html.contains(QStringLiteral("6.25"))) << "the total is over the rows printed";
    EXPECT_FALSE(html.contains(QStringLiteral("服装")));
    report.setRowOrder({99, -1});
    EXPECT_EQ(report.toHtml().count(QStringLiteral("<tr>")), 2) << "rows that do not exist are skipped";
}
