#include "rtfwriter.h"

#include "codepage.h"
#include "rtfunits.h"

#include <QBuffer>
#include <QColor>
#include <QFontInfo>
#include <QHash>
#include <QIODevice>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <cmath>

namespace richedit {

namespace {

constexpr int kChineseCharset = 134;
constexpr int kDocumentCodepage = 936;

class Emitter
{
public:
    explicit Emitter(const QTextDocument *doc)
        : m_doc(doc)
        , m_gbk(kDocumentCodepage)
    {}

    QByteArray run();

private:
    QString familyOf(const QTextCharFormat &f) const;
    QString defaultFamily() const;
    double pointSizeOf(const QTextCharFormat &f) const;
    int fontIndex(const QString &family);
    int colorIndex(const QColor &color);
    void collect();
    // Writes one paragraph, ended by end ("\\par" or "\\cell").
    void writeBlock(const QTextBlock &block, bool inTable, const QByteArray &end);
    void writeFrame(const QTextFrame *frame);
    void writeTable(const QTextTable *table);
    void writeListPrefix(const QTextBlock &block, QTextList *list, QByteArray &out);
    QByteArray charProps(const QTextCharFormat &f);
    QByteArray escape(QStringView text, int &uc, bool afterControlWord = true);
    QByteArray gbkBytes(char16_t ch);
    QByteArray picture(const QTextImageFormat &format) const;

    const QTextDocument *m_doc;
    detail::CodepageEncoder m_gbk;
    QHash<char16_t, QByteArray> m_gbkCache;
    QStringList m_fonts;
    QList<QColor> m_colors; // entry 0 is the automatic colour
    int m_symbolFont = -1;
    QByteArray m_body;
};

QString Emitter::familyOf(const QTextCharFormat &f) const
{
    const QStringList families = f.fontFamilies().toStringList();
    if (!families.isEmpty() && !families.first().isEmpty())
        return families.first();
    return defaultFamily();
}

QString Emitter::defaultFamily() const
{
    const QString family = m_doc->defaultFont().family();
    return family.isEmpty() ? QFontInfo(m_doc->defaultFont()).family() : family;
}

double Emitter::pointSizeOf(const QTextCharFormat &f) const
{
    if (f.hasProperty(QTextFormat::FontPointSize) && f.fontPointSize() > 0)
        return f.fontPointSize();
    const double size = m_doc->defaultFont().pointSizeF();
    return size > 0 ? size : 12.0;
}

int Emitter::fontIndex(const QString &family)
{
    const qsizetype i = m_fonts.indexOf(family);
    if (i >= 0)
        return int(i);
    m_fonts << family;
    return int(m_fonts.size() - 1);
}

int Emitter::colorIndex(const QColor &color)
{
    const QColor opaque = color.toRgb();
    for (qsizetype i = 1; i < m_colors.size(); ++i) {
        if (m_colors[i].rgb() == opaque.rgb())
            return int(i);
    }
    m_colors << opaque;
    return int(m_colors.size() - 1);
}

// Font and colour tables come before the text, so the document is walked once to fill them.
void Emitter::collect()
{
    m_colors << QColor();
    fontIndex(defaultFamily());
    for (QTextBlock block = m_doc->begin(); block.isValid(); block = block.next()) {
        fontIndex(familyOf(block.charFormat()));
        if (QTextList *list = block.textList()) {
            if (list->format().style() == QTextListFormat::ListDisc ||
                list->format().style() == QTextListFormat::ListCircle ||
                list->format().style() == QTextListFormat::ListSquare) {
                if (m_symbolFont < 0)
                    m_symbolFont = fontIndex(QStringLiteral("Symbol"));
            }
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat f = fragment.charFormat();
            fontIndex(familyOf(f));
            if (f.foreground().style() != Qt::NoBrush)
                colorIndex(f.foreground().color());
            if (f.background().style() != Qt::NoBrush)
                colorIndex(f.background().color());
        }
    }
}

QByteArray Emitter::gbkBytes(char16_t ch)
{
    const auto it = m_gbkCache.constFind(ch);
    if (it != m_gbkCache.constEnd())
        return *it;
    QByteArray bytes;
    if (!QChar::isSurrogate(ch)) {
        const QChar c(ch);
        bytes = m_gbk.encode(QStringView(&c, 1));
    }
    if (bytes.isEmpty())
        bytes = "?";
    m_gbkCache.insert(ch, bytes);
    return bytes;
}

// Escapes text for a group whose \uc count is uc on entry; adjusts \uc as the number of
// fallback bytes changes and returns the count in force at the end through uc. When the
// text follows a control word, a leading blank, letter or digit gets a delimiter first.
QByteArray Emitter::escape(QStringView text, int &uc, bool afterControlWord)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    bool needDelimiter = afterControlWord; // the last thing written was a control word
    auto word = [&](const QByteArray &w) {
        out += w;
        needDelimiter = true;
    };
    auto literal = [&](char c) {
        if (needDelimiter && (c == ' ' || QChar::isLetterOrNumber(uchar(c)) || c == '-'))
            out += ' ';
        out += c;
        needDelimiter = false;
    };
    for (const QChar qc : text) {
        const char16_t ch = qc.unicode();
        switch (ch) {
        case u'\\':
            out += "\\\\";
            needDelimiter = false;
            continue;
        case u'{':
            out += "\\{";
            needDelimiter = false;
            continue;
        case u'}':
            out += "\\}";
            needDelimiter = false;
            continue;
        case u'\t':
            word("\\tab");
            continue;
        case 0x2028:
        case u'\n':
            word("\\line");
            continue;
        case 0x00A0:
            out += "\\~";
            needDelimiter = false;
            continue;
        case 0xFFFC: // embedded objects (images) are not written
        case u'\r':
            continue;
        default:
            break;
        }
        if (ch < 0x20)
            continue;
        if (ch < 0x80) {
            literal(char(ch));
            continue;
        }
        const QByteArray fallback = gbkBytes(ch);
        if (fallback.size() != uc) {
            uc = int(fallback.size());
            word("\\uc" + QByteArray::number(uc));
        }
        word("\\u" + QByteArray::number(qint16(ch)));
        for (const char b : fallback) {
            const uchar u = uchar(b);
            if (u >= 0x80 || u == '\\' || u == '{' || u == '}') {
                static const char hex[] = "0123456789abcdef";
                out += "\\'";
                out += hex[u >> 4];
                out += hex[u & 15];
                needDelimiter = false;
            } else {
                literal(char(u));
            }
        }
    }
    if (needDelimiter)
        out += ' ';
    return out;
}

QByteArray Emitter::charProps(const QTextCharFormat &f)
{
    QByteArray p = "\\f" + QByteArray::number(fontIndex(familyOf(f)));
    p += "\\fs" + QByteArray::number(std::lround(pointSizeOf(f) * 2));
    if (f.fontWeight() >= QFont::DemiBold)
        p += "\\b";
    if (f.fontItalic())
        p += "\\i";
    if (f.fontUnderline())
        p += "\\ul";
    if (f.fontStrikeOut())
        p += "\\strike";
    if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript)
        p += "\\super";
    else if (f.verticalAlignment() == QTextCharFormat::AlignSubScript)
        p += "\\sub";
    if (f.foreground().style() != Qt::NoBrush)
        p += "\\cf" + QByteArray::number(colorIndex(f.foreground().color()));
    if (f.background().style() != Qt::NoBrush) {
        const QByteArray n = QByteArray::number(colorIndex(f.background().color()));
        p += "\\chcbpat" + n + "\\highlight" + n;
    }
    return p;
}

