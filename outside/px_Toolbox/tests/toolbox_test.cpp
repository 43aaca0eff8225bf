#include "baseforms/dbgrideh.h"
#include "baseforms/uiconfig.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "lookupchooser.h"
#include "gridexport.h"
#include "toolbox.h"

#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using quillon::FieldType;

namespace {

std::unique_ptr<quillon::TMyDataSet> sites()
{
    auto ds = std::make_unique<quillon::TMyDataSet>();
    quillon::DataPacket p;
    p.fields = {{QStringLiteral("SITECODE"), FieldType::String, 10},
                {QStringLiteral("SITENAME"), FieldType::String, 20},
                {QStringLiteral("BELONGSITE"), FieldType::String, 20},
                {QStringLiteral("PIECES"), FieldType::Integer},
                {QStringLiteral("WEIGHT"), FieldType::Float}};
    p.rows = {{QStringLiteral("001"), QStringLiteral("总部"), QString(), 10, 1.5},
              {QStringLiteral("002"), QStringLiteral("北京"), QStringLiteral("总部"), 20, 2.25},
              {QStringLiteral("003"), QStringLiteral("上海"), QStringLiteral("总部"), 30, 4.0}};
    ds->SetData(std::move(p));
    return ds;
}

QString unzipEntry(const QString &file, const QString &entry)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), file, entry});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The shared strings in the order they were first written.
QStringList sharedStrings(const QString &file)
{
    const QString xml = unzipEntry(file, QStringLiteral("xl/sharedStrings.xml"));
    QStringList out;
    static const QRegularExpression t(QStringLiteral("<t[^>]*>([^<]*)</t>"));
    for (auto it = t.globalMatch(xml); it.hasNext();)
        out << it.next().captured(1);
    return out;
}

class ToolboxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        ds = sites();
        source.setDataSet(ds.get());
        grid.setDataSource(&source);
        grid.columnByField(QStringLiteral("SITECODE"))->TitleCaption = QStringLiteral("编码");
        grid.columnByField(QStringLiteral("SITENAME"))->TitleCaption = QStringLiteral("名称");
        grid.applyStandardStyle(tessera::UIConfig());
    }
    void TearDown() override
    {
        host::setDialogPresenter(nullptr);
        for (const char *n : {"Grid", "Title", "ExcelFile", "ShowFlag", "ReturnData"})
            host::g_lstVars->remove(QString::fromLatin1(n));
    }
    QStringList exportLines(const QString &file) const
    {
        return {QStringLiteral("Grid=%1").arg(quintptr(&grid)), QStringLiteral("Title=网点-汇总"),
                QStringLiteral("ExcelFile=") + file, QStringLiteral("ShowFlag=False")};
    }
    QTemporaryDir dir;
    host::ScriptedPresenter *presenter = nullptr;
    std::unique_ptr<quillon::TMyDataSet> ds;
    tessera::TDataSource source;
    tessera::TDBGridEh grid;
};

} // namespace

