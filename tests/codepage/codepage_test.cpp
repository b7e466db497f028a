#include "codepage/codepage.h"

#include "support/test_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvik {
namespace {

using test::bytes;

Bytes utf16le(std::u16string_view units, bool terminator) {
    Bytes b;
    for (const char16_t u : units) {
        b.push_back(static_cast<unsigned char>(u & 0xFF));
        b.push_back(static_cast<unsigned char>(u >> 8));
    }
    if (terminator) {
        b.push_back(0);
        b.push_back(0);
    }
    return b;
}

const std::string kZhongWenUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";
const std::string kZhongWenGb = "\xD6\xD0\xCE\xC4";
const std::string kReplacementGb = "\x84\x31\xA4\x37"; // U+FFFD in GB18030

TEST(Utf8ToAnsi, Cases) {
    struct Case {
        const char* name;
        std::string utf8;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty", "", ""},
        {"ascii", "Hello, world! 123", "Hello, world! 123"},
        {"chinese", kZhongWenUtf8, kZhongWenGb},
        {"invalid_byte",
         "a\xFF"
         "b",
         "a" + kReplacementGb + "b"},
        {"truncated_sequence", "a\xE4\xB8", "a" + kReplacementGb},
        {"lone_continuation", "\x80", kReplacementGb},
        {"beyond_gbk_emoji", "\xF0\x9F\x98\x80", "\x94\x39\xFC\x36"},
        {"beyond_gbk_ext_b", "\xF0\xA0\x80\x80", "\x95\x32\x82\x36"},
        {"euro", "\xE2\x82\xAC", "\xA2\xE3"},
        {"stops_at_zero", std::string("ab\0cd", 5), "ab"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_to_ansi(c.utf8), c.text) << c.name;
    }
}

TEST(Utf8ToAnsi, CharactersBeyondGbkSurviveTheRoundTrip) {
    // Emoji, a CJK extension B character, the euro sign, a Latin letter with accent.
    const std::string utf8 =
        "x\xF0\x9F\x98\x80y\xF0\xA0\x80\x80\xE2\x82\xAC\xC3\xA9" + kZhongWenUtf8;
    const Text text = utf8_to_ansi(utf8);
    EXPECT_EQ(text.find('?'), std::string::npos);
    EXPECT_EQ(ansi_to_utf8(text), utf8);
}

TEST(AnsiToWide, TerminatorAndEmptyText) {
    EXPECT_EQ(ansi_to_wide("ab"), bytes({0x61, 0, 0x62, 0, 0, 0}));
    EXPECT_EQ(ansi_to_wide("ab", true), bytes({0x61, 0, 0x62, 0}));
    EXPECT_EQ(ansi_to_wide(""), Bytes());
    EXPECT_EQ(ansi_to_wide("", true), Bytes());
    EXPECT_EQ(ansi_to_wide(kZhongWenGb), utf16le(u"中文", true));
    EXPECT_EQ(ansi_to_wide("\x94\x39\xFC\x36"), utf16le(u"\U0001F600", true));
}

TEST(WideToAnsi, ReadsToTheFirstZeroByte) {
    EXPECT_EQ(wide_to_ansi(utf16le(u"ab", true)), "ab");
    EXPECT_EQ(wide_to_ansi(utf16le(u"ab", false)), "ab"); // a piece without terminator
    EXPECT_EQ(wide_to_ansi(utf16le(u"中文", false)), kZhongWenGb);
    EXPECT_EQ(wide_to_ansi(utf16le(std::u16string_view(u"a\0b", 3), true)), "a");
    EXPECT_EQ(wide_to_ansi(Bytes()), "");
    EXPECT_EQ(wide_to_ansi(bytes({0x61, 0, 0x62})), "a"); // an odd last byte is no unit
}

TEST(WideToAnsi, FoldsCombiningMarksIntoPrecomposedCharacters) {
    // e + COMBINING ACUTE ACCENT becomes é, which GBK holds (A8 A6).
    EXPECT_EQ(wide_to_ansi(utf16le(u"e\u0301x", true)), "\xA8\xA6x");
    // A compatibility ideograph keeps its own bytes (no other normalisation).
    EXPECT_EQ(wide_to_ansi(utf16le(u"\uF92C", true)), utf8_to_ansi("\xEF\xA4\xAC"));
    EXPECT_NE(wide_to_ansi(utf16le(u"\uF92C", true)), utf8_to_ansi("\xE9\x83\x9E"));
}

TEST(WideToAnsi, LoneSurrogatesBecomeQuestionMarks) {
    EXPECT_EQ(wide_to_ansi(utf16le(u"a\xD800"
                                   "b",
                                   true)),
              "a?b");
    EXPECT_EQ(wide_to_ansi(utf16le(u"\xDC00", true)), "?");
    EXPECT_EQ(wide_to_multibyte(utf16le(u"\xD83D", true)), "?");
}

TEST(MultibyteToWide, CodePages) {
    EXPECT_EQ(multibyte_to_wide(kZhongWenUtf8), utf16le(u"中文", true)); // UTF-8 by default
    EXPECT_EQ(multibyte_to_wide(kZhongWenGb, 936), utf16le(u"中文", true));
    EXPECT_EQ(multibyte_to_wide(kZhongWenGb, 54936), utf16le(u"中文", true));
    EXPECT_EQ(multibyte_to_wide(kZhongWenGb, 0), utf16le(u"中文", true));
    EXPECT_EQ(multibyte_to_wide(""), bytes({0, 0})); // a lone terminator
    EXPECT_EQ(multibyte_to_wide("\x80", 1252), utf16le(u"\u20AC", true));
    EXPECT_EQ(multibyte_to_wide("\xFF", 65001), utf16le(u"\uFFFD", true));
    EXPECT_EQ(multibyte_to_wide("abc", 99999), Bytes()); // unknown code page
    EXPECT_EQ(multibyte_to_wide("abc", -1), Bytes());
}

TEST(WideToMultibyte, CodePages) {
    const Bytes wide = utf16le(u"中文\U0001F600", true);
    const Text ansi = wide_to_multibyte(wide);
    EXPECT_EQ(ansi, kZhongWenGb + "\x94\x39\xFC\x36"); // the program's code page by default
    EXPECT_EQ(wide_to_multibyte(wide, 936), ansi);
    EXPECT_EQ(wide_to_multibyte(wide, 54936), ansi);
    EXPECT_EQ(wide_to_multibyte(wide, 65001), kZhongWenUtf8 + "\xF0\x9F\x98\x80");
    EXPECT_EQ(wide_to_multibyte(utf16le(u"a\u20ACb", true), 1252), "a\x80"
                                                                   "b");
    EXPECT_EQ(wide_to_multibyte(utf16le(u"a中b", true), 1252), "a?b"); // the default character
    EXPECT_EQ(wide_to_multibyte(utf16le(u"ab", false)), "ab");
    EXPECT_EQ(wide_to_multibyte(utf16le(u"ab", true), 99999), "");
}

TEST(QStringBoundary, RoundTrips) {
    EXPECT_EQ(to_qstring(kZhongWenGb), QString::fromUtf8(kZhongWenUtf8.c_str()));
    EXPECT_EQ(to_qstring(""), QString());
    const QString rich = QString::fromUtf8("A中\xF0\x9F\x98\x80\xF0\xA0\x80\x80\xE2\x82\xAC");
    EXPECT_EQ(to_qstring(from_qstring(rich)), rich);
    EXPECT_EQ(from_qstring(rich), "A\xD6\xD0\x94\x39\xFC\x36\x95\x32\x82\x36\xA2\xE3");
    EXPECT_EQ(to_qstring("a\xFF"), QString::fromUtf8("a\xEF\xBF\xBD"));
    EXPECT_EQ(to_qstring("a\xD6"), QString::fromUtf8("a\xEF\xBF\xBD")); // cut off at the end
    EXPECT_EQ(from_qstring(QString(QChar(0xD800))), "?");
    EXPECT_EQ(from_qstring(QString::fromUtf16(u"ab\0c", 4)), "ab"); // Text ends at NUL
}

TEST(DecodeCharset, ByName) {
    struct Case {
        const char* charset;
        std::string bytes;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"utf-8", kZhongWenUtf8, QString::fromUtf8(kZhongWenUtf8.c_str())},
        {"UTF8", "a\xFF", QString::fromUtf8("a\xEF\xBF\xBD")},
        {"gbk", kZhongWenGb, QString::fromUtf8(kZhongWenUtf8.c_str())},
        // 丂 (81 40) lies outside GB2312; a page labelled gb2312 that uses it still reads right.
        {"GB2312", "\x81\x40", QString::fromUtf8("\xE4\xB8\x82")},
        {"gb18030", "\x94\x39\xFC\x36", QString::fromUtf8("\xF0\x9F\x98\x80")},
        {"big5", "\xA4\xA4", QString::fromUtf8("\xE4\xB8\xAD")},
        {"windows-1252", "\x80", QString::fromUtf8("\xE2\x82\xAC")},
        {"iso-8859-1", "\xE9", QString::fromUtf8("\xC3\xA9")},
        {"utf-8", "", QString()},
        // The wide Unicode encodings take no one-byte substitute; they must still open.
        {"UTF-16LE", std::string("\x2D\x4E\x87\x65", 4), QString::fromUtf8(kZhongWenUtf8.c_str())},
        {"utf-16be", std::string("\x4E\x2D\x65\x87", 4), QString::fromUtf8(kZhongWenUtf8.c_str())},
        {"UTF-32LE", std::string("\x00\xF6\x01\x00", 4), QString::fromUtf8("\xF0\x9F\x98\x80")},
    };
    for (const auto& c : cases) {
        QString out = QStringLiteral("untouched");
        EXPECT_TRUE(decode_charset(c.bytes, c.charset, out)) << c.charset;
        EXPECT_EQ(out, c.expected) << c.charset;
    }
}

TEST(DecodeCharset, UnknownNamesFail) {
    for (const std::string_view name : {std::string_view("no-such-charset"), std::string_view(""),
                                        std::string_view("utf-8\0x", 7)}) {
        QString out = QStringLiteral("untouched");
        EXPECT_FALSE(decode_charset("abc", name, out)) << testing::PrintToString(name);
        EXPECT_EQ(out, QStringLiteral("untouched"));
    }
}

} // namespace
} // namespace zorvik