void Emitter::writeListPrefix(const QTextBlock &block, QTextList *list, QByteArray &out)
{
    const QTextListFormat lf = list->format();
    const int level = std::clamp(lf.indent(), 1, 9);
    const QTextListFormat::Style style = lf.style();
    const bool bullet = style == QTextListFormat::ListDisc ||
                        style == QTextListFormat::ListCircle ||
                        style == QTextListFormat::ListSquare;
    QByteArray pn = "{\\*\\pn";
    QByteArray shown; // the item's number or bullet as a reader without numbering shows it
    if (bullet) {
        pn += "\\pnlvlblt\\pnf" + QByteArray::number(m_symbolFont) + "\\pnindent0{\\pntxtb\\'b7}}";
        shown = "{\\pntext\\f" + QByteArray::number(m_symbolFont) + "\\'b7\\tab}";
    } else {
        pn += "\\pnlvlbody\\pnf0\\pnindent0\\pnstart1";
        switch (style) {
        case QTextListFormat::ListLowerAlpha:
            pn += "\\pnlcltr";
            break;
        case QTextListFormat::ListUpperAlpha:
            pn += "\\pnucltr";
            break;
        case QTextListFormat::ListLowerRoman:
            pn += "\\pnlcrm";
            break;
        case QTextListFormat::ListUpperRoman:
            pn += "\\pnucrm";
            break;
        default:
            pn += "\\pndec";
            break;
        }
        pn += "{\\pntxta.}}";
        int uc = 1;
        shown = "{\\pntext\\f0" + escape(list->itemText(block), uc) + "\\tab}";
    }
    const int left = level * kListIndentTwips + unitsToTwips(block.blockFormat().leftMargin());
    out += pn + "\\fi-360\\li" + QByteArray::number(left) + ' ' + shown;
}

