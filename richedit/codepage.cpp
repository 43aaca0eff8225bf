#include "codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace richedit::detail {

namespace {

// Names the converter library knows the Windows code pages by.
QByteArray converterName(int codepage)
{
    switch (codepage) {
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 874:
        return "windows-874";
    case 932:
        return "windows-932";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "windows-950";
    case 10000:
        return "macintosh";
    case 54936:
        return "GB18030";
    case 65001:
        return "UTF-8";
    default:
        if (codepage >= 1250 && codepage <= 1258)
            return "windows-" + QByteArray::number(codepage);
        return {};
    }
}

} // namespace

int codepageForCharset(int charset)
{
    switch (charset) {
    case 0:
        return 1252;
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 255:
        return 437;
    default: // 1 (default), 2 (symbol) and unknown sets use the document's code page
        return 0;
    }
}

QString decodeCodepage(const QByteArray &bytes, int codepage)
{
    if (bytes.isEmpty())
        return {};
    QByteArray name = converterName(codepage);
    if (name.isEmpty())
        name = "windows-1252";
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

CodepageEncoder::CodepageEncoder(int codepage)
    : m_name(converterName(codepage))
{
    if (m_name.isEmpty())
        m_name = "windows-1252";
}

QByteArray CodepageEncoder::encode(QStringView text)
{
    QStringEncoder encoder(m_name.constData());
    if (!encoder.isValid())
        return {};
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return {};
    return bytes;
}

} // namespace richedit::detail
