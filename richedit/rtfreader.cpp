#include "rtfreader.h"

#include "codepage.h"
#include "rtfunits.h"

#include <QAtomicInt>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <vector>

namespace richedit {

namespace {

enum class Dest {
    Text,             // document body: text goes into the document
    Skip,             // ignorable or unknown destination: everything is dropped
    FontTable,        // \fonttbl and its entries
    ColorTable,       // \colortbl
    ListTable,        // \listtable and its \list / \listlevel groups
    ListOverrides,    // \listoverridetable
    ParaNumbering,    // {\*\pn ...}: numbering of the enclosing paragraph
    FieldInstruction, // {\*\fldinst ...}
    Picture           // {\pict ...}: image data in hexadecimal or binary
};

enum class ListKind { None, Bullet, Decimal, LowerAlpha, UpperAlpha, LowerRoman, UpperRoman };

struct CharState
{
    int font = -1; // font number of the font table; -1 = the default font
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    int vertical = 0; // 0 normal, 1 superscript, 2 subscript
    int foreground = 0;
    int background = 0;
    // East Asian ("associated") properties: set by \af, \afs, \ab, \ai after \dbch and
    // used for Chinese, Japanese and Korean characters; -1 = same as the main ones.
    int eaFont = -1;
    int eaHalfPoints = -1;
    int eaBold = -1;
    int eaItalic = -1;
    bool dbch = false; // \af... currently describe the East Asian text

    bool operator==(const CharState &) const = default;
};

struct ParaState
{
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftIndent = 0; // twips
    int rightIndent = 0;
    int firstIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    bool inTable = false; // \intbl: the paragraph belongs to a table cell
    int lineSpacing = 0;  // \sl, twips (negative: exact)
    bool lineMultiple = false;
    // Numbering: either a list-table reference (\lsN \ilvlN) or a paragraph-numbering group.
    int listOverride = 0;
    int listLevel = 0;
    ListKind pnKind = ListKind::None;
    int pnLevel = 0;
};

struct GroupState
{
    Dest dest = Dest::Text;
    CharState chars;
    ParaState para;
    int uc = 1;
    QString href;            // target of the hyperlink field this text belongs to
    bool fieldGroup = false; // this group opened a \field
    bool pictGroup = false;  // this group opened a \pict
};

struct PictureData
{
    QByteArray hex;
    QByteArray binary;
    QByteArray format; // "png", "jpg" or empty for kinds that cannot be shown
    int width = 0;     // \picw, \pich: pixels for bitmaps
    int height = 0;
    int goalWidth = 0; // \picwgoal, \pichgoal: twips
    int goalHeight = 0;
    int scaleX = 100;
    int scaleY = 100;
};

// One cell of a table row definition (\clvmgf, \clvmrg ... \cellxN).
struct CellDef
{
    int right = 0;           // right edge in twips
    bool mergeDown = false;  // first cell of a vertical merge
    bool mergedUp = false;   // continues the merge of the cell above
    bool mergedLeft = false; // continues the merge of the cell to the left (\clmrg)

    bool operator==(const CellDef &) const = default;
};

struct FontDef
{
    QString name;
    int charset = -1;
};

struct ListLevelDef
{
    int nfc = 0;
};

struct ListDef
{
    int id = 0;
    QList<ListLevelDef> levels;
};

constexpr int kMaxDepth = 4000;

bool isEastAsian(QChar ch)
{
    const char16_t u = ch.unicode();
    return (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7AF) ||
           (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) ||
           (u >= 0xFF00 && u <= 0xFFEF);
}
constexpr int kMaxWordLength = 32;

class Parser
{
public:
    Parser(const QByteArray &data, QTextDocument *document, QStringList &warnings)
        : m_data(data)
        , m_doc(document)
        , m_warnings(warnings)
        , m_cursor(document)
    {}

    void run();

private:
    // Tokens.
    void controlWord(const QByteArray &word, bool hasParam, int param);
    void controlSymbol(char symbol);
    void hexByte(uchar byte);
    void literalByte(uchar byte);
    void unicodeChar(int value);
    void pushGroup();
    void popGroup();

    // Text flow.
    GroupState &state() { return m_stack.back(); }
    int currentCodepage();
    void addByte(uchar byte);
    void addText(const QString &text);
    void flushBytes();
    void deliverText(const QString &text);
    void flushRun();
    void insertText(const QString &text);
    void ensureBlock();
    void syncTable();
    void openTable();
    void moveToCell();
    void closeTable();
    void endCell();
    void endRow();
    void endParagraph();
    void finishBlock();
    QTextCharFormat charFormat(bool eastAsian = false) const;
    QTextBlockFormat blockFormat() const;
    void applyList(QTextBlock block);
    ListKind listKindForOverride(int ls, int level) const;
    void commitFont();
    void commitColor();
    void finishPicture();
    void beginDestination(Dest dest) { state().dest = dest; }

    const QByteArray &m_data;
    QTextDocument *m_doc;
    QStringList &m_warnings;
    QTextCursor m_cursor;

    std::vector<GroupState> m_stack;
    int m_overflowDepth = 0; // groups beyond kMaxDepth, counted but not kept
    bool m_finished = false;
    bool m_starPending = false;
    int m_skipChars = 0; // fallback characters still to drop after \uN

