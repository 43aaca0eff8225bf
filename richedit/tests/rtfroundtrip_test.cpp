// Documents written by the RTF writer must read back with the same text and formatting,
// run by run and paragraph by paragraph.
#include "docdump.h"

#include "richedit/rtfreader.h"
#include "richedit/rtfwriter.h"

#include <QImage>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

using namespace richedit;
using richedit::test::dump;

namespace {

QTextCharFormat fmt(const QString &family, double size)
{
    QTextCharFormat f;
    f.setFontFamilies({family});
    f.setFontPointSize(size);
    return f;
}

void roundTrip(const QTextDocument &source, QTextDocument &target)
{
    const QByteArray rtf = RtfWriter().write(&source);
    RtfReader reader;
    ASSERT_TRUE(reader.read(rtf, &target)) << rtf.constData();
    EXPECT_TRUE(reader.warnings().isEmpty()) << reader.warnings().join(u'\n').toStdString();
}

struct RoundTripCase
{
    const char *name;
    std::function<void(QTextCursor &)> build;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase>
{
};

TEST_P(RoundTrip, KeepsTextAndFormatting)
{
    QTextDocument source;
    source.setDefaultFont(QFont(QStringLiteral("Arial"), 12));
    QTextCursor c(&source);
    GetParam().build(c);

    QTextDocument target;
    target.setDefaultFont(source.defaultFont());
    roundTrip(source, target);
    const auto expected = dump(source);
    const auto actual = dump(target);
    ASSERT_EQ(actual.size(), expected.size()) << RtfWriter().write(&source).constData();
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "paragraph " << i;
    EXPECT_EQ(target.toPlainText(), source.toPlainText());
}

const RoundTripCase kCases[] = {
    {"CharacterFormats",
     [](QTextCursor &c) {
         QTextCharFormat f = fmt(QStringLiteral("Arial"), 12);
         c.insertText(QStringLiteral("plain "), f);
         f.setFontWeight(QFont::Bold);
         c.insertText(QStringLiteral("bold "), f);
         f.setFontItalic(true);
         c.insertText(QStringLiteral("bold italic "), f);
         f = fmt(QStringLiteral("Times New Roman"), 10.5);
         f.setFontUnderline(true);
         c.insertText(QStringLiteral("underlined 10.5pt "), f);
         f = fmt(QStringLiteral("Arial"), 20);
         f.setFontStrikeOut(true);
         f.setForeground(QColor(200, 10, 30));
         c.insertText(QStringLiteral("red struck"), f);
         f = fmt(QStringLiteral("Arial"), 12);
         f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
         c.insertText(QStringLiteral("2"), f);
         f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
         f.setBackground(QColor(255, 255, 0));
         c.insertText(QStringLiteral("x"), f);
     }},
    {"ChineseFontsAndText",
     [](QTextCursor &c) {
         c.insertText(QStringLiteral("公告：明天"), fmt(QStringLiteral("宋体"), 14));
         c.insertText(QStringLiteral("放假"), fmt(QStringLiteral("黑体"), 16));
         c.insertText(QStringLiteral(" Mixed 中英 text，标点！"),
                      fmt(QStringLiteral("SimSun"), 12));
     }},
    {"CharactersOutsideGbkAndSurrogates",
     [](QTextCursor &c) {
         // Thai, Euro, an emoji (surrogate pair) and a Korean syllable have no or other
         // GBK fallbacks; the Unicode escapes must carry them.
         c.insertText(QStringLiteral("ก € 😀 한 é ü ñ"), fmt(QStringLiteral("Arial"), 12));
     }},
    {"EscapedCharacters",
     [](QTextCursor &c) {
         c.insertText(QStringLiteral("C:\\temp\\{file}.rtf\ttabbed"),
                      fmt(QStringLiteral("Arial"), 12));
         c.insertText(QString(QChar(0x2028)) + QStringLiteral("after line break") + QChar(0x00A0) +
                          QStringLiteral("nbsp -1 \\u123 text"),
                      fmt(QStringLiteral("Arial"), 12));
     }},
    {"ParagraphFormats",
     [](QTextCursor &c) {
         QTextBlockFormat b;
         b.setAlignment(Qt::AlignHCenter);
         c.setBlockFormat(b);
         c.insertText(QStringLiteral("centred title"), fmt(QStringLiteral("Arial"), 18));
         b = QTextBlockFormat();
         b.setAlignment(Qt::AlignRight);
         b.setRightMargin(24);
         c.insertBlock(b);
         c.insertText(QStringLiteral("right"), fmt(QStringLiteral("Arial"), 12));
         b = QTextBlockFormat();
         b.setAlignment(Qt::AlignJustify);
         b.setLeftMargin(48);
         b.setTextIndent(-24);
         b.setTopMargin(8);
         b.setBottomMargin(12);
         c.insertBlock(b);
         c.insertText(QStringLiteral("justified with hanging indent"),
                      fmt(QStringLiteral("Arial"), 12));
         b = QTextBlockFormat();
         b.setTextIndent(32);
         c.insertBlock(b);
         c.insertText(QStringLiteral("首行缩进两字"), fmt(QStringLiteral("宋体"), 12));
     }},
    {"EmptyParagraphs",
     [](QTextCursor &c) {
         c.insertText(QStringLiteral("first"), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock(QTextBlockFormat(), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock(QTextBlockFormat(), fmt(QStringLiteral("Arial"), 12));
         c.insertText(QStringLiteral("after two breaks"), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock(QTextBlockFormat(), fmt(QStringLiteral("Arial"), 12)); // empty last one
     }},
    {"BulletsAndNumbering",
     [](QTextCursor &c) {
         c.insertText(QStringLiteral("intro"), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock();
         QTextListFormat bullets;
         bullets.setStyle(QTextListFormat::ListDisc);
         bullets.setIndent(1);
         c.createList(bullets);
         c.insertText(QStringLiteral("first bullet"), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock();
         c.insertText(QStringLiteral("second bullet"), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock(QTextBlockFormat());
         c.insertText(QStringLiteral("between"), fmt(QStringLiteral("Arial"), 12));
         c.insertBlock();
         QTextListFormat numbers;
         numbers.setStyle(QTextListFormat::ListDecimal);
         numbers.setIndent(2);
         c.createList(numbers);
         c.insertText(QStringLiteral("一"), fmt(QStringLiteral("宋体"), 12));
         c.insertBlock();
         c.insertText(QStringLiteral("二"), fmt(QStringLiteral("宋体"), 12));
         c.insertBlock(QTextBlockFormat());
         QTextListFormat letters;
         letters.setStyle(QTextListFormat::ListUpperRoman);
         letters.setIndent(1);
         c.createList(letters);
         c.insertText(QStringLiteral("roman"), fmt(QStringLiteral("Arial"), 12));
     }},
    {"Hyperlink",
     [](QTextCursor &c) {
         c.insertText(QStringLiteral("see "), fmt(QStringLiteral("Arial"), 12));
         QTextCharFormat link = fmt(QStringLiteral("Arial"), 12);
         link.setAnchor(true);
         link.setAnchorHref(QStringLiteral("http://example.com/a?b=1&c=2"));
         link.setFontUnderline(true);
         link.setForeground(QColor(Qt::blue));
         c.insertText(QStringLiteral("the site"), link);
         c.insertText(QStringLiteral(" now "), fmt(QStringLiteral("Arial"), 12));
         link.setAnchorHref(QStringLiteral("mailto:ops@example.com"));
         link.setFontUnderline(false);
         link.clearForeground();
         c.insertText(QStringLiteral("plain-looking link"), link);
     }},
};

INSTANTIATE_TEST_SUITE_P(Rtf, RoundTrip, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RtfWriter, ChineseTextCarriesUnicodeAndGbkFallback)
{
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("中文"), fmt(QStringLiteral("宋体"), 12));
    const QByteArray rtf = RtfWriter().write(&doc);
    // Readers that know Unicode get the characters, older ones the GBK bytes, and the
    // font table declares the Chinese character set for the font whose name is in GBK.
    EXPECT_TRUE(rtf.contains("\\uc2\\u20013\\'d6\\'d0\\u25991\\'ce\\'c4")) << rtf.constData();
    EXPECT_TRUE(rtf.contains("\\fcharset134\\uc2\\u23435\\'cb\\'ce\\u20307\\'cc\\'e5;"))
        << rtf.constData();
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg936"));
    EXPECT_TRUE(rtf.trimmed().endsWith('}'));
    // Only 7-bit bytes: the file survives any transport that mangles 8-bit text.
    for (const char b : rtf)
        ASSERT_LT(uchar(b), 0x80);
}

TEST(RtfRoundTrip, TablesKeepCellsWidthsAndMerges)
{
    QTextDocument doc;
    doc.setDefaultFont(QFont(QStringLiteral("Arial"), 12));
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("before"), fmt(QStringLiteral("Arial"), 12));
    QTextTableFormat tf;
    tf.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, 100),
                                  QTextLength(QTextLength::FixedLength, 60),
                                  QTextLength(QTextLength::FixedLength, 200)});
    QTextTable *table = c.insertTable(3, 3, tf);
    const char *texts[3][3] = {{"网点", "件数", "备注"}, {"总部", "12", ""}, {"分部", "7", "末行"}};
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col)
            table->cellAt(r, col).firstCursorPosition().insertText(QString::fromUtf8(texts[r][col]),
                                                                   fmt(QStringLiteral("宋体"), 12));
    }
    QTextCursor cell = table->cellAt(0, 2).lastCursorPosition();
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cell.insertBlock(centred, fmt(QStringLiteral("Arial"), 12));
    QTextCharFormat bold = fmt(QStringLiteral("Arial"), 12);
    bold.setFontWeight(QFont::Bold);
    cell.insertText(QStringLiteral("second paragraph"), bold);
    table->mergeCells(1, 2, 2, 1); // "" and "末行" become one cell over two rows
    table->mergeCells(2, 0, 1, 2); // "分部" and "7" one cell over two columns
    c = table->lastCursorPosition();
    c.movePosition(QTextCursor::NextBlock);
    c.insertText(QStringLiteral("after"), fmt(QStringLiteral("Arial"), 12));

