// Speed of the RTF reader and writer on notice-sized and large documents.
#include "richedit/rtfreader.h"
#include "richedit/rtfwriter.h"

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <benchmark/benchmark.h>

namespace {

// A document of the given number of paragraphs, each mixing Chinese and Latin text in
// several formats, every tenth one a list item.
void fill(QTextDocument &doc, int paragraphs)
{
    QTextCursor c(&doc);
    QTextCharFormat plain;
    plain.setFontFamilies({QStringLiteral("宋体")});
    plain.setFontPointSize(12);
    QTextCharFormat bold = plain;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat red = plain;
    red.setForeground(QColor(255, 0, 0));
    red.setFontFamilies({QStringLiteral("Arial")});
    for (int i = 0; i < paragraphs; ++i) {
        if (i > 0)
            c.insertBlock(QTextBlockFormat(), plain);
        c.insertText(QStringLiteral("各网点请注意，春节期间（第%1条）").arg(i), plain);
        c.insertText(QStringLiteral("暂停收件"), bold);
        c.insertText(QStringLiteral(" Delivery resumes on day %1. ").arg(i), red);
        c.insertText(QStringLiteral("请做好安排。"), plain);
        if (i % 10 == 0) {
            QTextListFormat lf;
            lf.setStyle(QTextListFormat::ListDecimal);
            c.createList(lf);
        }
    }
}

void BM_WriteRtf(benchmark::State &state)
{
    QTextDocument doc;
    fill(doc, int(state.range(0)));
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray rtf = richedit::RtfWriter().write(&doc);
        bytes += rtf.size();
        benchmark::DoNotOptimize(rtf.data());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteRtf)->Arg(20)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_ReadRtf(benchmark::State &state)
{
    QTextDocument source;
    fill(source, int(state.range(0)));
    const QByteArray rtf = richedit::RtfWriter().write(&source);
    for (auto _ : state) {
        QTextDocument doc;
        richedit::RtfReader().read(rtf, &doc);
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * rtf.size());
}
BENCHMARK(BM_ReadRtf)->Arg(20)->Arg(2000)->Unit(benchmark::kMillisecond);

// Code-page text as WordPad writes it: every Chinese character as two hex bytes.
void BM_ReadGbkBytes(benchmark::State &state)
{
    QByteArray rtf =
        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}\\f0 ";
    for (int i = 0; i < state.range(0); ++i)
        rtf += "\\'b8\\'f7\\'cd\\'f8\\'b5\\'e3\\'c7\\'eb\\'d7\\'a2\\'d2\\'e2 Notice\\par\r\n";
    rtf += '}';
    for (auto _ : state) {
        QTextDocument doc;
        richedit::RtfReader().read(rtf, &doc);
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * rtf.size());
}
BENCHMARK(BM_ReadGbkBytes)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
