#include "baseforms/dbcontrols.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/inifile.h"
#include "baseforms/uiconfig.h"
#include "testdata.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace tessera;
using quillon::FieldType;

namespace {

class GridTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ds = testdata::dataSet({{QStringLiteral("BILLCODE"), FieldType::String, 12},
                                {QStringLiteral("PIECES"), FieldType::Integer},
                                {QStringLiteral("WEIGHT"), FieldType::Float},
                                {QStringLiteral("SMALLQTY"), FieldType::SmallInt},
                                {QStringLiteral("FEE"), FieldType::Currency},
                                {QStringLiteral("SITE"), FieldType::String, 20},
                                {QStringLiteral("SIGNED"), FieldType::String, 1}},
                               {
                                   {QStringLiteral("B003"), 3, 1.5, 1, 10.0, QStringLiteral("总部"),
                                    QStringLiteral("1")},
                                   {QStringLiteral("A001"), 1, 2.25, 2, 20.0,
                                    QStringLiteral("北京"), QStringLiteral("0")},
                                   {QStringLiteral("C002"), 5, 0.25, 3, 30.0,
                                    QStringLiteral("北京东"), QStringLiteral("0")},
                               });
        source.setDataSet(ds.get());
        grid.setDataSource(&source);
        grid.resize(600, 300);
    }
    // The column values as shown, top to bottom.
    QStringList shown(int column) const
    {
        QStringList out;
        for (int r = 0; r < grid.visibleRowCount(); ++r)
            out << grid.cellText(r, column);
        return out;
    }
    std::unique_ptr<quillon::TMyDataSet> ds;
    TDataSource source;
    TDBGridEh grid;
};

} // namespace