    QTextDocument back;
    back.setDefaultFont(doc.defaultFont());
    roundTrip(doc, back);
    EXPECT_EQ(dump(back), dump(doc)) << RtfWriter().write(&doc).constData();
    QTextTable *read = QTextCursor(back.findBlockByNumber(1)).currentTable();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->rows(), 3);
    EXPECT_EQ(read->columns(), 3);
    EXPECT_EQ(read->cellAt(2, 2).row(), 1);
    EXPECT_EQ(read->cellAt(1, 2).rowSpan(), 2);
    EXPECT_EQ(read->cellAt(2, 0).columnSpan(), 2);
    EXPECT_EQ(read->cellAt(2, 1).column(), 0);
    const auto widths = read->format().columnWidthConstraints();
    ASSERT_EQ(widths.size(), 3);
    EXPECT_DOUBLE_EQ(widths[0].rawValue(), 100);
    EXPECT_DOUBLE_EQ(widths[2].rawValue(), 200);
    EXPECT_EQ(QTextCursor(back.lastBlock()).currentTable(), nullptr);
    EXPECT_EQ(back.lastBlock().text(), QStringLiteral("after"));
}

TEST(RtfWriter, FallbackBytesAloneGiveTheSameText)
{
    // A reader that ignores Unicode escapes sees only the GBK fallback bytes, decoded in
    // the character set of each font, the default font included.
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("默认字体里的中文 café "));
    c.insertText(QStringLiteral("宋体中文"), fmt(QStringLiteral("宋体"), 12));
    c.insertText(QStringLiteral(" Arial 中文"), fmt(QStringLiteral("Arial"), 12));
    QString rtf = QString::fromLatin1(RtfWriter().write(&doc));
    rtf.remove(QRegularExpression(QStringLiteral("\\\\uc?-?\\d+ ?")));
    ASSERT_FALSE(rtf.contains(QStringLiteral("\\u")));
    QTextDocument back;
    ASSERT_TRUE(RtfReader().read(rtf.toLatin1(), &back));
    EXPECT_EQ(back.toPlainText(), doc.toPlainText());
}

