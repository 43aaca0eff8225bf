#pragma once

#include <QByteArray>

class QIODevice;
class QTextDocument;

namespace richedit {

// Writes a QTextDocument as RTF that word processors open with the same text and
// formatting: a font table (text fonts with the GB2312 character set), a colour
// table, paragraphs with alignment, indents and spacing, bulleted and numbered items
// (as paragraph-numbering groups, understood by WordPad, Word and LibreOffice), and
// character runs with font, size, bold, italic, underline, strike-out, super-/subscript,
// colours and hyperlinks. Every character outside ASCII is written as a Unicode escape
// followed by its GBK bytes for readers that only know the code page.
class RtfWriter
{
public:
    QByteArray write(const QTextDocument *document) const;

    // Writes to device; false when the device refused the data.
    bool write(const QTextDocument *document, QIODevice *device) const;
};

} // namespace richedit
