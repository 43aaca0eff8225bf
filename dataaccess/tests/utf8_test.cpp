// The UTF-8 check that every text of an answer passes on the server, against a plain
// reading of the rules: edge bytes at every place of its sixteen-byte steps.
#include "dataaccess/packet/datapacket.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace quillon;

namespace {

// The rules written out byte by byte: the reference the fast check is held to.
bool referenceValid(const std::string &s)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const size_t n = s.size();
    if (n >= 3 && p[0] == 0xef && p[1] == 0xbb && p[2] == 0xbf)
        return false; // a byte-order mark would not read back as it was
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        unsigned lo = 0x80, hi = 0xbf;
        size_t conts = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            conts = 1;
        } else if (c >= 0xe0 && c <= 0xef) {
            conts = 2;
            if (c == 0xe0)
                lo = 0xa0; // overlong
            if (c == 0xed)
                hi = 0x9f; // surrogates
        } else if (c >= 0xf0 && c <= 0xf4) {
            conts = 3;
            if (c == 0xf0)
                lo = 0x90; // overlong
            if (c == 0xf4)
                hi = 0x8f; // past U+10FFFF
        } else {
            return false;
        }
        if (i + conts >= n)
            return false; // cut short
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (size_t k = 2; k <= conts; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xbf)
                return false;
        i += conts + 1;
    }
    return true;
}

// Bytes at the edges of the rules' ranges.
const std::vector<unsigned char> kEdges = {0x00, 0x41, 0x7f, 0x80, 0x8f, 0x90, 0x9f, 0xa0, 0xbf, 0xc0,
                                           0xc1, 0xc2, 0xdf, 0xe0, 0xe1, 0xec, 0xed, 0xee, 0xef, 0xf0,
                                           0xf1, 0xf3, 0xf4, 0xf5, 0xf8, 0xff};

} // namespace

TEST(Utf8Check, EverySequenceOfEdgeBytesAgreesWithTheRulesAtEveryPlaceOfABlock)
{
    // Short sequences of edge bytes, put after prefixes that move them across the
    // sixteen-byte steps and followed by nothing, by ASCII or by a Chinese character.
    const std::string chinese = "\xe4\xb8\x80"; // 一
    const std::vector<std::string> prefixes = {"", "a", std::string(12, 'a'), std::string(13, 'a'),
                                               std::string(14, 'a'), std::string(15, 'a'),
                                               std::string(16, 'a'), chinese + chinese + chinese + chinese + "abc"};
    const std::vector<std::string> suffixes = {"", "z", chinese, std::string(17, 'z')};
    int checked = 0;
    for (const unsigned char a : kEdges)
        for (const unsigned char b : kEdges)
            for (const unsigned char c : kEdges) {
                const std::string core{char(a), char(b), char(c)};
                for (const std::string &pre : prefixes)
                    for (const std::string &post : suffixes) {
                        const std::string s = pre + core + post;
                        ASSERT_EQ(isValidUtf8(QByteArrayView(s.data(), qsizetype(s.size()))), referenceValid(s))
                            << "bytes " << std::hex << int(a) << ' ' << int(b) << ' ' << int(c) << " after "
                            << std::dec << pre.size() << " bytes, " << post.size() << " after";
                        ++checked;
                    }
            }
    EXPECT_GT(checked, 500000);
}

TEST(Utf8Check, FourByteSequencesAndCutsAtTheEnd)
{
    for (const unsigned char a : {0xf0, 0xf1, 0xf4, 0xf5})
        for (const unsigned char b : kEdges)
            for (const unsigned char c : {0x80, 0xbf, 0x41, 0xc2})
                for (const unsigned char d : {0x80, 0xbf, 0x41, 0xe0})
                    for (const size_t pad : {0, 12, 13, 14, 15, 28}) {
                        const std::string s = std::string(pad, 'x') + std::string{char(a), char(b), char(c), char(d)};
                        EXPECT_EQ(isValidUtf8(QByteArrayView(s.data(), qsizetype(s.size()))), referenceValid(s))
                            << std::hex << int(a) << ' ' << int(b) << ' ' << int(c) << ' ' << int(d) << " pad "
                            << std::dec << pad;
                    }
    // A text that ends inside a character, at each place of the last block.
    const std::string text = "北京朝阳区三里屯街道快递网点😀";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const std::string s = text.substr(0, cut);
        EXPECT_EQ(isValidUtf8(QByteArrayView(s.data(), qsizetype(s.size()))), referenceValid(s)) << "cut " << cut;
    }
    EXPECT_TRUE(isValidUtf8(QByteArrayView(text.data(), qsizetype(text.size()))));
    EXPECT_FALSE(isValidUtf8(QByteArrayView("\xef\xbb\xbf" "abc")));
}

TEST(Utf8Check, DamagedChineseTextsAgreeWithTheRules)
{
    // Long texts of Chinese, ASCII and four-byte characters with one byte changed.
    QRandomGenerator rng(20261209);
    const std::vector<std::string> pieces = {"网", "点", "a", "1", " ", "é", "😀", "区"};
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int n = int(rng.bounded(1, 40));
        for (int i = 0; i < n; ++i)
            s += pieces[rng.bounded(int(pieces.size()))];
        ASSERT_TRUE(isValidUtf8(QByteArrayView(s.data(), qsizetype(s.size())))) << s;
        s[rng.bounded(int(s.size()))] = char(rng.bounded(256));
        ASSERT_EQ(isValidUtf8(QByteArrayView(s.data(), qsizetype(s.size()))), referenceValid(s)) << round;
    }
}

TEST(Utf8Check, TextsEndingAtTheEndOfAPageAreReadWithoutTouchingTheNext)
{
    // The page after the texts cannot be read: a check that read past a text's end there
    // would crash the test.
    const long page = sysconf(_SC_PAGESIZE);
    char *area = static_cast<char *>(
        mmap(nullptr, size_t(page) * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area + page, size_t(page), PROT_NONE), 0);
    const std::string texts[] = {"上海浦东", "a上", "派件", std::string("\xe4\xb8", 2), "标准快递上海中心", "x"};
    for (const std::string &text : texts) {
        char *at = area + page - qsizetype(text.size());
        memcpy(at, text.data(), text.size());
        EXPECT_EQ(isValidUtf8(QByteArrayView(at, qsizetype(text.size()))), referenceValid(text)) << text.size();
    }
    munmap(area, size_t(page) * 2);
}