TEST_F(GridTest, ModelPassesTheItemModelChecks)
{
    QAbstractItemModelTester tester(grid.gridModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    grid.sortByColumn(1, Qt::DescendingOrder);
    grid.setFilterText(5, QStringLiteral("北京"));
    ds->Append();
    ds->FieldByName(QStringLiteral("BILLCODE"))->SetAsString(QStringLiteral("D004"));
    ds->Post();
    EXPECT_EQ(grid.Columns().size(), 7);
}

TEST_F(GridTest, FooterSumsOnlyIntegerAndFloatColumnsFromTheSecondOn)
{
    // The first column is an integer here, so it must get no sum.
    grid.clearColumns();
    grid.addColumn(QStringLiteral("PIECES"), QStringLiteral("件数"));
    grid.addColumn(QStringLiteral("WEIGHT"), QStringLiteral("重量"));
    grid.addColumn(QStringLiteral("SMALLQTY"));
    grid.addColumn(QStringLiteral("FEE"));
    grid.addColumn(QStringLiteral("BILLCODE"));
    TColumnEh *pieces = grid.addColumn(QStringLiteral("PIECES"), QStringLiteral("件数2"));
    pieces->FooterType = FooterValueType::StaticText;
    pieces->FooterText = QStringLiteral("合计");
    grid.applyStandardStyle(UIConfig());

    EXPECT_EQ(grid.FooterRowCount(), 1);
    EXPECT_TRUE(grid.SumListActive());
    const QStringList expected{QString(), QStringLiteral("4.00"), QString(), QString(),
                               QString(), QStringLiteral("合计")};
    for (int c = 0; c < expected.size(); ++c)
        EXPECT_EQ(grid.footerText(c), expected[c]) << c;

    grid.Columns()[0]->FooterType = FooterValueType::Sum; // a designer may still ask for it
    EXPECT_EQ(grid.footerText(0), QStringLiteral("9"));
}

TEST_F(GridTest, GridWithoutDataSourceGetsColoursButNoFilterRowOrFooter)
{
    TDBGridEh bare;
    bare.applyStandardStyle(UIConfig());
    EXPECT_EQ(bare.FooterRowCount(), 0);
    EXPECT_FALSE(bare.FilterRowVisible());
    EXPECT_EQ(bare.EvenRowColor, colorFromBgr(UIConfig().DBGridEvenRowColor));
    EXPECT_EQ(bare.FixedColor, colorFromBgr(UIConfig().DBGridFixedColor));
    EXPECT_TRUE(bare.EnterAsTab());
}

TEST_F(GridTest, FilterRowFiltersOnTheClientAndSumsFollow)
{
    grid.applyStandardStyle(UIConfig());
    ASSERT_TRUE(grid.FilterRowVisible());
    const struct
    {
        int column;
        QString text;
        QStringList codes;
    } cases[] = {
        {5, QStringLiteral("北京"), {QStringLiteral("A001"), QStringLiteral("C002")}},
        {1, QStringLiteral(">=3"), {QStringLiteral("B003"), QStringLiteral("C002")}},
        {1, QStringLiteral("5"), {QStringLiteral("C002")}},
        {0, QStringLiteral("a0"), {QStringLiteral("A001")}},
        {0, QStringLiteral("=b003"), {QStringLiteral("B003")}},
        {2, QStringLiteral("<1"), {QStringLiteral("C002")}},
    };
    for (const auto &c : cases) {
        grid.clearFilter();
        grid.setFilterText(c.column, c.text);
        EXPECT_EQ(shown(0), c.codes) << c.text.toStdString();
    }
    grid.clearFilter();
    // Typing in the title's filter editor applies at once; the footer sums the rows shown.
    QLineEdit *editor = grid.filterEditor(5);
    ASSERT_TRUE(editor);
    for (const QChar ch : QStringLiteral("北京")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(editor, &press);
    }
    EXPECT_EQ(editor->text(), QStringLiteral("北京"));
    EXPECT_EQ(grid.visibleRowCount(), 2);
    EXPECT_EQ(grid.footerText(1), QStringLiteral("6"));
    EXPECT_EQ(ds->RecordCount(), 3) << "the dataset keeps its rows";
}

TEST_F(GridTest, TitleClicksSortOnTheClientWithoutMovingTheData)
{
    grid.show();
    QHeaderView *header = grid.view()->horizontalHeader();
    auto clickTitle = [&](int column) {
        const QPoint p(header->sectionViewportPosition(column) + 5, 5);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, p);
    };
    clickTitle(0);
    EXPECT_EQ(shown(0), (QStringList{QStringLiteral("A001"), QStringLiteral("B003"),
                                     QStringLiteral("C002")}));
    clickTitle(0);
    EXPECT_EQ(shown(0), (QStringList{QStringLiteral("C002"), QStringLiteral("B003"),
                                     QStringLiteral("A001")}));
    clickTitle(2);
    EXPECT_EQ(shown(2),
              (QStringList{QStringLiteral("0.25"), QStringLiteral("1.5"), QStringLiteral("2.25")}));
    EXPECT_EQ(ds->valueAt(0, 0).toString(), QStringLiteral("B003")) << "dataset order unchanged";

    // Moving in the sorted grid moves the dataset to the same record.
    grid.view()->setCurrentIndex(grid.gridModel()->index(2, 0));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("BILLCODE"))->AsString(), QStringLiteral("A001"));
    ds->First();
    EXPECT_EQ(grid.view()->currentIndex().row(), 1);
}

TEST_F(GridTest, MultiSelectionIsKeptAsBookmarks)
{
    grid.setMultiSelect(true);
    grid.sortByColumn(0, Qt::AscendingOrder); // A001, B003, C002
    grid.selectRow(0);
    grid.selectRow(2);
    const QList<QVariant> marks = grid.SelectedRows();
    ASSERT_EQ(marks.size(), 2);
    QStringList codes;
    for (const QVariant &m : marks) {
        ds->GotoBookmark(m.value<quillon::TBookmark>());
        codes << ds->FieldByName(QStringLiteral("BILLCODE"))->AsString();
    }
    EXPECT_EQ(codes, (QStringList{QStringLiteral("A001"), QStringLiteral("C002")}));
    grid.selectAllRows();
    EXPECT_EQ(grid.SelectedRows().size(), 3);
    grid.clearSelectedRows();
    EXPECT_TRUE(grid.SelectedRows().isEmpty());
}