    int m_ansiCodepage = 1252;
    int m_defaultFont = -1;
    QHash<int, FontDef> m_fonts;
    int m_fontNumber = -1;
    QByteArray m_fontNameBytes;
    QString m_fontName;
    int m_fontCharset = -1;
    QList<QColor> m_colors;
    int m_red = -1, m_green = -1, m_blue = -1;
    QList<ListDef> m_lists;
    QHash<int, int> m_overrides; // \ls number -> list id
    int m_pendingOverrideId = 0;
    int m_pendingOverrideLs = 0;
    QStringList m_fieldInstructions; // one per open \field
    PictureData m_picture;

    QByteArray m_bytes;
    int m_bytesCodepage = 0;
    QString m_run;
    CharState m_runChars;
    QString m_runHref;
    bool m_runHasFormat = false;
    bool m_pendingCellTab = false;

    bool m_freshBlock = true; // the cursor's block is empty and waits for the next paragraph

    // The table being filled: cells of the current row are filled left to right; the
    // cursor moves to the next cell or row only when its content arrives.
    QTextTable *m_table = nullptr;
    int m_row = 0;
    int m_col = 0;
    bool m_cellEnded = false;
    bool m_rowEnded = false;
    QList<CellDef> m_rowDef;
    CellDef m_pendingCell;
    bool m_blockOpen = false;
    bool m_pageBreakBefore = false;
    QHash<QString, QPointer<QTextList>> m_listsInUse;
    QString m_lastListKey;
};

void Parser::run()
{
    const qsizetype n = m_data.size();
    qsizetype pos = m_data.indexOf('{');
    while (pos < n && !m_finished) {
        const char c = m_data[pos];
        if (c == '{') {
            m_skipChars = 0;
            pushGroup();
            ++pos;
            continue;
        }
        if (c == '}') {
            m_skipChars = 0;
            ++pos;
            if (m_stack.size() == 1 && m_overflowDepth == 0) {
                // A closing brace too many ends the document early; when text follows,
                // read on rather than drop it.
                qsizetype rest = pos;
                while (rest < n && (m_data[rest] == '}' || m_data[rest] == '\0' ||
                                    QChar::isSpace(uchar(m_data[rest]))))
                    ++rest;
                if (rest < n) {
                    m_warnings << QStringLiteral("多余的右括号");
                    continue;
                }
            }
            popGroup();
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++pos;
            continue;
        }
        if (c != '\\') {
            ++pos;
            if (m_skipChars > 0) {
                --m_skipChars;
                continue;
            }
            if (c == '\t')
                controlWord("tab", false, 0);
            else
                literalByte(uchar(c));
            continue;
        }
        // Backslash: control word, hex byte or control symbol.
        ++pos;
        if (pos >= n) {
            m_warnings << QStringLiteral("文件在控制字处截断");
            break;
        }
        const char next = m_data[pos];
        if (next == '\'') {
            int value = -1;
            if (pos + 2 < n && std::isxdigit(uchar(m_data[pos + 1])) &&
                std::isxdigit(uchar(m_data[pos + 2])))
                value = m_data.mid(pos + 1, 2).toInt(nullptr, 16);
            pos = std::min(pos + 3, n);
            if (value < 0) {
                m_warnings << QStringLiteral("无效的十六进制字符");
                continue;
            }
            if (m_skipChars > 0) {
                --m_skipChars;
                continue;
            }
            hexByte(uchar(value));
            continue;
        }
        if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z')) {
            const qsizetype start = pos;
            while (pos < n && pos - start < kMaxWordLength &&
                   ((m_data[pos] >= 'a' && m_data[pos] <= 'z') ||
                    (m_data[pos] >= 'A' && m_data[pos] <= 'Z')))
                ++pos;
            const QByteArray word = m_data.mid(start, pos - start);
            bool hasParam = false;
            bool negative = false;
            qint64 param = 0;
            if (pos < n && m_data[pos] == '-' && pos + 1 < n && m_data[pos + 1] >= '0' &&
                m_data[pos + 1] <= '9') {
                negative = true;
                ++pos;
            }
            int digits = 0;
            while (pos < n && m_data[pos] >= '0' && m_data[pos] <= '9') {
                if (digits < 10)
                    param = param * 10 + (m_data[pos] - '0');
                ++digits;
                ++pos;
                hasParam = true;
            }
            param = std::clamp<qint64>(negative ? -param : param, -2147483647LL, 2147483647LL);
            if (pos < n && m_data[pos] == ' ')
                ++pos;
            if (word == "bin") {
                // Raw binary data: skip it whole, it never holds text.
                const qint64 count = std::max<qint64>(0, param);
                if (pos + count > n) {
                    m_warnings << QStringLiteral("二进制数据被截断");
                    pos = n;
                } else {
                    if (!m_stack.empty() && state().dest == Dest::Picture)
                        m_picture.binary.append(m_data.mid(pos, count));
                    pos += count;
                }
                continue;
            }
            if (m_skipChars > 0) {
                --m_skipChars;
                continue;
            }
            controlWord(word, hasParam, int(param));
            continue;
        }
        ++pos;
        if (next == '\r' || next == '\n') {
            controlWord("par", false, 0);
            continue;
        }
        if (m_skipChars > 0 && next != '*') {
            --m_skipChars;
            continue;
        }
        controlSymbol(next);
    }
    if (!m_finished) {
        if (!m_stack.empty())
            m_warnings << QStringLiteral("文件不完整：缺少 %1 个右括号")
                              .arg(m_stack.size() + m_overflowDepth);
        // Close what is open so the text read so far reaches the document.
        while (!m_stack.empty())
            popGroup();
    }
}

void Parser::pushGroup()
{
    flushRun();
    if (m_finished)
        return;
    if (m_stack.size() >= kMaxDepth) {
        if (m_overflowDepth == 0)
            m_warnings << QStringLiteral("组嵌套过深，内层内容被忽略");
        ++m_overflowDepth;
        return;
    }
    if (m_stack.empty()) {
        m_stack.emplace_back();
    } else {
        GroupState copy = m_stack.back();
        copy.fieldGroup = false;
        copy.pictGroup = false;
        m_stack.push_back(copy);
    }
    m_starPending = false;
}

void Parser::popGroup()
{
    if (m_overflowDepth > 0) {
        --m_overflowDepth;
        return;
    }
    flushRun();
    if (m_stack.empty()) {
        return;
    }
    if (m_stack.size() == 1) {
        finishBlock();
        m_stack.pop_back();
        m_finished = true;
        return;
    }
    const GroupState popped = m_stack.back();
    if (popped.dest == Dest::FontTable && m_fontNumber >= 0)
        commitFont();
    m_stack.pop_back();
    if (popped.fieldGroup && !m_fieldInstructions.isEmpty())
        m_fieldInstructions.removeLast();
    if (popped.pictGroup)
        finishPicture();
    // The numbering group describes the paragraph that contains it.
    if (popped.dest == Dest::ParaNumbering && state().dest == Dest::Text) {
        state().para.pnKind = popped.para.pnKind;
        state().para.pnLevel = popped.para.pnLevel;
    }
    if (popped.dest == Dest::ListOverrides && m_pendingOverrideLs != 0) {
        m_overrides.insert(m_pendingOverrideLs, m_pendingOverrideId);
        m_pendingOverrideLs = 0;
        m_pendingOverrideId = 0;
    }
}

int Parser::currentCodepage()
{
    const GroupState &s = state();
    int charset = -1;
    if (s.dest == Dest::FontTable) {
        charset = m_fontCharset;
    } else if (s.dest == Dest::Text) {
        const int font = s.chars.font >= 0 ? s.chars.font : m_defaultFont;
        charset = m_fonts.value(font).charset;
    }
    if (charset == 2) // symbol fonts: show the bytes as they are
        return 1252;
    const int cp = charset < 0 ? 0 : detail::codepageForCharset(charset);
    return cp ? cp : m_ansiCodepage;
}

void Parser::addByte(uchar byte)
{
    const Dest d = state().dest;
    if (d != Dest::Text && d != Dest::FontTable && d != Dest::FieldInstruction)
        return;
    const int cp = currentCodepage();
    if (!m_bytes.isEmpty() && cp != m_bytesCodepage)
        flushBytes();
    m_bytesCodepage = cp;
    m_bytes.append(char(byte));
}

void Parser::flushBytes()
{
    if (m_bytes.isEmpty())
        return;
    const QString text = detail::decodeCodepage(m_bytes, m_bytesCodepage);
    m_bytes.clear();
    deliverText(text);
}

void Parser::addText(const QString &text)
{
    flushBytes();
    deliverText(text);
}

// Decoded text goes where the current destination collects it.
void Parser::deliverText(const QString &text)
{
    switch (state().dest) {
    case Dest::FontTable:
        m_fontName += text;
        break;
    case Dest::FieldInstruction:
        if (!m_fieldInstructions.isEmpty())
            m_fieldInstructions.last() += text;
        break;
    case Dest::Text:
        insertText(text);
        break;
    default:
        break;
    }
}

// Text of one formatting collects in m_run and reaches the document in one insertion.
void Parser::insertText(const QString &text)
{
    const GroupState &s = state();
    if (s.chars.hidden || text.isEmpty())
        return;
    if (m_pendingCellTab) {
        m_pendingCellTab = false;
        insertText(QStringLiteral("\t"));
    }
    if (!m_run.isEmpty() && (m_runHref != s.href || !(m_runChars == s.chars)))
        flushRun();
    if (m_run.isEmpty()) {
        m_runChars = s.chars;
        m_runHref = s.href;
        m_runHasFormat = true;
    }
    m_run += text;
}

void Parser::flushRun()
{
    flushBytes();
    if (m_run.isEmpty())
        return;
    ensureBlock();
    const CharState &c = m_runChars;
    if (c.eaFont < 0 && c.eaHalfPoints < 0 && c.eaBold < 0 && c.eaItalic < 0) {
        m_cursor.insertText(m_run, charFormat());
    } else {
        // East Asian characters take the associated properties, the rest the main ones.
        qsizetype start = 0;
        while (start < m_run.size()) {
            const bool eastAsian = isEastAsian(m_run[start]);
            qsizetype end = start + 1;
            while (end < m_run.size() && isEastAsian(m_run[end]) == eastAsian)
                ++end;
            m_cursor.insertText(m_run.mid(start, end - start), charFormat(eastAsian));
            start = end;
        }
    }
    m_run.clear();
    m_runHasFormat = false;
}

QTextCharFormat Parser::charFormat(bool eastAsian) const
{
    const CharState &c = m_runHasFormat ? m_runChars : m_stack.back().chars;
    QTextCharFormat f;
    int fontNumber = c.font >= 0 ? c.font : m_defaultFont;
    int halfPoints = c.halfPoints;
    bool bold = c.bold;
    bool italic = c.italic;
    if (eastAsian) {
        if (c.eaFont >= 0 && m_fonts.contains(c.eaFont))
            fontNumber = c.eaFont;
        if (c.eaHalfPoints > 0)
            halfPoints = c.eaHalfPoints;
        if (c.eaBold >= 0)
            bold = c.eaBold;
        if (c.eaItalic >= 0)
            italic = c.eaItalic;
    }
    const auto font = m_fonts.constFind(fontNumber);
    if (font != m_fonts.constEnd() && !font->name.isEmpty())
        f.setFontFamilies({font->name});
    f.setFontPointSize(std::clamp(halfPoints, 2, 3276) / 2.0);
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(italic);
    f.setFontUnderline(c.underline);
    f.setFontStrikeOut(c.strike);
    if (c.vertical == 1)
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (c.vertical == 2)
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    if (c.foreground > 0 && c.foreground < m_colors.size() && m_colors[c.foreground].isValid())
        f.setForeground(m_colors[c.foreground]);
    if (c.background > 0 && c.background < m_colors.size() && m_colors[c.background].isValid())
        f.setBackground(m_colors[c.background]);
    const QString &href = m_runHasFormat ? m_runHref : m_stack.back().href;
    if (!href.isEmpty()) {
        f.setAnchor(true);
        f.setAnchorHref(href);
    }
    return f;
}

QTextBlockFormat Parser::blockFormat() const
{
    const ParaState &p = m_stack.empty() ? ParaState() : m_stack.back().para;
    QTextBlockFormat f;
    f.setAlignment(p.alignment);
    const bool listed = p.listOverride > 0 || p.pnKind != ListKind::None;
    if (!listed) {
        f.setLeftMargin(twipsToUnits(std::max(0, p.leftIndent)));
        f.setTextIndent(twipsToUnits(p.firstIndent));
    }
    f.setRightMargin(twipsToUnits(std::max(0, p.rightIndent)));
    f.setTopMargin(twipsToUnits(std::max(0, p.spaceBefore)));
    f.setBottomMargin(twipsToUnits(std::max(0, p.spaceAfter)));
    if (p.lineSpacing != 0) {
        if (p.lineMultiple && p.lineSpacing > 0)
            f.setLineHeight(p.lineSpacing * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
        else if (p.lineSpacing > 0)
            f.setLineHeight(twipsToUnits(p.lineSpacing), QTextBlockFormat::MinimumHeight);
        else
            f.setLineHeight(twipsToUnits(-p.lineSpacing), QTextBlockFormat::FixedHeight);
    }
    if (m_pageBreakBefore)
        f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    return f;
}

void Parser::ensureBlock()
{
    if (m_blockOpen)
        return;
    syncTable();
    if (m_freshBlock)
        m_freshBlock = false;
    else
        m_cursor.insertBlock(QTextBlockFormat(), charFormat());
    m_blockOpen = true;
}

// Brings the cursor where the next paragraph belongs: into a table (opening it, or moving
// on to the next cell or row) when the paragraph is a cell's, after the table otherwise.
void Parser::syncTable()
{
    if (!state().para.inTable) {
        if (m_table)
            closeTable();
        return;
    }
    if (!m_table) {
        openTable();
    } else if (m_rowEnded) {
        m_table->appendRows(1);
        ++m_row;
        m_col = 0;
        m_rowEnded = m_cellEnded = false;
        moveToCell();
    } else if (m_cellEnded) {
        ++m_col;
        m_cellEnded = false;
        moveToCell();
    }
}

void Parser::openTable()
{
    QTextTableFormat format;
    format.setBorder(1);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderCollapse(true);
    format.setCellSpacing(0);
    format.setCellPadding(4);
    QList<QTextLength> widths;
    int left = 0;
    for (const CellDef &cell : m_rowDef) {
        if (cell.right <= left) {
            widths.clear();
            break;
        }
        widths << QTextLength(QTextLength::FixedLength, twipsToUnits(cell.right - left));
        left = cell.right;
    }
    if (!widths.isEmpty())
        format.setColumnWidthConstraints(widths);
    const int columns = std::clamp(int(m_rowDef.size()), 1, 63);
    m_table = m_cursor.insertTable(1, columns, format);
    m_row = m_col = 0;
    m_rowEnded = m_cellEnded = false;
    moveToCell();
}

void Parser::moveToCell()
{
    while (m_col >= m_table->columns())
        m_table->appendColumns(1);
    m_cursor = m_table->cellAt(m_row, m_col).firstCursorPosition();
    m_freshBlock = true;
    m_blockOpen = false;
}

void Parser::closeTable()
{
    m_cursor = m_table->lastCursorPosition();
    m_cursor.movePosition(QTextCursor::NextBlock);
    m_table = nullptr;
    m_freshBlock = true;
    m_blockOpen = false;
}

void Parser::endCell()
{
    flushRun();
    syncTable();
    if (!m_table) { // a cell mark outside any table: keep the cells apart by a tab
        m_pendingCellTab = true;
        return;
    }
    if (m_blockOpen || !m_freshBlock)
        endParagraph();
    m_cellEnded = true;
}

void Parser::endRow()
{
    flushRun();
    m_pendingCellTab = false;
    if (!m_table) {
        if (m_blockOpen)
            endParagraph();
        return;
    }
    if (m_blockOpen)
        endParagraph();
    // Cells that continue a horizontal merge join the cell to their left, those that
    // continue a vertical merge the cell above them.
    for (int c = 1; c < m_rowDef.size() && c < m_table->columns(); ++c) {
        if (!m_rowDef[c].mergedLeft)
            continue;
        const QTextTableCell left = m_table->cellAt(m_row, c - 1);
        if (left.isValid() && left.rowSpan() == 1)
            m_table->mergeCells(m_row, left.column(), 1, c - left.column() + 1);
    }
    for (int c = 0; c < m_rowDef.size() && c < m_table->columns() && m_row > 0; ++c) {
        if (!m_rowDef[c].mergedUp)
            continue;
        const QTextTableCell here = m_table->cellAt(m_row, c);
        const QTextTableCell above = m_table->cellAt(m_row - 1, c);
        if (here.column() != c || here.row() != m_row) // handled at the merge's first column
            continue;
        if (above.isValid() && above.column() == c && above.columnSpan() == here.columnSpan())
            m_table->mergeCells(above.row(), c, m_row - above.row() + 1, here.columnSpan());
    }
    m_rowEnded = true;
    m_cellEnded = false;
}

void Parser::endParagraph()
{
    flushRun();
    m_pendingCellTab = false;
    ensureBlock();
    if (m_cursor.block().length() <= 1) // empty paragraph: its height follows the font
        m_cursor.setBlockCharFormat(charFormat());
    finishBlock();
}

void Parser::finishBlock()
{
    if (!m_blockOpen)
        return;
    m_blockOpen = false;
    QTextBlock block = m_cursor.block();
    m_cursor.setBlockFormat(blockFormat());
    m_pageBreakBefore = false;
    applyList(block);
}

ListKind Parser::listKindForOverride(int ls, int level) const
{
    const int id = m_overrides.value(ls, -1);
    for (const ListDef &list : m_lists) {
        if (list.id != id)
            continue;
        if (list.levels.isEmpty())
            return ListKind::Bullet;
        const int nfc = list.levels.value(std::clamp<int>(level, 0, list.levels.size() - 1)).nfc;
        switch (nfc) {
        case 0:
            return ListKind::Decimal;
        case 1:
            return ListKind::UpperRoman;
        case 2:
            return ListKind::LowerRoman;
        case 3:
            return ListKind::UpperAlpha;
        case 4:
            return ListKind::LowerAlpha;
        case 23:
            return ListKind::Bullet;
        case 255:
            return ListKind::None;
        default: // other counting systems are shown as plain numbers
            return ListKind::Decimal;
        }
    }
    // A list reference without a list table (or to an unknown list): keep the item as a
    // bulleted one rather than lose that it was listed.
    return ListKind::Bullet;
}

void Parser::applyList(QTextBlock block)
{
    const ParaState &p = state().para;
    ListKind kind = ListKind::None;
    int level = 0;
    QString key;
    if (p.listOverride > 0) {
        level = std::clamp(p.listLevel, 0, 8);
        kind = listKindForOverride(p.listOverride, level);
        key = QStringLiteral("ls%1/%2").arg(p.listOverride).arg(level);
    } else if (p.pnKind != ListKind::None) {
        kind = p.pnKind;
        level = std::clamp(p.pnLevel, 0, 8);
        key = QStringLiteral("pn%1/%2").arg(int(kind)).arg(level);
        // Paragraph numbering runs on only over neighbouring paragraphs.
        if (m_lastListKey != key)
            m_listsInUse.remove(key);
    }
    m_lastListKey = key;
    if (kind == ListKind::None)
        return;

    QTextListFormat::Style style = QTextListFormat::ListDisc;
    switch (kind) {
    case ListKind::Decimal:
        style = QTextListFormat::ListDecimal;
        break;
    case ListKind::LowerAlpha:
        style = QTextListFormat::ListLowerAlpha;
        break;
    case ListKind::UpperAlpha:
        style = QTextListFormat::ListUpperAlpha;
        break;
    case ListKind::LowerRoman:
        style = QTextListFormat::ListLowerRoman;
        break;
    case ListKind::UpperRoman:
        style = QTextListFormat::ListUpperRoman;
        break;
    default:
        break;
    }
    QPointer<QTextList> &list = m_listsInUse[key];
    if (list && list->format().style() == style) {
        list->add(block);
        return;
    }
    QTextListFormat format;
    format.setStyle(style);
    format.setIndent(std::max(level + 1, listIndentForTwips(p.leftIndent)));
    QTextCursor c(block);
    list = c.createList(format);
}

void Parser::commitFont()
{
    flushBytes();
    if (m_fontNumber >= 0) {
        FontDef def;
        def.name = m_fontName.trimmed();
        def.charset = m_fontCharset;
        m_fonts.insert(m_fontNumber, def);
    }
    m_fontNumber = -1;
    m_fontName.clear();
    m_fontCharset = -1;
}

void Parser::finishPicture()
{
    PictureData pict = std::move(m_picture);
    m_picture = PictureData();
    if (pict.format.isEmpty() || state().dest != Dest::Text || state().chars.hidden)
        return; // metafiles and pictures outside the text are not shown
    const QByteArray data = pict.binary.isEmpty() ? QByteArray::fromHex(pict.hex) : pict.binary;
    QImage image;
    if (data.isEmpty() || !image.loadFromData(data, pict.format.constData())) {
        m_warnings << QStringLiteral("无法读取的图片");
        return;
    }
    // Names stay unique in the process, so pictures pasted from one document into another
    // never replace each other.
    static QAtomicInt counter;
    const QUrl name(QStringLiteral("rtfimage://%1.%2")
                        .arg(counter.fetchAndAddRelaxed(1) + 1)
                        .arg(QString::fromLatin1(pict.format)));
    m_doc->addResource(QTextDocument::ImageResource, name, image);
    QTextImageFormat format;
    format.setName(name.toString());
    const double scaleX = std::clamp(pict.scaleX, 1, 10000) / 100.0;
    const double scaleY = std::clamp(pict.scaleY, 1, 10000) / 100.0;
    const double width = pict.goalWidth > 0 ? twipsToUnits(pict.goalWidth) : image.width();
    const double height = pict.goalHeight > 0 ? twipsToUnits(pict.goalHeight) : image.height();
    format.setWidth(std::clamp(width * scaleX, 1.0, 20000.0));
    format.setHeight(std::clamp(height * scaleY, 1.0, 20000.0));
    ensureBlock();
    m_cursor.insertImage(format);
}

void Parser::commitColor()
{
    if (m_red < 0 && m_green < 0 && m_blue < 0)
        m_colors << QColor(); // the automatic colour
    else
        m_colors << QColor(std::clamp(m_red, 0, 255), std::clamp(m_green, 0, 255),
                           std::clamp(m_blue, 0, 255));
    m_red = m_green = m_blue = -1;
}

void Parser::literalByte(uchar byte)
{
    const Dest d = state().dest;
    if (d == Dest::Picture) {
        if (std::isxdigit(byte))
            m_picture.hex.append(char(byte));
        return;
    }
    if (byte == ';' && d == Dest::FontTable) {
        commitFont();
        return;
    }
    if (byte == ';' && d == Dest::ColorTable) {
        commitColor();
        return;
    }
    addByte(byte);
}

void Parser::hexByte(uchar byte)
{
    addByte(byte);
}

void Parser::unicodeChar(int value)
{
    if (value < 0)
        value += 65536;
    if (value < 0 || value > 0xFFFF)
        return;
    addText(QString(QChar(char16_t(value))));
    m_skipChars = std::max(0, state().uc);
}

void Parser::controlSymbol(char symbol)
{
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
        literalByte(uchar(symbol));
        break;
    case '~':
        addText(QString(QChar(0x00A0)));
        break;
    case '_':
        addText(QString(QChar(0x2011)));
        break;
    case '*':
        m_starPending = true;
        return;
    case '-': // optional hyphen: not shown
    default:
        break;
    }
    m_starPending = false;
}

void Parser::controlWord(const QByteArray &word, bool hasParam, int param)
{
    const bool star = m_starPending;
    m_starPending = false;
    GroupState &s = state();
    const bool on = !hasParam || param != 0;

    // Text-producing words keep the current run.
    static const QHash<QByteArray, char16_t> specials = {
        {"tab", u'\t'},        {"line", 0x2028},    {"emdash", 0x2014},  {"endash", 0x2013},
        {"bullet", 0x2022},    {"lquote", 0x2018},  {"rquote", 0x2019},  {"ldblquote", 0x201C},
        {"rdblquote", 0x201D}, {"emspace", 0x2003}, {"enspace", 0x2002}, {"qmspace", 0x2005},
        {"zwj", 0x200D},       {"zwnj", 0x200C},    {"ltrmark", 0x200E}, {"rtlmark", 0x200F},
    };
    if (const auto it = specials.constFind(word); it != specials.constEnd()) {
        if (s.dest == Dest::Text)
            addText(QString(QChar(*it)));
        return;
    }
    if (word == "u") {
        unicodeChar(param);
        return;
    }
    if (word == "uc") {
        s.uc = std::clamp(param, 0, 10);
        return;
    }

    if (s.dest == Dest::Skip)
        return;

    // Destinations.
    static const QSet<QByteArray> skipped = {"stylesheet",  "info",
                                             "header",      "headerl",
                                             "headerr",     "headerf",
                                             "footer",      "footerl",
                                             "footerr",     "footerf",
                                             "footnote",    "annotation",
                                             "atnid",       "atnauthor",
                                             "xe",          "tc",
                                             "txe",         "rxe",
                                             "object",      "objdata",
                                             "pntext",      "pntxta",
                                             "pntxtb",      "listtext",
                                             "leveltext",   "levelnumbers",
                                             "listname",    "nonshppict",
                                             "shp",         "shpinst",
                                             "shptxt",      "sp",
                                             "sn",          "sv",
                                             "themedata",   "colorschememapping",
                                             "datastore",   "latentstyles",
                                             "revtbl",      "rsidtbl",
                                             "generator",   "xmlnstbl",
                                             "mmathPr",     "template",
                                             "userprops",   "docvar",
                                             "ftnsep",      "ftnsepc",
                                             "aftnsep",     "aftnsepc",
                                             "bkmkstart",   "bkmkend",
                                             "pgdsctbl",    "fchars",
                                             "lchars",      "panose",
                                             "falt",        "fname",
                                             "listpicture", "filetbl",
                                             "protusertbl", "wgrffmtfilter",
                                             "ftncn",       "aftncn"};
    if (word == "shppict") // Word's picture wrapper: its \pict is the one to show
        return;
    if (word == "pict") {
        flushRun();
        beginDestination(Dest::Picture);
        s.pictGroup = true;
        m_picture = PictureData();
        return;
    }
    if (word == "fonttbl") {
        flushRun();
        beginDestination(Dest::FontTable);
        return;
    }
    if (word == "colortbl") {
        flushRun();
        beginDestination(Dest::ColorTable);
        return;
    }
    if (word == "listtable") {
        beginDestination(Dest::ListTable);
        return;
    }
    if (word == "listoverridetable") {
        beginDestination(Dest::ListOverrides);
        return;
    }
    if (word == "pn" && s.dest == Dest::Text) {
        flushRun();
        beginDestination(Dest::ParaNumbering);
        s.para.pnKind = ListKind::Bullet;
        s.para.pnLevel = 0;
        return;
    }
    if (word == "field") {
        flushRun();
        s.fieldGroup = true;
        m_fieldInstructions << QString();
        return;
    }
    if (word == "fldinst") {
        flushRun();
        beginDestination(Dest::FieldInstruction);
        return;
    }
    if (word == "fldrslt") {
        flushRun();
        if (!m_fieldInstructions.isEmpty()) {
            static const QRegularExpression link(
                QStringLiteral("^\\s*HYPERLINK\\s+(?:\\\\l\\s+)?\"?([^\"\\s]+)\"?"),
                QRegularExpression::CaseInsensitiveOption);
            const auto m = link.match(m_fieldInstructions.last());
            if (m.hasMatch())
                s.href = m.captured(1);
        }
        return;
    }
    if (skipped.contains(word) || star) {
        flushRun();
        beginDestination(Dest::Skip);
        return;
    }
    if (s.dest == Dest::Skip)
        return;

    switch (s.dest) {
    case Dest::FontTable:
        if (word == "f") {
            if (m_fontNumber >= 0)
                commitFont();
            m_fontNumber = param;
            m_fontCharset = -1;
            m_fontName.clear();
        } else if (word == "fcharset") {
            flushBytes();
            m_fontCharset = param;
        }
        return;
    case Dest::ColorTable:
        if (word == "red")
            m_red = param;
        else if (word == "green")
            m_green = param;
        else if (word == "blue")
            m_blue = param;
        return;
    case Dest::ListTable:
        if (word == "list")
            m_lists.append(ListDef());
        else if (word == "listid" && !m_lists.isEmpty())
            m_lists.last().id = param;
        else if (word == "listlevel" && !m_lists.isEmpty())
            m_lists.last().levels.append(ListLevelDef());
        else if ((word == "levelnfc" || word == "levelnfcn") && !m_lists.isEmpty() &&
                 !m_lists.last().levels.isEmpty())
            m_lists.last().levels.last().nfc = param;
        return;
    case Dest::ListOverrides:
        if (word == "listoverride") {
            if (m_pendingOverrideLs != 0)
                m_overrides.insert(m_pendingOverrideLs, m_pendingOverrideId);
            m_pendingOverrideLs = 0;
            m_pendingOverrideId = 0;
        } else if (word == "listid") {
            m_pendingOverrideId = param;
        } else if (word == "ls") {
            m_pendingOverrideLs = param;
        }
        return;
    case Dest::ParaNumbering:
        if (word == "pnlvlblt")
            s.para.pnKind = ListKind::Bullet;
        else if (word == "pnlvlcont") // a paragraph continuing an item: no number of its own
            s.para.pnKind = ListKind::None;
        else if (word == "pnlvlbody" && s.para.pnKind == ListKind::Bullet)
            s.para.pnKind = ListKind::Decimal;
        else if (word == "pnlvl")
            s.para.pnLevel = std::clamp(param - 1, 0, 8);
        else if (word == "pndec")
            s.para.pnKind = ListKind::Decimal;
        else if (word == "pnlcltr")
            s.para.pnKind = ListKind::LowerAlpha;
        else if (word == "pnucltr")
            s.para.pnKind = ListKind::UpperAlpha;
        else if (word == "pnlcrm")
            s.para.pnKind = ListKind::LowerRoman;
        else if (word == "pnucrm")
            s.para.pnKind = ListKind::UpperRoman;
        return;
    case Dest::Picture:
        if (word == "pngblip")
            m_picture.format = "png";
        else if (word == "jpegblip")
            m_picture.format = "jpg";
        else if (word == "wmetafile" || word == "emfblip" || word == "macpict" ||
                 word == "dibitmap" || word == "wbitmap" || word == "pmmetafile")
            m_picture.format.clear();
        else if (word == "picw")
            m_picture.width = param;
        else if (word == "pich")
            m_picture.height = param;
        else if (word == "picwgoal")
            m_picture.goalWidth = param;
        else if (word == "pichgoal")
            m_picture.goalHeight = param;
        else if (word == "picscalex")
            m_picture.scaleX = param;
        else if (word == "picscaley")
            m_picture.scaleY = param;
        return;
    case Dest::FieldInstruction:
    case Dest::Skip:
        return;
    case Dest::Text:
        break;
    }

    // Document settings.
    if (word == "ansicpg") {
        if (param > 0)
            m_ansiCodepage = param;
        return;
    }
    if (word == "mac") {
        m_ansiCodepage = 10000;
        return;
    }
    if (word == "pc") {
        m_ansiCodepage = 437;
        return;
    }
    if (word == "pca") {
        m_ansiCodepage = 850;
        return;
    }
    if (word == "deff") {
        m_defaultFont = param;
        return;
    }

    flushRun();
    CharState &c = s.chars;
    ParaState &p = s.para;
    if (word == "par") {
        endParagraph();
    } else if (word == "cell") {
        endCell();
    } else if (word == "row") {
        endRow();
    } else if (word == "trowd") {
        m_rowDef.clear();
        m_pendingCell = CellDef();
    } else if (word == "clvmgf") {
        m_pendingCell.mergeDown = true;
    } else if (word == "clvmrg") {
        m_pendingCell.mergedUp = true;
    } else if (word == "clmrg") {
        m_pendingCell.mergedLeft = true;
    } else if (word == "cellx") {
        m_pendingCell.right = param;
        m_rowDef << m_pendingCell;
        m_pendingCell = CellDef();
    } else if (word == "intbl") {
        p.inTable = true;
    } else if (word == "itap") {
        p.inTable = param > 0;
    } else if (word == "sect" || word == "page" || word == "nestrow") {
        // These end the paragraph they stand in, but make no empty one after a \par.
        m_pendingCellTab = false;
        if (m_blockOpen)
            endParagraph();
        if (word == "page")
            m_pageBreakBefore = true;
    } else if (word == "nestcell") { // tables inside tables are flattened into their cell
        m_pendingCellTab = true;
    } else if (word == "plain") {
        c = CharState();
    } else if (word == "pard") {
        p = ParaState();
    } else if (word == "f") {
        c.font = param;
    } else if (word == "fs") {
        c.halfPoints = hasParam ? param : 24;
    } else if (word == "b") {
        c.bold = on;
    } else if (word == "i") {
        c.italic = on;
    } else if (word == "ul" || word == "uld" || word == "uldash" || word == "uldashd" ||
               word == "uldashdd" || word == "uldb" || word == "ulth" || word == "ulw" ||
               word == "ulwave" || word == "ulhwave" || word == "ululdbwave" || word == "ulthd" ||
               word == "ulthdash" || word == "ulldash" || word == "ulthldash" ||
               word == "ulthdashd" || word == "ulthdashdd") {
        c.underline = on;
    } else if (word == "ulnone") {
        c.underline = false;
    } else if (word == "strike" || word == "striked") {
        c.strike = on;
    } else if (word == "v") {
        c.hidden = on;
    } else if (word == "loch" || word == "hich" || word == "ltrch" || word == "rtlch") {
        c.dbch = false;
    } else if (word == "dbch") {
        c.dbch = true;
    } else if (word == "af") {
        if (c.dbch)
            c.eaFont = param;
    } else if (word == "afs") {
        if (c.dbch)
            c.eaHalfPoints = hasParam ? param : 24;
    } else if (word == "ab") {
        if (c.dbch)
            c.eaBold = on;
    } else if (word == "ai") {
        if (c.dbch)
            c.eaItalic = on;
    } else if (word == "up") {
        c.vertical = (!hasParam || param > 0) ? 1 : 0;
    } else if (word == "dn") {
        c.vertical = (!hasParam || param > 0) ? 2 : 0;
    } else if (word == "super") {
        c.vertical = on ? 1 : 0;
    } else if (word == "sub") {
        c.vertical = on ? 2 : 0;
    } else if (word == "nosupersub") {
        c.vertical = 0;
    } else if (word == "cf") {
        c.foreground = param;
    } else if (word == "cb" || word == "highlight" || word == "chcbpat") {
        c.background = param;
    } else if (word == "ql") {
        p.alignment = Qt::AlignLeft;
    } else if (word == "qc") {
        p.alignment = Qt::AlignHCenter;
    } else if (word == "qr") {
        p.alignment = Qt::AlignRight;
    } else if (word == "qj" || word == "qd") {
        p.alignment = Qt::AlignJustify;
    } else if (word == "li" || word == "lin") {
        p.leftIndent = param;
    } else if (word == "ri" || word == "rin") {
        p.rightIndent = param;
    } else if (word == "fi") {
        p.firstIndent = param;
    } else if (word == "sb") {
        p.spaceBefore = param;
    } else if (word == "sa") {
        p.spaceAfter = param;
    } else if (word == "sl") {
        p.lineSpacing = param;
    } else if (word == "slmult") {
        p.lineMultiple = on;
    } else if (word == "ls") {
        p.listOverride = param;
    } else if (word == "ilvl") {
        p.listLevel = param;
    }
}

} // namespace

bool RtfReader::isRtf(const QByteArray &data)
{
    qsizetype i = 0;
    if (data.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < data.size() &&
           (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return data.mid(i, 5) == "{\\rtf";
}

bool RtfReader::read(const QByteArray &data, QTextDocument *document)
{
    m_warnings.clear();
    if (!document || !isRtf(data))
        return false;
    document->clear();
    Parser parser(data, document, m_warnings);
    parser.run();
    document->setModified(false);
    return true;
}

} // namespace richedit