TEST(RtfWriter, PicturesTravelAsPngAtTheirShownSize)
{
    QTextDocument doc;
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 40));
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("mem://logo")), image);
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("logo:"));
    QTextImageFormat f;
    f.setName(QStringLiteral("mem://logo"));
    f.setWidth(40);
    f.setHeight(20);
    c.insertImage(f);
    c.insertText(QStringLiteral("end"));

    QTextDocument back;
    RtfReader reader;
    ASSERT_TRUE(reader.read(RtfWriter().write(&doc), &back));
    EXPECT_TRUE(reader.warnings().isEmpty());
    EXPECT_EQ(back.toPlainText(), QStringLiteral("logo:") + QChar(0xFFFC) + QStringLiteral("end"));
    QTextCursor at(&back);
    at.setPosition(6);
    ASSERT_TRUE(at.charFormat().isImageFormat());
    const QTextImageFormat read = at.charFormat().toImageFormat();
    EXPECT_DOUBLE_EQ(read.width(), 40);
    EXPECT_DOUBLE_EQ(read.height(), 20);
    const QImage pixels =
        back.resource(QTextDocument::ImageResource, QUrl(read.name())).value<QImage>();
    ASSERT_EQ(pixels.size(), QSize(20, 10));
    EXPECT_EQ(pixels.pixelColor(5, 5), QColor(200, 30, 40));
}

TEST(RtfWriter, WritesNothingTheReaderWouldTakeAsAControlWordParameter)
{
    // Text starting with digits, a minus or a blank right after a control word must not
    // merge into that word.
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("\t123\t-4\t 5"), fmt(QStringLiteral("Arial"), 12));
    QTextDocument back;
    RtfReader().read(RtfWriter().write(&doc), &back);
    EXPECT_EQ(back.toPlainText(), QStringLiteral("\t123\t-4\t 5"));
}

} // namespace