TEST_F(GridTest, CheckBoxColumnEditingAndReadOnlyMode)
{
    TColumnEh *signedCol = grid.columnByField(QStringLiteral("SIGNED"));
    ASSERT_TRUE(signedCol);
    signedCol->Checkboxes = true;
    QAbstractItemModel *m = grid.gridModel();
    const int c = signedCol->index();
    EXPECT_EQ(m->data(m->index(0, c), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(m->data(m->index(1, c), Qt::CheckStateRole).toInt(), Qt::Unchecked);

    EXPECT_TRUE(m->setData(m->index(1, c), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("SIGNED"))->AsString(), QStringLiteral("1"));
    EXPECT_TRUE(m->setData(m->index(1, 1), 7, Qt::EditRole));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("PIECES"))->AsInteger(), 7);
    ds->Post();
    EXPECT_EQ(grid.footerText(1), QString()) << "no footer before the standard style";

    grid.setReadOnly(true);
    EXPECT_FALSE(m->setData(m->index(2, 1), 9, Qt::EditRole));
    EXPECT_FALSE(m->flags(m->index(2, 1)) & Qt::ItemIsEditable);
    EXPECT_EQ(ds->valueAt(2, 1).toInt(), 5);
}

TEST_F(GridTest, EnterActsAsTabInTheGrid)
{
    grid.applyStandardStyle(UIConfig());
    grid.view()->hideColumn(1);
    grid.show();
    grid.view()->setFocus();
    grid.view()->setCurrentIndex(grid.gridModel()->index(0, 0));
    QTest::keyClick(grid.view(), Qt::Key_Return);
    EXPECT_EQ(grid.view()->currentIndex().column(), 2) << "hidden columns are skipped";
    grid.view()->setCurrentIndex(grid.gridModel()->index(0, 6));
    QTest::keyClick(grid.view(), Qt::Key_Return);
    EXPECT_EQ(grid.view()->currentIndex(), grid.gridModel()->index(1, 0));
}

TEST_F(GridTest, ColumnLayoutRoundTripByFieldName)
{
    grid.view()->setColumnWidth(5, 150);
    grid.view()->horizontalHeader()->moveSection(5, 0);
    grid.columnByField(QStringLiteral("FEE"))->Visible = false;
    IniFile ini;
    grid.SaveColumnsLayout(ini, QStringLiteral("DBGridData"));

    TDataSource other;
    other.setDataSet(ds.get());
    TDBGridEh restored;
    restored.setDataSource(&other);
    restored.RestoreColumnsLayout(ini, QStringLiteral("DBGridData"));
    EXPECT_EQ(restored.view()->horizontalHeader()->logicalIndex(0), 5);
    EXPECT_EQ(restored.view()->columnWidth(5), 150);
    EXPECT_FALSE(restored.view()->isColumnHidden(4))
        << "the data form restores order and widths only";
    restored.RestoreColumnsLayout(ini, QStringLiteral("DBGridData"), false);
    EXPECT_TRUE(restored.view()->isColumnHidden(4));
}

TEST_F(GridTest, DataAwareEditsFollowAndWriteTheCurrentRecord)
{
    TDBEditEh edit;
    edit.setDataSource(&source);
    edit.setDataField(QStringLiteral("SITE"));
    TDBCheckBoxEh check;
    check.setDataSource(&source);
    check.setDataField(QStringLiteral("SIGNED"));
    ds->First();
    EXPECT_EQ(edit.text(), QStringLiteral("总部"));
    EXPECT_TRUE(check.isChecked());
    ds->Next();
    EXPECT_EQ(edit.text(), QStringLiteral("北京"));
    EXPECT_FALSE(check.isChecked());

    edit.setText(QStringLiteral("上海"));
    edit.updateRecord();
    EXPECT_EQ(ds->State(), quillon::DataSetState::Edit);
    ds->Post();
    EXPECT_EQ(ds->valueAt(1, 5).toString(), QStringLiteral("上海"));
    EXPECT_EQ(grid.cellText(1, 5), QStringLiteral("上海"));
}

