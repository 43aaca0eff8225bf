#include "baseforms/report.h"
#include "testdata.h"

#include <QFile>
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
