#include "baseforms/report.h"
#include "baseforms/reportpreview.h"
#include "testdata.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QCoreApplication>
#include <QScrollArea>
#include <QSpinBox>
#include <QPrintPreviewDialog>
#include <QTemporaryDir>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace tessera;
using quillon::FieldType;

namespace {
const char *const kDefinition =
    "; waybill list\n[Report]\nTitle=运单清单 [Site]\nOrientation=Landscape\n"
    "Footer=制表 [Emp]\n[Columns]\nColumn1=BILLCODE;运单号;30\n"
    "Column2=PIECES;件数;15;Sum\nColumn3=WEIGHT;重量;15;Sum\n"
    "Column4=MISSING;不存在;10;Count\n";
}

TEST(Report, DefinitionParsingAndRejection)
{
    TfrxReport r;
    ASSERT_TRUE(r.loadFromText(QString::fromUtf8(kDefinition)));
    EXPECT_TRUE(r.landscape());
    ASSERT_EQ(r.columns().size(), 4);
    EXPECT_EQ(r.columns()[1].title, QStringLiteral("件数"));
    EXPECT_EQ(r.columns()[1].total, TfrxReport::Total::Sum);
    EXPECT_DOUBLE_EQ(r.columns()[2].widthMm, 15);

    EXPECT_FALSE(r.loadFromText(QStringLiteral("[Columns]\nColumn1=A\n"))) << "no [Report] section";
    EXPECT_FALSE(r.loadFromText(QStringLiteral("[Report]\nTitle=x\n"))) << "no columns";
    EXPECT_EQ(r.columns().size(), 4) << "a failed load keeps the previous definition";
}

TEST(Report, RendersRowsTotalsAndVariablesAndWritesPdf)
{
    auto ds =
        testdata::dataSet({{QStringLiteral("BILLCODE"), FieldType::String, 12},
                           {QStringLiteral("PIECES"), FieldType::Integer},
                           {QStringLiteral("WEIGHT"), FieldType::Float}},
                          {{QStringLiteral("A<1>"), 2, 1.25}, {QStringLiteral("B2"), 3, 2.5}});
    TDataSource source;
    source.setDataSet(ds.get());
    TfrxReport r;
    ASSERT_TRUE(r.loadFromText(QString::fromUtf8(kDefinition)));
    r.setDataSource(&source);
    r.setVariable(QStringLiteral("Site"), QStringLiteral("总部"));
    r.setVariable(QStringLiteral("Emp"), QStringLiteral("张三"));

    QTextDocument doc;
    doc.setHtml(r.toHtml());
    const QString text = doc.toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("运单清单 总部")));
    EXPECT_TRUE(text.contains(QStringLiteral("制表 张三")));
    EXPECT_TRUE(text.contains(QStringLiteral("A<1>"))) << "values are escaped, not markup";
    // Totals: 5 pieces, 3.75 kg, 2 rows counted.
    EXPECT_TRUE(text.contains(QStringLiteral("合计")));
    EXPECT_TRUE(text.contains(QStringLiteral("3.75")));
    const QStringList lines = text.split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("5")));

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    ASSERT_TRUE(r.exportToPdf(pdf));
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(5).startsWith("%PDF"));

    auto *presenter = testdata::scriptedPresenter();
    r.ShowReport();
    ASSERT_EQ(presenter->dialogsShown.size(), 1);
    host::setDialogPresenter(nullptr);
}

// Long reports are laid out a page at a time: every row is on exactly one page, in order;
// the totals come after the last row; the preview opens at the first page and pages on.
TEST(Report, PagesHoldEveryRowOnceAndThePreviewOpensAtTheFirst)
{
    QList<QVariantList> data;
    for (int i = 0; i < 1000; ++i)
        data.append({QStringLiteral("B%1").arg(i), i % 7, 0.5});
    auto ds = testdata::dataSet({{QStringLiteral("BILLCODE"), FieldType::String, 12},
                                 {QStringLiteral("PIECES"), FieldType::Integer},
                                 {QStringLiteral("WEIGHT"), FieldType::Float}},
                                data);
    TDataSource source;
    source.setDataSet(ds.get());
    TfrxReport r;
    ASSERT_TRUE(r.loadFromText(QString::fromUtf8(kDefinition)));
    r.setDataSource(&source);
    const int pages = r.pageCount();
    ASSERT_GT(pages, 10);
    int next = 0;
    for (int p = 0; p < pages; ++p) {
        const auto [begin, end] = r.pageRows(p);
        EXPECT_EQ(begin, next) << "page " << p;
        EXPECT_LE(end - begin, int((r.pageSizePt().height()) / TfrxReport::kRowHeight));
        next = end;
    }
    EXPECT_EQ(next, 1000);

    auto inkOn = [&r](int page) {
        QImage img(int(r.pageSizePt().width()), int(r.pageSizePt().height()), QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        r.paintPage(p, page);
        p.end();
        int dark = 0;
        for (int y = 0; y < img.height(); y += 2)
            for (int x = 0; x < img.width(); x += 2)
                dark += qGray(img.pixel(x, y)) < 128;
        return dark;
    };
    EXPECT_GT(inkOn(0), 200);
    EXPECT_GT(inkOn(pages - 1), 50);

    ReportPreview preview(&r);
    EXPECT_EQ(preview.objectName(), QStringLiteral("frxPreview"));
    EXPECT_EQ(preview.currentPage(), 0);
    preview.showPage(pages + 5);
    EXPECT_EQ(preview.currentPage(), pages - 1);
    auto *pageBox = preview.findChild<QSpinBox *>(QStringLiteral("spnPage"));
    ASSERT_TRUE(pageBox);
    EXPECT_EQ(pageBox->maximum(), pages);
    EXPECT_EQ(pageBox->value(), pages);
    pageBox->setValue(3);
    EXPECT_EQ(preview.currentPage(), 2);

    // Shown, the page fills the width of the preview (not the width the scroll area had
    // before the dialog was laid out).
    preview.resize(1000, 700);
    preview.show();
    QCoreApplication::processEvents();
    auto *scroll = preview.findChild<QScrollArea *>(QStringLiteral("scrPages"));
    ASSERT_TRUE(scroll && scroll->widget());
    EXPECT_GE(scroll->widget()->width(), scroll->viewport()->width() - 30);
    EXPECT_GT(scroll->widget()->width(), 600);
}