TEST_F(GridTest, CtrlClickAddsSortKeysAndTheLayoutKeepsThem)
{
    grid.show();
    QHeaderView *header = grid.view()->horizontalHeader();
    auto clickTitle = [&](int column, Qt::KeyboardModifiers mods) {
        const QPoint p(header->sectionViewportPosition(column) + 5, 5);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, mods, p);
    };
    // Sites 北京 and 北京东 sort before 总部; within equal sites pieces decide.
    ds->Append();
    ds->FieldByName(QStringLiteral("BILLCODE"))->SetAsString(QStringLiteral("D004"));
    ds->FieldByName(QStringLiteral("PIECES"))->SetAsInteger(9);
    ds->FieldByName(QStringLiteral("SITE"))->SetAsString(QStringLiteral("北京"));
    ds->Post();
    clickTitle(5, Qt::NoModifier);
    clickTitle(1, Qt::ControlModifier);
    clickTitle(1, Qt::ControlModifier); // the second key turns round
    ASSERT_EQ(grid.sortKeys().size(), 2);
    EXPECT_EQ(shown(0), (QStringList{QStringLiteral("D004"), QStringLiteral("A001"),
                                     QStringLiteral("C002"), QStringLiteral("B003")}));
    IniFile ini;
    grid.SaveColumnsLayout(ini, QStringLiteral("g"));
    EXPECT_EQ(ini.value(QStringLiteral("g"), QStringLiteral("SortMarker")),
              QStringLiteral("SITE ASC;PIECES DESC"));
    clickTitle(0, Qt::NoModifier);
    EXPECT_EQ(grid.sortKeys().size(), 1) << "a plain click starts over";
}

TEST_F(GridTest, CopyGivesTheSelectedRowsAsShown)
{
    grid.setMultiSelect(true);
    grid.sortByColumn(0, Qt::AscendingOrder);
    grid.view()->hideColumn(2);
    grid.selectRow(0);
    grid.selectRow(1);
    EXPECT_EQ(grid.selectionText(),
              QStringLiteral("A001\t1\t2\t20\t北京\t0\nB003\t3\t1\t10\t总部\t1"));
    grid.clearSelectedRows();
    grid.view()->setCurrentIndex(grid.gridModel()->index(2, 5));
    grid.clearSelectedRows();
    EXPECT_EQ(grid.selectionText(), QStringLiteral("北京东"));
}

TEST_F(GridTest, FrozenFirstColumnSharesFilterAndSelection)
{
    grid.applyStandardStyle(UIConfig());
    grid.setFrozenCols(1);
    grid.show();
    QTableView *frozen = grid.frozenView();
    ASSERT_TRUE(frozen);
    EXPECT_FALSE(frozen->isColumnHidden(0));
    for (int c = 1; c < grid.Columns().size(); ++c)
        EXPECT_TRUE(frozen->isColumnHidden(c)) << c;
    EXPECT_EQ(frozen->selectionModel(), grid.view()->selectionModel());
    EXPECT_EQ(frozen->width(), grid.view()->columnWidth(0));

    grid.setFilterText(0, QStringLiteral("C"));
    EXPECT_EQ(grid.filterEditor(0)->text(), QStringLiteral("C"));
    EXPECT_EQ(grid.visibleRowCount(), 1);
    grid.setFrozenCols(0);
    EXPECT_EQ(grid.frozenView(), nullptr);
}

