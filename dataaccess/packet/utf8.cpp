// UTF-8 checks shared by the encodings. Every text cell of a query's answer is checked on
// the server before it goes into the packet (SQLite may hold any bytes), so the check is
// on the answer's path: a site name is a dozen bytes, and a check of sixteen bytes at once
// costs less than half of one byte by byte there.
#include "dataaccess/packet/datapacket.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define WAYLINK_UTF8_SSSE3 1
#endif

namespace quillon {

namespace {

// Byte by byte from i, a Chinese character (three bytes) at a step.
bool validScalar(const uchar *s, qsizetype n, qsizetype i)
{
    while (i < n) {
        const uchar c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xf0) == 0xe0 && n - i >= 3) { // the common case here: a Chinese character
            const uchar c1 = s[i + 1], c2 = s[i + 2];
            const quint32 cp = (quint32(c & 0x0f) << 12) | (quint32(c1 & 0x3f) << 6) | (c2 & 0x3f);
            if ((c1 & 0xc0) != 0x80 || (c2 & 0xc0) != 0x80 || cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))
                return false;
            i += 3;
            continue;
        }
        int len;
        quint32 cp;
        if (c >= 0xc2 && c <= 0xdf) {
            len = 2;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            len = 3;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (int k = 1; k < len; ++k) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff))
            || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += len;
    }
    return true;
}

#ifdef WAYLINK_UTF8_SSSE3
// Sixteen bytes at a step with table lookups (Keiser and Lemire, "Validating UTF-8 in less
// than one instruction per byte"): a pair of bytes is classed by the high and the low
// nibble of the first and the high nibble of the second; the three classes share a bit
// only for an error. Continuations due after a three- or four-byte lead are checked
// against the bytes two and three back.
struct Utf8Tables
{
    __m128i firstHigh, firstLow, secondHigh;
};

enum : char {
    TooShort = 1 << 0,  // a lead or ASCII byte where a continuation was due
    TooLong = 1 << 1,   // a continuation after ASCII
    Overlong3 = 1 << 2, // E0 followed by 80..9F
    TooLarge = 1 << 3,  // past U+10FFFF
    Surrogate = 1 << 4, // ED followed by A0..BF
    Overlong2 = 1 << 5, // C0, C1
    TooLarge1000 = 1 << 6,
    Overlong4 = 1 << 6,       // F0 followed by 80..8F
    TwoConts = char(1 << 7),  // a continuation after a continuation: checked apart
    Carry = TooShort | TooLong | TwoConts,
};

__attribute__((target("ssse3"), always_inline)) inline __m128i blockErrors(const Utf8Tables &t, __m128i in,
                                                                           __m128i prev)
{
    const __m128i nibble = _mm_set1_epi8(0x0f);
    const __m128i prev1 = _mm_alignr_epi8(in, prev, 15);
    const __m128i special = _mm_and_si128(
        _mm_and_si128(_mm_shuffle_epi8(t.firstHigh, _mm_and_si128(_mm_srli_epi16(prev1, 4), nibble)),
                      _mm_shuffle_epi8(t.firstLow, _mm_and_si128(prev1, nibble))),
        _mm_shuffle_epi8(t.secondHigh, _mm_and_si128(_mm_srli_epi16(in, 4), nibble)));
    // 0x80 where the byte two back leads three bytes or the byte three back four.
    const __m128i third = _mm_subs_epu8(_mm_alignr_epi8(in, prev, 14), _mm_set1_epi8(char(0xe0 - 0x80)));
    const __m128i fourth = _mm_subs_epu8(_mm_alignr_epi8(in, prev, 13), _mm_set1_epi8(char(0xf0 - 0x80)));
    const __m128i must = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(char(0x80)));
    return _mm_xor_si128(must, special);
}

