#pragma once

#include <QByteArray>
#include <QStringList>

class QTextDocument;

namespace richedit {

// Reads RTF into a QTextDocument: fonts (with the character sets of Chinese and other
// double-byte fonts), sizes, bold/italic/underline/strike-out, super- and subscript,
// colours, alignment, indents, paragraph spacing, bullets and numbering (both the older
// paragraph-numbering groups and list tables), line breaks, tabs, hyperlink fields and
// table cells as tab-separated paragraphs. Unknown control words and ignorable
// destinations are skipped. Damaged input (unbalanced braces, a truncated file) loads as
// much as can be read; what was wrong is listed in warnings().
class RtfReader
{
public:
    // True when the data starts like an RTF document ("{\rtf", blanks and a UTF-8 byte
    // order mark allowed in front).
    static bool isRtf(const QByteArray &data);

    // Replaces the content of document with the RTF in data. Returns false, leaving the
    // document untouched, when data is not RTF at all.
    bool read(const QByteArray &data, QTextDocument *document);

    // Problems met by the last read(), in the order found.
    const QStringList &warnings() const { return m_warnings; }

private:
    QStringList m_warnings;
};

} // namespace richedit
