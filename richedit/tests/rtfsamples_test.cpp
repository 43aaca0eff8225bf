// RTF written by other programs (WordPad, Word, LibreOffice) must load with its text and
// the formatting this editor knows. The LibreOffice files were exported by LibreOffice
// Writer 7.4; the WordPad and Word files are hand-made in the style of their output.
#include "docdump.h"

#include "richedit/rtfreader.h"

#include <QFile>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <gtest/gtest.h>

using namespace richedit;
using richedit::test::dump;
using richedit::test::Paragraph;

namespace {

QByteArray sample(const char *name)
{
    QFile file(QStringLiteral(RICHEDIT_SAMPLES_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QList<Paragraph> load(const char *name, QTextDocument &doc, QStringList *warnings = nullptr)
{
    const QByteArray data = sample(name);
    EXPECT_FALSE(data.isEmpty()) << name;
    RtfReader reader;
    EXPECT_TRUE(reader.read(data, &doc)) << name;
    if (warnings)
        *warnings = reader.warnings();
    return dump(doc);
}

QStringList texts(const QList<Paragraph> &paragraphs)
{
    QStringList out;
    for (const Paragraph &p : paragraphs)
        out << p.text;
    return out;
}

struct SampleCase
{
    const char *file;
    QStringList paragraphs;
};

class Sample : public ::testing::TestWithParam<SampleCase>
{
};

TEST_P(Sample, LoadsTextIntactWithoutWarnings)
{
    QTextDocument doc;
    QStringList warnings;
    const auto paragraphs = load(GetParam().file, doc, &warnings);
    EXPECT_EQ(texts(paragraphs), GetParam().paragraphs);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u';').toStdString();
}

const QString kLine = QString(QChar(0x2028));

INSTANTIATE_TEST_SUITE_P(
    Rtf, Sample,
    ::testing::Values(
        SampleCase{"wordpad_gbk.rtf",
                   {QStringLiteral("放假通知"),
                    QStringLiteral("各网点：春节期间暂停收件，节后恢复。"),
                    QStringLiteral("第一条"), QStringLiteral("第二条"), QStringLiteral("编号一"),
                    QStringLiteral("编号二"),
                    QStringLiteral("丂乕乗两端 Text with {braces} and a back\\slash."),
                    QStringLiteral("总部") + kLine + QStringLiteral("2026年12月")}},
        SampleCase{"word_unicode.rtf",
                   {QStringLiteral("年度通知"),
                    QStringLiteral("各网点请注意：红色提示 Arial words。") + QChar(0xFFFC),
                    QStringLiteral("项目甲"), QStringLiteral("项目乙"), QStringLiteral("第一步"),
                    QStringLiteral("子步骤"),
                    QStringLiteral("详见www.example.com and “引号”—") + QChar(0x00A0),
                    QStringLiteral("网点"), QStringLiteral("件数"), QStringLiteral("末尾😀")}},
        SampleCase{"libreoffice_notice.rtf",
                   {QStringLiteral("关于春节放假的通知"),
                    QStringLiteral("各网点：春节期间暂停收件 (Italic Arial) ，请各网点做好安排。") +
                        kLine + QStringLiteral("第二行"),
                    QStringLiteral("项目一"), QStringLiteral("项目二"), QStringLiteral("编号一"),
                    QStringLiteral("编号二"), QStringLiteral("总部 2026年12月7日")}},
        SampleCase{"libreoffice_features.rtf",
                   {QStringLiteral("网点公告"),
                    QStringLiteral("普通文字，粗体，斜体，下划线，蓝色，删除线，H2O，x2。"),
                    QStringLiteral("链接：公告系统"), QStringLiteral("网点"),
                    QStringLiteral("数量"), QStringLiteral("总部"), QStringLiteral("12"),
                    QStringLiteral("缩进一英寸 Indented one inch."),
                    QStringLiteral("两端对齐 Justified text with Ünïcödé.")}}),
    [](const auto &info) {
        std::string name = info.param.file;
        return name.substr(0, name.find('.'));
    });

TEST(RtfSamples, WordPadFormatting)
{
    QTextDocument doc;
    const auto p = load("wordpad_gbk.rtf", doc);
    ASSERT_EQ(p.size(), 8);
    // Title: centred, bold, 16 pt, in the Chinese font named in GBK.
    EXPECT_EQ(p[0].alignment, Qt::AlignHCenter);
    ASSERT_EQ(p[0].runs.size(), 1);
    EXPECT_TRUE(p[0].runs[0].bold);
    EXPECT_EQ(p[0].runs[0].pointSize, 16);
    EXPECT_EQ(p[0].runs[0].family, QStringLiteral("黑体"));
    EXPECT_EQ(p[0].afterTwips, 200);
    // Colour switches inside one paragraph.
    ASSERT_EQ(p[1].runs.size(), 3);
    EXPECT_EQ(p[1].runs[1].text, QStringLiteral("春节期间暂停收件"));
    EXPECT_EQ(p[1].runs[1].foreground, QColor(255, 0, 0));
    EXPECT_FALSE(p[1].runs[2].foreground.isValid());
    EXPECT_FALSE(p[1].runs[0].bold);
    EXPECT_EQ(p[1].runs[0].family, QStringLiteral("宋体"));
    // Bullets, then numbering; the shown bullet and number texts are not part of the text.
    EXPECT_EQ(p[2].listStyle, QTextListFormat::ListDisc);
    EXPECT_EQ(p[3].listStyle, QTextListFormat::ListDisc);
    EXPECT_EQ(doc.findBlockByNumber(2).textList(), doc.findBlockByNumber(3).textList());
    EXPECT_EQ(p[4].listStyle, QTextListFormat::ListDecimal);
    EXPECT_EQ(p[5].listStyle, QTextListFormat::ListDecimal);
    EXPECT_EQ(doc.findBlockByNumber(5).textList()->itemText(doc.findBlockByNumber(5)),
              QStringLiteral("2."));
    // Indents in twips, justified, underline switched off by \ulnone.
    EXPECT_EQ(p[6].listStyle, 0);
    EXPECT_EQ(p[6].leftTwips, 360);
    EXPECT_EQ(p[6].rightTwips, 360);
    EXPECT_EQ(p[6].alignment, Qt::AlignJustify);
    ASSERT_EQ(p[6].runs.size(), 2);
    EXPECT_TRUE(p[6].runs[0].underline);
    EXPECT_FALSE(p[6].runs[1].underline);
    EXPECT_EQ(p[7].alignment, Qt::AlignRight);
    EXPECT_TRUE(p[7].runs[0].italic);
    EXPECT_EQ(p[7].runs[0].foreground, QColor(0, 0, 255));
}

TEST(RtfSamples, WordFormattingListsAndHyperlink)
{
    QTextDocument doc;
    const auto p = load("word_unicode.rtf", doc);
    ASSERT_EQ(p.size(), 10);
    EXPECT_EQ(p[0].alignment, Qt::AlignHCenter);
    EXPECT_TRUE(p[0].runs[0].bold);
    EXPECT_EQ(p[0].runs[0].pointSize, 16);
    EXPECT_EQ(p[1].firstTwips, 420);
    EXPECT_EQ(p[1].alignment, Qt::AlignJustify);
    EXPECT_EQ(p[1].runs[0].pointSize, 10.5);
    EXPECT_EQ(p[1].runs[1].foreground, QColor(255, 0, 0));
    EXPECT_EQ(p[1].runs[2].family, QStringLiteral("Arial"));
    // List table: \ls1 is a bullet list, \ls2 numbered with lower-case letters on level 2.
    EXPECT_EQ(p[2].listStyle, QTextListFormat::ListDisc);
    EXPECT_EQ(p[3].listStyle, QTextListFormat::ListDisc);
    EXPECT_EQ(p[4].listStyle, QTextListFormat::ListDecimal);
    EXPECT_EQ(p[5].listStyle, QTextListFormat::ListLowerAlpha);
    EXPECT_GT(p[5].listIndent, p[4].listIndent);
    // The hyperlink field keeps its target on the shown text.
    const auto &runs = p[6].runs;
    const auto link =
        std::find_if(runs.begin(), runs.end(), [](const auto &r) { return !r.href.isEmpty(); });
    ASSERT_NE(link, runs.end());
    EXPECT_EQ(link->text, QStringLiteral("www.example.com"));
    EXPECT_EQ(link->href, QStringLiteral("http://www.example.com/notice"));
    EXPECT_TRUE(link->underline);
    EXPECT_EQ(p[9].alignment, Qt::AlignRight);
    // The table row becomes a table of one row and two cells of the row's widths; the
    // paragraph after it is outside the table.
    const QTextTable *table = QTextCursor(doc.findBlockByNumber(7)).currentTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 1);
    EXPECT_EQ(table->columns(), 2);
    EXPECT_EQ(table->cellAt(0, 1).firstCursorPosition().block().text(), QStringLiteral("件数"));
    const auto widths = table->format().columnWidthConstraints();
    ASSERT_EQ(widths.size(), 2);
    EXPECT_NEAR(widths[1].rawValue(), (8414 - 4153) / 15.0, 0.01);
    EXPECT_EQ(QTextCursor(doc.findBlockByNumber(9)).currentTable(), nullptr);

    // The PNG picture (binary data holding braces and backslashes) shows at its goal size;
    // the metafile stand-in beside it is not shown a second time.
    QTextBlock block = doc.findBlockByNumber(1);
    QTextImageFormat image;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        if (it.fragment().charFormat().isImageFormat())
            image = it.fragment().charFormat().toImageFormat();
    }
    ASSERT_TRUE(image.isValid());
    EXPECT_DOUBLE_EQ(image.width(), 30);
    EXPECT_DOUBLE_EQ(image.height(), 20);
    const QImage pixels =
        doc.resource(QTextDocument::ImageResource, QUrl(image.name())).value<QImage>();
    ASSERT_EQ(pixels.size(), QSize(3, 2));
    EXPECT_EQ(pixels.pixelColor(1, 1), QColor(0, 128, 255));
}

TEST(RtfSamples, LibreOfficeFormatting)
{
    QTextDocument doc;
    const auto p = load("libreoffice_features.rtf", doc);
    ASSERT_EQ(p.size(), 9);
    EXPECT_EQ(p[0].alignment, Qt::AlignHCenter);
    EXPECT_TRUE(p[0].runs[0].bold);
    auto runWith = [](const Paragraph &para, const QString &text) {
        for (const auto &r : para.runs) {
            if (r.text == text)
                return r;
        }
        ADD_FAILURE() << "no run " << text.toStdString();
        return richedit::test::Run();
    };
    EXPECT_TRUE(runWith(p[1], QStringLiteral("粗体")).bold);
    EXPECT_TRUE(runWith(p[1], QStringLiteral("斜体")).italic);
    EXPECT_TRUE(runWith(p[1], QStringLiteral("下划线")).underline);
    EXPECT_TRUE(runWith(p[1], QStringLiteral("删除线")).strike);
    EXPECT_EQ(runWith(p[1], QStringLiteral("蓝色")).foreground, QColor(0, 0, 255));
    EXPECT_EQ(runWith(p[1], QStringLiteral("2")).vertical, QTextCharFormat::AlignSubScript);
    EXPECT_EQ(runWith(p[2], QStringLiteral("公告系统")).href,
              QStringLiteral("http://www.example.com/notice?id=7"));
    const QTextTable *table = QTextCursor(doc.findBlockByNumber(3)).currentTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 2);
    EXPECT_EQ(table->columns(), 2);
    EXPECT_EQ(table->cellAt(1, 0).firstCursorPosition().block().text(), QStringLiteral("总部"));
    EXPECT_EQ(p[7].leftTwips, 1440);
    EXPECT_EQ(p[8].alignment, Qt::AlignJustify);