TEST_F(GridTest, EnterInACellEditorCommitsAndMovesOn)
{
    grid.applyStandardStyle(UIConfig());
    grid.show();
    QApplication::setActiveWindow(&grid);
    grid.view()->setFocus();
    const QModelIndex pieces = grid.gridModel()->index(0, 1);
    grid.view()->setCurrentIndex(pieces);
    grid.view()->edit(pieces);
    auto *editor = QApplication::focusWidget();
    ASSERT_TRUE(editor && editor != grid.view());
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, QStringLiteral("8"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(ds->valueAt(0, 1).toInt(), 8);
    EXPECT_EQ(grid.view()->currentIndex(), grid.gridModel()->index(0, 2));
}

TEST(GridOnClosedDataSet, ColumnsAndSumsFollowWhenTheDataSetOpensLater)
{
    quillon::TMyDataSet ds;
    TDataSource source;
    source.setDataSet(&ds);
    TDBGridEh grid;
    grid.setDataSource(&source);
    grid.applyStandardStyle(UIConfig());
    EXPECT_TRUE(grid.Columns().isEmpty());
    EXPECT_EQ(grid.FooterRowCount(), 1);

    quillon::DataPacket p;
    p.fields = {{QStringLiteral("CODE"), FieldType::String, 4},
                {QStringLiteral("FEE"), FieldType::Float}};
    p.rows = {{QStringLiteral("a"), 1.5}, {QStringLiteral("b"), 2.0}};
    ds.SetData(std::move(p));
    ASSERT_EQ(grid.Columns().size(), 2);
    EXPECT_EQ(grid.visibleRowCount(), 2);
    EXPECT_EQ(grid.footerText(1), QStringLiteral("3.50"));

    ds.Close();
    EXPECT_EQ(grid.visibleRowCount(), 0);
}

TEST_F(GridTest, MemoAndDateTimeEditWriteBackWhenTheUserLeavesThem)
{
    using quillon::FieldType;
    auto notes = testdata::dataSet({{QStringLiteral("REMARK"), FieldType::Memo},
                                    {QStringLiteral("SENDDATE"), FieldType::DateTime}},
                                   {{QStringLiteral("第一行"), QDateTime(QDate(2026, 12, 1), QTime(9, 30))}});
    TDataSource src;
    src.setDataSet(notes.get());
    QWidget host;
    auto *memo = new TDBMemo(&host);
    memo->setDataSource(&src);
    memo->setDataField(QStringLiteral("REMARK"));
    auto *when = new TDBDateTimeEditEh(&host);
    when->setDataSource(&src);
    when->setDataField(QStringLiteral("SENDDATE"));
    auto *other = new QLineEdit(&host);
    host.show();
    QApplication::setActiveWindow(&host);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("第一行"));
    EXPECT_EQ(when->dateTime(), QDateTime(QDate(2026, 12, 1), QTime(9, 30)));
    EXPECT_EQ(when->displayFormat(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));

    memo->setFocus();
    memo->setPlainText(QStringLiteral("第一行\n第二行"));
    other->setFocus();
    EXPECT_EQ(notes->valueAt(0, 0).toString(), QStringLiteral("第一行\n第二行"));

    when->setFocus();
    when->setDateTime(QDateTime(QDate(2026, 12, 2), QTime(10, 0)));
    other->setFocus();
    EXPECT_EQ(notes->valueAt(0, 1).toDateTime(), QDateTime(QDate(2026, 12, 2), QTime(10, 0)));
}

TEST_F(GridTest, ARecordWithoutADateShowsAnEmptyDateBoxAndPassingThroughKeepsItEmpty)
{
    using quillon::FieldType;
    auto rows = testdata::dataSet({{QStringLiteral("UTHEME"), FieldType::String, 20},
                                   {QStringLiteral("UTIME"), FieldType::DateTime}},
                                  {{QStringLiteral("无日期"), QVariant()},
                                   {QStringLiteral("有日期"), QDateTime(QDate(2026, 12, 1), QTime(9, 30))}});
    TDataSource src;
    src.setDataSet(rows.get());
    QWidget host;
    auto *when = new TDBDateTimeEditEh(&host);
    when->setDataSource(&src);
    when->setDataField(QStringLiteral("UTIME"));
    auto *other = new QLineEdit(&host);
    host.show();
    QApplication::setActiveWindow(&host);
    rows->First();
    EXPECT_EQ(when->text().trimmed(), QString());
    when->setFocus();
    other->setFocus();
    EXPECT_TRUE(rows->valueAt(0, 1).isNull());
    EXPECT_EQ(rows->ChangeCount(), 0);
    // The date of the next record shows; emptying the box (the lowest date) clears it.
    rows->Next();
    EXPECT_EQ(when->dateTime(), QDateTime(QDate(2026, 12, 1), QTime(9, 30)));
    when->setFocus();
    when->setDateTime(when->minimumDateTime());
    other->setFocus();
    EXPECT_TRUE(rows->valueAt(1, 1).isNull());
}