TEST_F(ToolboxTest, ExportWritesTheGridAsShownAndReadsBack)
{
    grid.setFilterText(2, QStringLiteral("总部"));      // 北京 and 上海
    grid.sortByColumn(3, Qt::DescendingOrder);          // 上海 first
    grid.view()->hideColumn(2);                         // BELONGSITE not exported
    grid.view()->horizontalHeader()->moveSection(1, 0); // name before code
    const QString file = dir.filePath(QStringLiteral("out.xlsx"));

    toolbox::execute(QStringLiteral("px_Toolbox.GridEhToExcel"),
                     toolbox::Params(exportLines(file)));

    ASSERT_TRUE(QFile::exists(file));
    EXPECT_EQ(
        sharedStrings(file),
        (QStringList{QStringLiteral("网点-汇总"), QStringLiteral("名称"), QStringLiteral("编码"),
                     QStringLiteral("PIECES"), QStringLiteral("WEIGHT"), QStringLiteral("上海"),
                     QStringLiteral("003"), QStringLiteral("北京"), QStringLiteral("002")}));
    const QString sheet = unzipEntry(file, QStringLiteral("xl/worksheets/sheet1.xml"));
    // Numbers stay numbers: pieces and weight of 上海, 北京, then the footer sums.
    QStringList numbers;
    static const QRegularExpression v(QStringLiteral("<c r=\"([A-Z]+\\d+)\"[^>]*><v>([^<]*)</v>"));
    for (auto it = v.globalMatch(sheet); it.hasNext();) {
        const auto m = it.next();
        if (!sheet.mid(m.capturedStart(), m.capturedLength()).contains(QStringLiteral("t=\"s\"")))
            numbers << m.captured(1) + QLatin1Char('=') + m.captured(2);
    }
    EXPECT_EQ(numbers, (QStringList{QStringLiteral("C3=30"), QStringLiteral("D3=4"),
                                    QStringLiteral("C4=20"), QStringLiteral("D4=2.25"),
                                    QStringLiteral("C5=50"), QStringLiteral("D5=6.25")}));
    EXPECT_FALSE(sheet.contains(QStringLiteral("E1"))) << "hidden column left out";
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(ToolboxTest, ExportAsksForTheFileWhenNoneIsGiven)
{
    QStringList lines = exportLines(QString());
    lines.last() = QStringLiteral("ShowFlag=True");
    toolbox::execute(QStringLiteral("GridEhToExcel"), toolbox::Params(lines)); // cancelled
    EXPECT_TRUE(presenter->shown.isEmpty());

    presenter->files = {dir.filePath(QStringLiteral("chosen"))};
    toolbox::execute(QStringLiteral("GridEhToExcel"), toolbox::Params(lines));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("chosen.xlsx"))));
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_TRUE(presenter->shown[0].text.contains(QStringLiteral("chosen.xlsx")));
}

TEST_F(ToolboxTest, ExportThroughTheHostLoadsTheModuleByName)
{
    const QString file = dir.filePath(QStringLiteral("viahost.xlsx"));
    host::ModuleService::instance().CallFunc(QStringLiteral("px_Toolbox.GridEhToExcel"), 0,
                                             exportLines(file));
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_TRUE(sharedStrings(file).contains(QStringLiteral("总部")));
    EXPECT_THROW(host::ModuleService::instance().CallFunc(QStringLiteral("px_Toolbox.fNoSuch")),
                 host::UserError);
}

TEST_F(ToolboxTest, LookupReturnsCodesOrNamesOrCancel)
{
    const struct
    {
        QStringList lines;
        std::function<void(toolbox::LookupChooser *)> user;
        int result;
        QString expected;
    } cases[] = {
        // Multiple choice, names back, preselected 北京 plus 上海 ticked by the user.
        {{QStringLiteral("DlgFlag=1"), QStringLiteral("DlgReturn=1"),
          QStringLiteral("DlgSelText=北京")},
         [](toolbox::LookupChooser *d) { d->choose(QStringLiteral("003")); },
         QDialog::Accepted,
         QStringLiteral("北京,上海")},
        // Multiple choice, codes back, the search narrows what "all" ticks.
        {{QStringLiteral("DlgFlag=1"), QStringLiteral("DlgReturn=0")},
         [](toolbox::LookupChooser *d) {
             d->setSearchText(QStringLiteral("总部"));
             EXPECT_EQ(d->visibleRowCount(), 3);
             d->setSearchText(QStringLiteral("北"));
             d->chooseAllVisible(true);
         },
         QDialog::Accepted,
         QStringLiteral("002")},
        // Single choice.
        {{QStringLiteral("DlgFlag=0"), QStringLiteral("DlgReturn=0")},
         [](toolbox::LookupChooser *d) { d->choose(QStringLiteral("上海")); },
         QDialog::Accepted,
         QStringLiteral("003")},
        {{QStringLiteral("DlgFlag=1")}, nullptr, QDialog::Rejected, QStringLiteral("CANCEL")},
    };
    for (const auto &c : cases) {
        QStringList lines = c.lines;
        lines << QStringLiteral("DlgCode=SiteCode") << QStringLiteral("DlgName=SiteName")
              << QStringLiteral("DlgBelong=BELONGSITE") << QStringLiteral("DlgCaption=请选择");
        presenter->dialogResults = {c.result};
        presenter->onDialog = [&](QWidget *w) {
            auto *d = qobject_cast<toolbox::LookupChooser *>(w);
            ASSERT_TRUE(d);
            EXPECT_EQ(d->windowTitle(), QStringLiteral("请选择"));
            if (c.user)
                c.user(d);
        };
        EXPECT_EQ(toolbox::lookupOver(ds.get(), toolbox::Params(lines)), c.expected)
            << c.lines.join(QLatin1Char(' ')).toStdString();
    }
}