    QTextDocument notice;
    const auto n = load("libreoffice_notice.rtf", notice);
    ASSERT_EQ(n.size(), 7);
    // The font name is written in a Japanese code page there; it must still read as 宋体.
    EXPECT_EQ(n[0].runs[0].family, QStringLiteral("宋体"));
    EXPECT_EQ(n[0].runs[0].pointSize, 18);
    EXPECT_EQ(n[2].listStyle, QTextListFormat::ListDisc);
    EXPECT_EQ(n[4].listStyle, QTextListFormat::ListDecimal);
    EXPECT_EQ(n[6].alignment, Qt::AlignRight);
}

TEST(RtfSamples, OldStyleHorizontalMerge)
{
    // Older writers merge cells sideways with \clmgf and \clmrg.
    QTextDocument doc;
    RtfReader().read("{\\rtf1\\trowd\\clmgf\\cellx1000\\clmrg\\cellx2000\\cellx3000"
                     "\\pard\\intbl wide\\cell\\cell right\\cell\\row"
                     "\\trowd\\cellx1000\\cellx2000\\cellx3000"
                     "\\pard\\intbl a\\cell b\\cell c\\cell\\row\\pard after\\par}",
                     &doc);
    const QTextTable *table = QTextCursor(doc.findBlockByNumber(1)).currentTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 2);
    EXPECT_EQ(table->cellAt(0, 0).columnSpan(), 2);
    EXPECT_EQ(table->cellAt(0, 2).firstCursorPosition().block().text(), QStringLiteral("right"));
    EXPECT_EQ(table->cellAt(1, 1).firstCursorPosition().block().text(), QStringLiteral("b"));
    EXPECT_EQ(doc.lastBlock().text(), QStringLiteral("after"));
}

} // namespace
