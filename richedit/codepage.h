#pragma once

#include <QByteArray>
#include <QString>

namespace richedit::detail {

// Windows code page of an RTF font character set (\fcharsetN); 0 when the character set
// names no code page of its own and the document's code page applies.
int codepageForCharset(int charset);

// Converts bytes of a Windows code page to text. Unknown code pages fall back to
// Windows-1252 so that nothing is lost silently: every byte still becomes a character.
QString decodeCodepage(const QByteArray &bytes, int codepage);

// Encodes one character for a code page; returns an empty array when the code page
// cannot represent it.
class CodepageEncoder
{
public:
    explicit CodepageEncoder(int codepage);
    QByteArray encode(QStringView text);

private:
    QByteArray m_name;
};

} // namespace richedit::detail