// The last bytes, fewer than sixteen, read with one load: within the page of their first
// byte a load past their end cannot fault (the bytes beyond are masked off, never used),
// which is what makes a short text cheap. Not a read the address sanitizer can follow.
__attribute__((target("ssse3"), no_sanitize("address"))) __m128i loadRest(const uchar *p, qsizetype rest)
{
    __m128i in;
    if ((reinterpret_cast<std::uintptr_t>(p) & 4095) <= 4096 - 16) {
        in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    } else {
        alignas(16) uchar copy[16] = {};
        memcpy(copy, p, size_t(rest));
        in = _mm_load_si128(reinterpret_cast<const __m128i *>(copy));
    }
    const __m128i keep = _mm_cmpgt_epi8(_mm_set1_epi8(char(rest)),
                                        _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return _mm_and_si128(in, keep);
}

// s[0] follows ASCII (or starts the text).
__attribute__((target("ssse3"))) bool validSsse3(const uchar *s, qsizetype n)
{
    const Utf8Tables t{
        _mm_setr_epi8(TooLong, TooLong, TooLong, TooLong, TooLong, TooLong, TooLong, TooLong, TwoConts, TwoConts,
                      TwoConts, TwoConts, TooShort | Overlong2, TooShort, TooShort | Overlong3 | Surrogate,
                      TooShort | TooLarge | TooLarge1000 | Overlong4),
        _mm_setr_epi8(Carry | Overlong3 | Overlong2 | Overlong4, Carry | Overlong2, Carry, Carry, Carry | TooLarge,
                      Carry | TooLarge | TooLarge1000, Carry | TooLarge | TooLarge1000,
                      Carry | TooLarge | TooLarge1000, Carry | TooLarge | TooLarge1000,
                      Carry | TooLarge | TooLarge1000, Carry | TooLarge | TooLarge1000,
                      Carry | TooLarge | TooLarge1000, Carry | TooLarge | TooLarge1000,
                      Carry | TooLarge | TooLarge1000 | Surrogate, Carry | TooLarge | TooLarge1000,
                      Carry | TooLarge | TooLarge1000),
        _mm_setr_epi8(TooShort, TooShort, TooShort, TooShort, TooShort, TooShort, TooShort, TooShort,
                      TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge1000 | Overlong4,
                      TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge,
                      TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,
                      TooLong | Overlong2 | TwoConts | Surrogate | TooLarge, TooShort, TooShort, TooShort, TooShort)};
    __m128i prev = _mm_setzero_si128();
    __m128i error = _mm_setzero_si128();
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        error = _mm_or_si128(error, blockErrors(t, in, prev));
        prev = in;
    }
    if (i < n) { // followed by zeros: a character cut by the end meets a zero
        const __m128i in = loadRest(s + i, n - i);
        error = _mm_or_si128(error, blockErrors(t, in, prev));
        prev = in;
    }
    // A character cut by the end of a whole last block.
    const __m128i lastMax = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, char(0xf0 - 1),
                                          char(0xe0 - 1), char(0xc0 - 1));
    error = _mm_or_si128(error, _mm_subs_epu8(prev, lastMax));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(error, _mm_setzero_si128())) == 0xffff;
}

bool hasSsse3()
{
    static const bool has = [] {
        __builtin_cpu_init(); // may run before the library's own start-up
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}
#endif

} // namespace

bool isValidUtf8(QByteArrayView utf8)
{
    const uchar *s = reinterpret_cast<const uchar *>(utf8.data());
    const qsizetype n = utf8.size();
    if (n >= 3 && s[0] == 0xef && s[1] == 0xbb && s[2] == 0xbf)
        return false;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) { // ASCII eight bytes at a time
        quint64 word;
        memcpy(&word, s + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
    }
    while (i < n && s[i] < 0x80)
        ++i;
    if (i == n)
        return true;
#ifdef WAYLINK_UTF8_SSSE3
    if (hasSsse3())
        return validSsse3(s + i, n - i);
#endif
    return validScalar(s, n, i);
}

bool decodeUtf8(QByteArrayView utf8, QString *out)
{
    const qsizetype n = utf8.size();
    const uchar *s = reinterpret_cast<const uchar *>(utf8.data());
    qsizetype i = 0;
    while (i < n && s[i] < 0x80)
        ++i;
    if (i == n) {
        *out = QString::fromLatin1(utf8.data(), n);
        return true;
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless
                                                       | QStringConverter::Flag::ConvertInitialBom);
    *out = decoder.decode(utf8);
    if (decoder.hasError())
        return false;
    if (out->capacity() - out->size() > 4)
        out->squeeze();
    return true;
}

} // namespace quillon