void Emitter::writeBlock(const QTextBlock &block, bool inTable, const QByteArray &end)
{
    QByteArray &out = m_body;
    const QTextBlockFormat bf = block.blockFormat();
    out += "\\pard";
    if (inTable)
        out += "\\intbl";
    if (bf.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
        out += "\\pagebb";
    switch (bf.alignment() & Qt::AlignHorizontal_Mask) {
    case Qt::AlignHCenter:
    case Qt::AlignCenter:
        out += "\\qc";
        break;
    case Qt::AlignRight:
        out += "\\qr";
        break;
    case Qt::AlignJustify:
        out += "\\qj";
        break;
    default:
        out += "\\ql";
        break;
    }
    if (const int ri = unitsToTwips(bf.rightMargin()))
        out += "\\ri" + QByteArray::number(ri);
    if (const int sb = unitsToTwips(bf.topMargin()))
        out += "\\sb" + QByteArray::number(sb);
    if (const int sa = unitsToTwips(bf.bottomMargin()))
        out += "\\sa" + QByteArray::number(sa);
    switch (bf.lineHeightType()) {
    case QTextBlockFormat::ProportionalHeight:
        if (bf.lineHeight() > 0 && std::lround(bf.lineHeight()) != 100)
            out += "\\sl" + QByteArray::number(std::lround(bf.lineHeight() * 2.4)) + "\\slmult1";
        break;
    case QTextBlockFormat::MinimumHeight:
        out += "\\sl" + QByteArray::number(unitsToTwips(bf.lineHeight())) + "\\slmult0";
        break;
    case QTextBlockFormat::FixedHeight:
        out += "\\sl-" + QByteArray::number(unitsToTwips(bf.lineHeight())) + "\\slmult0";
        break;
    default:
        break;
    }
    // The paragraph's own character settings stand outside the runs, so an empty
    // paragraph keeps its font and height.
    out += "\\plain" + charProps(block.charFormat());
    if (QTextList *list = block.textList()) {
        writeListPrefix(block, list, out);
    } else {
        if (const int li = unitsToTwips(bf.leftMargin() + bf.indent() * m_doc->indentWidth()))
            out += "\\li" + QByteArray::number(li);
        if (const int fi = unitsToTwips(bf.textIndent()))
            out += "\\fi" + QByteArray::number(fi);
        out += ' ';
    }
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid() || fragment.text().isEmpty())
            continue;
        const QTextCharFormat f = fragment.charFormat();
        if (f.isImageFormat()) {
            for (qsizetype i = 0; i < fragment.text().size(); ++i)
                out += picture(f.toImageFormat());
            continue;
        }
        int uc = 1;
        QByteArray run = "{" + charProps(f) + escape(fragment.text(), uc) + "}";
        if (f.isAnchor() && !f.anchorHref().isEmpty()) {
            int instUc = 1;
            run = "{\\field{\\*\\fldinst{HYPERLINK \"" + escape(f.anchorHref(), instUc, false) +
                  "\"}}{\\fldrslt" + run + "}}";
        }
        out += run;
    }
    out += end;
}

// An image as a PNG picture group, at the size it is shown.
QByteArray Emitter::picture(const QTextImageFormat &format) const
{
    const QVariant resource = m_doc->resource(QTextDocument::ImageResource, QUrl(format.name()));
    QImage image;
    if (resource.canConvert<QImage>())
        image = resource.value<QImage>();
    if (image.isNull() && resource.canConvert<QPixmap>())
        image = resource.value<QPixmap>().toImage();
    if (image.isNull() && resource.canConvert<QByteArray>())
        image.loadFromData(resource.toByteArray());
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    const double width = format.width() > 0 ? format.width() : image.width();
    const double height = format.height() > 0 ? format.height() : image.height();
    QByteArray out = "{\\pict\\pngblip\\picw" + QByteArray::number(image.width()) + "\\pich" +
                     QByteArray::number(image.height()) + "\\picwgoal" +
                     QByteArray::number(unitsToTwips(width)) + "\\pichgoal" +
                     QByteArray::number(unitsToTwips(height)) + "\r\n";
    const QByteArray hex = png.toHex();
    for (qsizetype i = 0; i < hex.size(); i += 128)
        out += hex.mid(i, 128) + "\r\n";
    out += '}';
    return out;
}

void Emitter::writeFrame(const QTextFrame *frame)
{
    for (auto it = frame->begin(); !it.atEnd(); ++it) {
        if (const QTextFrame *child = it.currentFrame()) {
            if (const auto *table = qobject_cast<const QTextTable *>(child))
                writeTable(table);
            else
                writeFrame(child);
        } else if (it.currentBlock().isValid()) {
            writeBlock(it.currentBlock(), false, "\\par\r\n");
        }
    }
}

