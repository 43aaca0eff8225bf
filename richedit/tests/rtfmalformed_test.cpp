// Damaged or hostile RTF loads what can be read, reports what was wrong and never
// crashes; data that is not RTF is refused without touching the document.
#include "richedit/rtfreader.h"

#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using richedit::RtfReader;

namespace {

struct DamagedCase
{
    const char *name;
    QByteArray rtf;
    QString text; // the document's plain text after loading
    bool warned;  // whether the reader must report a problem
};

class Damaged : public ::testing::TestWithParam<DamagedCase>
{
};

TEST_P(Damaged, LoadsWhatCanBeRead)
{
    QTextDocument doc;
    RtfReader reader;
    ASSERT_TRUE(reader.read(GetParam().rtf, &doc));
    EXPECT_EQ(doc.toPlainText(), GetParam().text);
    EXPECT_EQ(!reader.warnings().isEmpty(), GetParam().warned)
        << reader.warnings().join(u';').toStdString();
}

const QString kGbkHello = QStringLiteral("你好");

INSTANTIATE_TEST_SUITE_P(
    Rtf, Damaged,
    ::testing::Values(
        DamagedCase{"MissingClosingBraces", "{\\rtf1 first\\par {\\b second {\\i third",
                    QStringLiteral("first\nsecond third"), true},
        DamagedCase{"TruncatedInControlWord", "{\\rtf1 text\\par more\\pa",
                    QStringLiteral("text\nmore"), true},
        DamagedCase{"TruncatedAfterBackslash", "{\\rtf1 text\\", QStringLiteral("text"), true},
        DamagedCase{"TruncatedHexByte", "{\\rtf1\\ansicpg936 \\'c4\\'e3\\'b", QStringLiteral("你"),
                    true},
        DamagedCase{"InvalidHexByte", "{\\rtf1 a\\'zzb}", QStringLiteral("ab"), true},
        DamagedCase{"ExtraClosingBraceWithTextAfter", "{\\rtf1 {\\b bold}} after}",
                    QStringLiteral("bold after"), true},
        DamagedCase{"SectionAndPageBreaksMakeNoEmptyParagraphs",
                    "{\\rtf1 a\\par\\sect\\sectd b\\page c\\par\\page\\par}",
                    QStringLiteral("a\nb\nc\n"), false},
        DamagedCase{"CellMarksWithoutTable", "{\\rtf1 a\\cell b\\cell\\row c}",
                    QStringLiteral("a\tb\nc"), false},
        DamagedCase{"TableCutOffInARow",
                    "{\\rtf1\\trowd\\cellx500\\cellx-3\\cellx0\\pard\\intbl a\\cell b",
                    QStringLiteral("\na\nb\n\n"), true},
        DamagedCase{"TrailingGarbageAfterDocument", "{\\rtf1 done}\r\n}}", QStringLiteral("done"),
                    false},
        DamagedCase{"BinaryLongerThanFile", "{\\rtf1 keep{\\pict\\bin999999 abc}}",
                    QStringLiteral("keep"), true},
        DamagedCase{"BinaryHoldingBraces", "{\\rtf1 a{\\pict\\bin4 }}{\\}b}", QStringLiteral("ab"),
                    false},
        DamagedCase{"NegativeBinaryLength", "{\\rtf1 a\\bin-5 b}", QStringLiteral("ab"), false},
        DamagedCase{"HugeParameters",
                    "{\\rtf1\\fs99999999999999999999\\li-99999999999\\uc99999 x\\u99999999 y}",
                    QStringLiteral("xy"), false},
        DamagedCase{"UnicodeFallbackCutByGroupEnd", "{\\rtf1\\uc3 {\\u20320 ?}z}",
                    QStringLiteral("你z"), false},
        DamagedCase{"NegativeUnicodeValue", "{\\rtf1\\u-3913 ?\\u-10179 ?\\u-8704 ?}",
                    QString(QChar(0xF0B7)) + QStringLiteral("😀"), false},
        DamagedCase{"LoneGbkLeadByte", "{\\rtf1\\ansicpg936 \\'c4 ok}",
                    QString(QChar(0xFFFD)) + QStringLiteral(" ok"), false},
        DamagedCase{"UnknownFontAndColourNumbers", "{\\rtf1\\f77\\cf99\\highlight42 text}",
                    QStringLiteral("text"), false},
        DamagedCase{"UnknownDestinationsSkipped",
                    "{\\rtf1{\\*\\unknowndest secret{\\nested more}}{\\*\\generator x;}visible}",
                    QStringLiteral("visible"), false},
        DamagedCase{"ColourTableWithoutSemicolon", "{\\rtf1{\\colortbl\\red255\\green0\\blue0}a}",
                    QStringLiteral("a"), false},
        DamagedCase{"FontEntryWithoutSemicolon",
                    "{\\rtf1{\\fonttbl{\\f0\\fcharset134 \\'cb\\'ce\\'cc\\'e5}}\\f0 \\'c4\\'e3}",
                    QStringLiteral("你"), false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RtfReaderRefuses, DataThatIsNotRtf)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("keep me"));
    RtfReader reader;
    for (const QByteArray &data : {QByteArray(), QByteArray("plain text"), QByteArray("{\\rt"),
                                   QByteArray("\\rtf1 x}"), QByteArray("<html>{\\rtf1}</html>")}) {
        EXPECT_FALSE(reader.read(data, &doc)) << data.constData();
        EXPECT_EQ(doc.toPlainText(), QStringLiteral("keep me"));
    }
    // A byte order mark and blanks in front are accepted.
    EXPECT_TRUE(RtfReader::isRtf("\xEF\xBB\xBF \r\n{\\rtf1 x}"));
}

TEST(RtfReaderLimits, DeepNestingIsCutButTextAroundItStays)
{
    QByteArray rtf = "{\\rtf1 before";
    rtf += QByteArray(100000, '{');
    rtf += "deep";
    rtf += QByteArray(100000, '}');
    rtf += " after}";
    QTextDocument doc;
    RtfReader reader;
    ASSERT_TRUE(reader.read(rtf, &doc));
    EXPECT_TRUE(doc.toPlainText().startsWith(QStringLiteral("before")));
    EXPECT_TRUE(doc.toPlainText().endsWith(QStringLiteral(" after")));
    EXPECT_FALSE(reader.warnings().isEmpty());
}

TEST(RtfReaderLimits, RandomDamageNeverCrashes)
{
    // Every prefix of a realistic document, and the document with bytes flipped, must
    // load without crashing; prefixes keep the text read so far.
    const QByteArray good =
        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset134 \\'cb\\'ce;}}"
        "{\\colortbl ;\\red255\\green0\\blue0;}\\pard\\qc\\f0\\fs24\\cf1 "
        "\\'c4\\'e3\\uc1\\u22909?{\\*\\pn\\pnlvlblt{\\pntxtb\\'b7}}"
        "{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt link}}\\par "
        "\\trowd\\clvmgf\\cellx1000\\cellx2000\\pard\\intbl x\\cell y\\cell\\row"
        "\\trowd\\clvmrg\\cellx1000\\cellx2000\\pard\\intbl\\cell z\\cell\\row"
        "\\pard end}";
    for (qsizetype n = 5; n <= good.size(); ++n) {
        QTextDocument doc;
        RtfReader().read(good.left(n), &doc);
    }
    quint32 seed = 12345;
    for (int round = 0; round < 300; ++round) {
        QByteArray bad = good;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const qsizetype at = 6 + qsizetype(seed % quint32(bad.size() - 6));
            bad[at] = char(seed >> 24);
        }
        QTextDocument doc;
        RtfReader().read(bad, &doc);
    }
    QTextDocument doc;
    RtfReader().read(good, &doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("你好link\nx\ny\nz\nend"));
}

} // namespace