namespace {

// A grid of `rows` records with a bill code, an amount and a few wide text columns, shown in
// a window of the given size.
struct WideGrid
{
    WideGrid(int rows, QSize window)
    {
        QList<QVariantList> data;
        for (int i = 0; i < rows; ++i)
            data.append({QStringLiteral("B%1").arg(i, 6, 10, QLatin1Char('0')),
                         i == 0 ? 60000.0 : 329.29 / (rows - 1), QStringLiteral("上海浦东新区"),
                         QStringLiteral("北京朝阳区"), QStringLiteral("TAB_DFPFRECORD")});
        ds = testdata::dataSet({{QStringLiteral("BILLCODE"), FieldType::String, 12},
                                {QStringLiteral("MONEY"), FieldType::Float},
                                {QStringLiteral("SITE"), FieldType::String, 40},
                                {QStringLiteral("DEST"), FieldType::String, 40},
                                {QStringLiteral("NOTE"), FieldType::String, 40}},
                               data);
        source.setDataSet(ds.get());
        grid.setDataSource(&source);
        grid.clearColumns();
        grid.addColumn(QStringLiteral("BILLCODE"), QStringLiteral("运单编号"), 100);
        grid.addColumn(QStringLiteral("MONEY"), QStringLiteral("到付款"), 40)->FooterType =
            FooterValueType::Sum;
        for (const char *f : {"SITE", "DEST", "NOTE"})
            grid.addColumn(QString::fromLatin1(f), QString::fromLatin1(f), 400);
        grid.applyStandardStyle(UIConfig());
        grid.setFrozenCols(1);
        grid.resize(window);
        grid.show();
        settle();
    }
    static void settle()
    {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }
    QPoint cellCentre(int row, int column) const
    {
        return grid.view()->visualRect(grid.gridModel()->index(row, column)).center();
    }
    std::unique_ptr<quillon::TMyDataSet> ds;
    TDataSource source;
    TDBGridEh grid;
};

} // namespace

TEST(GridAtSmallScreen, FooterShowsTheWholeSumAt1024x768)
{
    WideGrid g(50, QSize(1024, 768));
    const QString full = QStringLiteral("60329.29");
    EXPECT_EQ(g.grid.footerText(1), full);
    auto *footer = g.grid.findChild<QWidget *>(QStringLiteral("footer"));
    ASSERT_TRUE(footer);
    footer->grab(); // a paint, as the screen does
    WideGrid::settle();
    // The column grew to hold every digit: nothing is cut on either side.
    EXPECT_GE(g.grid.view()->columnWidth(1), footer->fontMetrics().horizontalAdvance(full) + 6);
    // A larger total later widens it again.
    g.ds->First();
    g.ds->Edit();
    g.ds->FieldByName(QStringLiteral("MONEY"))->SetAsFloat(9876543.0);
    g.ds->Post();
    g.grid.recalcFooter();
    footer->grab();
    WideGrid::settle();
    const QString larger = g.grid.footerText(1);
    EXPECT_EQ(larger, QStringLiteral("9876872.29"));
    EXPECT_GE(g.grid.view()->columnWidth(1), footer->fontMetrics().horizontalAdvance(larger) + 6);
}