namespace {

// The paragraphs of a cell; tables inside the cell are flattened into it.
void cellBlocks(QTextFrame::iterator it, QList<QTextBlock> &blocks)
{
    for (; !it.atEnd(); ++it) {
        if (const QTextFrame *child = it.currentFrame())
            cellBlocks(child->begin(), blocks);
        else if (it.currentBlock().isValid())
            blocks << it.currentBlock();
    }
}

} // namespace

void Emitter::writeTable(const QTextTable *table)
{
    // Right edges of the columns in twips: fixed widths as given, percentages of a text
    // width of 9000 twips (A4 with Word's margins), the rest shares what is left.
    constexpr double kTextWidth = 9000;
    const int columns = table->columns();
    const QList<QTextLength> constraints = table->format().columnWidthConstraints();
    QList<double> widths(columns, 0);
    double used = 0;
    int open = 0;
    for (int c = 0; c < columns; ++c) {
        const QTextLength l = constraints.value(c);
        if (l.type() == QTextLength::FixedLength)
            widths[c] = l.rawValue() * kTwipsPerUnit;
        else if (l.type() == QTextLength::PercentageLength)
            widths[c] = l.rawValue() * kTextWidth / 100;
        else
            ++open;
        used += widths[c];
    }
    for (int c = 0; c < columns; ++c) {
        if (widths[c] <= 0)
            widths[c] = std::max(360.0, (kTextWidth - used) / std::max(1, open));
    }
    QList<int> rights;
    double right = 0;
    for (double w : widths)
        rights << int(std::lround(right += w));

    static const QByteArray borders = "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10"
                                      "\\clbrdrb\\brdrs\\brdrw10\\clbrdrr\\brdrs\\brdrw10";
    for (int r = 0; r < table->rows(); ++r) {
        QByteArray &out = m_body;
        out += "\\trowd\\trgaph108\\trleft0";
        // Every column gets a cell; the covered parts of merged cells are marked as
        // continuing the merge (\clvmrg downwards, \clmrg sideways) and stay empty.
        QList<bool> holds;
        for (int c = 0; c < columns; ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            out += borders;
            const bool below = cell.row() != r;
            const bool beside = cell.column() != c;
            if (below)
                out += "\\clvmrg";
            else if (!beside && cell.rowSpan() > 1)
                out += "\\clvmgf";
            if (beside)
                out += "\\clmrg";
            else if (cell.columnSpan() > 1)
                out += "\\clmgf";
            out += "\\cellx" + QByteArray::number(rights[c]);
            holds << (!below && !beside);
        }
        out += "\r\n";
        for (int c = 0; c < columns; ++c) {
            QList<QTextBlock> blocks;
            if (holds[c])
                cellBlocks(table->cellAt(r, c).begin(), blocks);
            if (blocks.isEmpty()) { // a covered part of a merged cell holds nothing
                out += "\\pard\\intbl\\plain\\cell\r\n";
                continue;
            }
            for (qsizetype i = 0; i < blocks.size(); ++i)
                writeBlock(blocks[i], true, i + 1 < blocks.size() ? "\\par\r\n" : "\\cell\r\n");
        }
        out += "\\row\r\n";
    }
}

QByteArray Emitter::run()
{
    collect();
    writeFrame(m_doc->rootFrame());

    QByteArray out = "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052";
    out += "{\\fonttbl";
    for (qsizetype i = 0; i < m_fonts.size(); ++i) {
        const QString &family = m_fonts[i];
        const bool symbol = i == m_symbolFont;
        // Every text font declares the Chinese character set: the fallback bytes after each
        // Unicode escape are GBK, so a reader that ignores the escapes decodes them right.
        const int charset = symbol ? 2 : kChineseCharset;
        int uc = 1;
        out += "{\\f" + QByteArray::number(i) + (symbol ? "\\ftech" : "\\fnil") + "\\fcharset" +
               QByteArray::number(charset) + escape(family, uc) + ";}";
    }
    out += "}\r\n{\\colortbl ;";
    for (qsizetype i = 1; i < m_colors.size(); ++i) {
        const QColor &c = m_colors[i];
        out += "\\red" + QByteArray::number(c.red()) + "\\green" + QByteArray::number(c.green()) +
               "\\blue" + QByteArray::number(c.blue()) + ';';
    }
    out += "}\r\n{\\*\\generator Waylink RichEdit;}\\viewkind4\\uc1\r\n";
    out += m_body;
    out += "}\r\n";
    return out;
}

} // namespace

QByteArray RtfWriter::write(const QTextDocument *document) const
{
    if (!document)
        return {};
    Emitter emitter(document);
    return emitter.run();
}

bool RtfWriter::write(const QTextDocument *document, QIODevice *device) const
{
    if (!device)
        return false;
    const QByteArray data = write(document);
    return device->write(data) == data.size();
}

} // namespace richedit