TEST_F(ToolboxTest, FileUploadAppendsTheRowsOfTheChosenFile)
{
    const QString csv = dir.filePath(QStringLiteral("up.csv"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("编码,名称,PIECES\n004,广州,7\n\n005,深圳,x8\n");
    f.close();
    presenter->files = {csv};
    const QStringList lines{QStringLiteral("DataGrid=%1").arg(quintptr(&grid)),
                            QStringLiteral("TableName=")};
    // A value the field refuses stops the upload with its message; nothing is half-added.
    EXPECT_THROW(toolbox::execute(QStringLiteral("fFileUpload"), toolbox::Params(lines)),
                 host::UserError);
    EXPECT_EQ(ds->State(), quillon::DataSetState::Browse);
    EXPECT_EQ(ds->RecordCount(), 3);
    EXPECT_EQ(ds->ChangeCount(), 0);

    QFile g(csv);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("编码,名称,PIECES\n004,广州,7\n005,深圳,8\n");
    g.close();
    const int before = ds->RecordCount();
    presenter->files = {csv};
    toolbox::execute(QStringLiteral("fFileUpload"), toolbox::Params(lines));
    ASSERT_EQ(ds->RecordCount(), before + 2);
    EXPECT_TRUE(ds->Locate(QStringLiteral("SITECODE"), QStringLiteral("005")));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("SITENAME"))->AsString(), QStringLiteral("深圳"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("PIECES"))->AsInteger(), 8);
}

// Amounts leave with their column's two decimals (a float sum like 60758.60999999979 is
// 60758.61 in the sheet too) and dates as dates (serial numbers with a date style), not
// as texts a spreadsheet cannot sort or compute with.
TEST(GridExport, AmountsAreRoundedAndDatesAreDateCells)
{
    auto ds = std::make_unique<quillon::TMyDataSet>();
    quillon::DataPacket p;
    p.fields = {{QStringLiteral("BILLCODE"), FieldType::String, 10},
                {QStringLiteral("MONEY"), FieldType::Float},
                {QStringLiteral("CREATETIME"), FieldType::DateTime}};
    const QDateTime t(QDate(2026, 12, 8), QTime(9, 30, 0));
    p.rows = {{QStringLiteral("B1"), 60000.1, t},
              {QStringLiteral("B2"), 758.50999999979, t.addDays(1)},
              {QStringLiteral("B3"), 0.000000001, t.addDays(2)}};
    ds->SetData(std::move(p));
    tessera::TDataSource source;
    source.setDataSet(ds.get());
    tessera::TDBGridEh grid;
    grid.setDataSource(&source);
    grid.applyStandardStyle(tessera::UIConfig()); // sums in the footer
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("amounts.xlsx"));
    toolbox::writeGridToXlsx(&grid, file, QString(), QString());
    const QString sheet = unzipEntry(file, QStringLiteral("xl/worksheets/sheet1.xml"));
    static const QRegularExpression v(QStringLiteral("<c r=\"([A-Z]+)(\\d+)\"([^>]*)><v>([^<]*)</v>"));
    QStringList money, dates;
    for (auto it = v.globalMatch(sheet); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(2) == QLatin1String("1"))
            continue; // the titles
        if (m.captured(1) == QLatin1String("B"))
            money << m.captured(4);
        if (m.captured(1) == QLatin1String("C")) {
            EXPECT_FALSE(m.captured(3).contains(QStringLiteral("t=\"s\""))) << "a date as text";
            dates << m.captured(4);
        }
    }
    EXPECT_EQ(money, (QStringList{QStringLiteral("60000.1"), QStringLiteral("758.51"),
                                  QStringLiteral("0"), QStringLiteral("60758.61")}));
    ASSERT_EQ(dates.size(), 3);
    // 2026-12-08 09:30 is day 46364 of the spreadsheet calendar, plus 0.3958 of a day.
    EXPECT_NEAR(dates[0].toDouble(), 46364.3958, 0.001);
    const QString styles = unzipEntry(file, QStringLiteral("xl/styles.xml"));
    EXPECT_TRUE(styles.contains(QStringLiteral("yyyy-mm-dd hh:mm:ss"))) << qPrintable(styles.left(400));
}