TEST(GridMarks, ACellClickMarksTheRecordAndLaterClicksKeepTheMarks)
{
    WideGrid g(20, QSize(1024, 600));
    g.grid.setMultiSelect(true);
    QWidget *cells = g.grid.view()->viewport();
    auto billOf = [&](const QVariant &mark) {
        g.ds->GotoBookmark(mark.value<quillon::TBookmark>());
        return g.ds->FieldByName(QStringLiteral("BILLCODE"))->AsString();
    };
    // Nothing marked: a click on a data cell marks its record.
    QTest::mouseClick(cells, Qt::LeftButton, Qt::NoModifier, g.cellCentre(2, 2));
    ASSERT_EQ(g.grid.SelectedRows().size(), 1);
    EXPECT_EQ(billOf(g.grid.SelectedRows().first()), QStringLiteral("B000002"));
    // Ctrl+click adds and removes marks; a plain click only moves, the marks stay.
    QTest::mouseClick(cells, Qt::LeftButton, Qt::ControlModifier, g.cellCentre(5, 3));
    QTest::mouseClick(cells, Qt::LeftButton, Qt::ControlModifier, g.cellCentre(7, 1));
    EXPECT_EQ(g.grid.SelectedRows().size(), 3);
    QTest::mouseClick(cells, Qt::LeftButton, Qt::NoModifier, g.cellCentre(9, 2));
    EXPECT_EQ(g.grid.SelectedRows().size(), 3);
    EXPECT_EQ(g.grid.view()->currentIndex().row(), 9);
    QTest::mouseClick(cells, Qt::LeftButton, Qt::ControlModifier, g.cellCentre(5, 2));
    EXPECT_EQ(g.grid.SelectedRows().size(), 2);
    // Arrow keys move the cursor and leave the marks, also in the frozen column.
    g.grid.view()->setFocus();
    QTest::keyClick(g.grid.view(), Qt::Key_Down);
    QTest::mouseClick(g.grid.frozenView()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      g.grid.frozenView()->visualRect(g.grid.gridModel()->index(12, 0)).center());
    EXPECT_EQ(g.grid.SelectedRows().size(), 2);
    QStringList bills;
    for (const QVariant &m : g.grid.SelectedRows())
        bills << billOf(m);
    EXPECT_EQ(bills, (QStringList{QStringLiteral("B000002"), QStringLiteral("B000007")}));
    // A grid without marks selects as before: the clicked row only.
    g.grid.setMultiSelect(false);
    QTest::mouseClick(cells, Qt::LeftButton, Qt::NoModifier, g.cellCentre(3, 2));
    const QModelIndexList picked = g.grid.view()->selectionModel()->selectedIndexes();
    ASSERT_FALSE(picked.isEmpty());
    for (const QModelIndex &i : picked)
        EXPECT_EQ(i.row(), 3);
}

TEST(GridFrozenColumn, StaysWholeAfterScrollingSideways)
{
    WideGrid g(30, QSize(360, 400)); // narrower than its columns
    QTableView *frozen = g.grid.frozenView();
    ASSERT_TRUE(frozen);
    QScrollBar *sideways = g.grid.view()->horizontalScrollBar();
    ASSERT_GT(sideways->maximum(), 0);
    sideways->setValue(sideways->maximum());
    // Moving to a cell far right (as the keyboard or a click does) scrolls the view, never
    // the frozen column.
    g.grid.view()->setCurrentIndex(g.grid.gridModel()->index(20, 4));
    WideGrid::settle();
    EXPECT_EQ(frozen->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(frozen->columnViewportPosition(0), 0);
    EXPECT_EQ(frozen->columnWidth(0), g.grid.view()->columnWidth(0));
    // Its rows follow the view's.
    EXPECT_EQ(frozen->verticalScrollBar()->value(), g.grid.view()->verticalScrollBar()->value());
}

TEST(GridPosition, KeptAcrossARunThatWalksTheRows)
{
    WideGrid g(300, QSize(1024, 400));
    g.grid.view()->setCurrentIndex(g.grid.gridModel()->index(120, 2));
    g.grid.view()->scrollTo(g.grid.gridModel()->index(120, 2), QAbstractItemView::PositionAtCenter);
    WideGrid::settle();
    const int scrolled = g.grid.view()->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    {
        KeepGridPosition keep(&g.grid);
        // A run over the rows, ending on the last one.
        for (g.ds->First(); !g.ds->Eof(); g.ds->Next())
            ;
        g.ds->Last();
        WideGrid::settle();
        EXPECT_EQ(g.grid.view()->currentIndex().row(), 299);
    }
    WideGrid::settle();
    EXPECT_EQ(g.grid.view()->currentIndex().row(), 120);
    EXPECT_EQ(g.grid.view()->currentIndex().column(), 2);
    EXPECT_EQ(g.grid.view()->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(g.ds->FieldByName(QStringLiteral("BILLCODE"))->AsString(), QStringLiteral("B000120"));
}
