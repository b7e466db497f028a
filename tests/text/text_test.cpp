#include "text/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace zorvik {
namespace {

// GB18030 samples: 中 D6 D0, 文 CE C4, the ideographic space A1 A1, the four-byte U+1F600
// 94 39 FC 36, and a two-byte character whose trail byte is the ASCII letter 'a' (0x81 0x61).
const std::string kZhong = "\xD6\xD0";
const std::string kWen = "\xCE\xC4";
const std::string kIdeoSpace = "\xA1\xA1";
const std::string kEmoji = "\x94\x39\xFC\x36";
const std::string kLeadA = "\x81\x61";

TEST(CharLength, OneTwoAndFourByteCharacters) {
    struct Case {
        std::string s;
        std::size_t index;
        std::size_t length;
    };
    const std::vector<Case> cases = {
        {"a", 0, 1},
        {kZhong, 0, 2},
        {kEmoji, 0, 4},
        {"\xD6", 0, 1},             // truncated at the end
        {"\x81\x30\x81", 0, 1},     // truncated four-byte sequence
        {"\x81\x7F", 0, 1},         // 0x7F is no trail byte
        {"\x80\x41", 0, 1},         // 0x80 is no lead byte
        {"\xFF\x41", 0, 1},         // nor is 0xFF
        {"\x81\x30\x41\x30", 0, 1}, // third byte must be a lead
    };
    for (const auto& c : cases) {
        EXPECT_EQ(char_length(c.s, c.index), c.length) << testing::PrintToString(c.s);
    }
}

struct FindCase {
    std::string name;
    std::string haystack;
    std::string needle;
    int start;
    bool ignore_case;
    int expected;
};

class FindTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindTest, Finds) {
    const auto& c = GetParam();
    EXPECT_EQ(zorvik::find(c.haystack, c.needle, c.start, c.ignore_case), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindTest,
    testing::Values(FindCase{"plain", "hello world", "world", 1, false, 7},
                    FindCase{"absent", "hello world", "xyz", 1, false, -1},
                    FindCase{"start_below_one", "abcabc", "abc", -5, false, 1},
                    FindCase{"start_zero", "abcabc", "abc", 0, false, 1},
                    FindCase{"start_skips_first", "abcabc", "abc", 2, false, 4},
                    FindCase{"start_on_match", "abcabc", "abc", 4, false, 4},
                    FindCase{"start_past_end", "abc", "c", 4, false, -1},
                    FindCase{"needle_longer", "ab", "abc", 1, false, -1},
                    FindCase{"empty_needle", "abc", "", 1, false, 1},
                    FindCase{"empty_needle_later_start", "abc", "", 3, false, 1},
                    FindCase{"empty_needle_nothing_left", "abc", "", 4, false, -1},
                    FindCase{"empty_haystack", "", "", 1, false, -1},
                    FindCase{"case_sensitive", "Hello", "hello", 1, false, -1},
                    FindCase{"case_folded", "xxHeLLo", "hello", 1, true, 3},
                    FindCase{"case_folded_later", "abcABC", "abc", 2, true, 4},
                    FindCase{"no_match_at_second_byte", kZhong + kWen, "\xD0\xCE", 1, false, -1},
                    FindCase{"match_after_false_candidate", kZhong + kWen + "\xD0\xCE", "\xD0\xCE",
                             1, false, 5},
                    FindCase{"double_byte_needle", "ab" + kZhong + kWen, kWen, 1, false, 5},
                    FindCase{"letter_trail_not_matched", kLeadA + "a", "a", 1, false, 3},
                    FindCase{"letter_trail_not_folded", kLeadA, "\x81\x41", 1, true, -1},
                    FindCase{"inside_four_byte", kEmoji + "\xFC\x36", "\xFC\x36", 1, false, 5},
                    FindCase{"four_byte_needle", "a" + kEmoji, kEmoji, 1, false, 2},
                    FindCase{"start_inside_character", kZhong + kWen, "\xD0", 2, false, -1},
                    FindCase{"start_inside_character_later_hit", kZhong + "x\xD0", "\xD0", 2, false,
                             4}),
    [](const auto& info) { return info.param.name; });

TEST(Find, LongChineseHaystackMatchesOnlyOnBoundaries) {
    // 中文 repeated: every "D0 CE" pair straddles two characters and must be skipped.
    std::string hay;
    for (int i = 0; i < 100000; ++i) {
        hay += kZhong + kWen;
    }
    EXPECT_EQ(zorvik::find(hay, "\xD0\xCE"), -1);
    hay += "\xD0\xCE";
    EXPECT_EQ(zorvik::find(hay, "\xD0\xCE"), static_cast<int>(hay.size()) - 1);
    EXPECT_EQ(zorvik::find(hay, kWen, 1000), 1003);
}

TEST(Find, MatchesAReferenceWalkOnRandomText) {
    // Random mixtures of ASCII, two-byte and four-byte characters; the reference walks every
    // character boundary and compares.
    std::mt19937 rng(7);
    const std::vector<std::string> atoms = {"a",    "A",    "\r\n", " ", kZhong,    kWen,
                                            kLeadA, kEmoji, "\xD0", "0", kIdeoSpace};
    for (int round = 0; round < 300; ++round) {
        std::string hay;
        const int count = static_cast<int>(rng() % 40);
        for (int i = 0; i < count; ++i) {
            hay += atoms[rng() % atoms.size()];
        }
        std::string needle;
        const int ncount = 1 + static_cast<int>(rng() % 3);
        for (int i = 0; i < ncount; ++i) {
            needle += atoms[rng() % atoms.size()];
        }
        if (rng() % 2 && needle.size() > 1) {
            needle = needle.substr(1); // may begin with a trail byte
        }
        const int start = static_cast<int>(rng() % (hay.size() + 2));
        int expected = -1;
        for (std::size_t i = 0; i < hay.size(); i += char_length(hay, i)) {
            if (static_cast<int>(i) + 1 >= start && hay.compare(i, needle.size(), needle) == 0) {
                expected = static_cast<int>(i) + 1;
                break;
            }
        }
        ASSERT_EQ(zorvik::find(hay, needle, start), expected)
            << testing::PrintToString(hay) << " / " << testing::PrintToString(needle) << " @"
            << start;
    }
}

TEST(Contains, FollowsFind) {
    EXPECT_TRUE(contains("Content-Type: x", "content-type", true));
    EXPECT_FALSE(contains("Content-Type: x", "content-type"));
    EXPECT_FALSE(contains(kZhong + kWen, "\xD0\xCE"));
}

TEST(ReplaceAll, Cases) {
    struct Case {
        std::string s, what, with;
        bool ignore_case;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a-b-c", "-", "+", false, "a+b+c"},
        {"aaa", "a", "aa", false, "aaaaaa"},   // replaced text is not searched again
        {"aaaa", "aa", "a", false, "aa"},      // left to right, no rescanning
        {"abcABC", "abc", "x", true, "xx"},    // ASCII folding
        {"abcABC", "abc", "x", false, "xABC"}, // case-sensitive by default
        {"a b c", " ", "", false, "abc"},      // left-out replacement is empty
        {"abc", "", "x", false, "abc"},        // nothing to look for
        {kZhong + kWen, "\xD0\xCE", "X", false, kZhong + kWen}, // never inside a character
        {kWen + kWen, kWen, "x", false, "xx"},
        {"\r\n\r\n", "\r\n", "", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replace_all(c.s, c.what, c.with, c.ignore_case), c.expected)
            << testing::PrintToString(c.s) << " " << testing::PrintToString(c.what);
    }
}

TEST(Split, Cases) {
    struct Case {
        std::string s, separator;
        TextList expected;
    };
    const std::vector<Case> cases = {
        {"a,b,c", ",", {"a", "b", "c"}},
        {"a,,b", ",", {"a", "", "b"}},
        {",a", ",", {"", "a"}},
        {"a,b,", ",", {"a", "b"}}, // the final empty piece is dropped
        {"a,b,,", ",", {"a", "b", ""}},
        {",", ",", {""}},
        {"", ",", {}},
        {"abc", ",", {"abc"}},
        {"k1: v\r\nk2: w\r\n", "\r\n", {"k1: v", "k2: w"}},
        {kZhong + kWen + "|" + kWen, "|", {kZhong + kWen, kWen}},
        {kZhong + kWen, "\xD0\xCE", {kZhong + kWen}}, // no split inside a character
        {"abc", "", {"abc"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split(c.s, c.separator), c.expected) << testing::PrintToString(c.s);
    }
}

TEST(Join, Cases) {
    EXPECT_EQ(join({"a", "", "b"}, "; "), "a; ; b");
    EXPECT_EQ(join({}, ","), "");
}

TEST(Trim, AsciiAndIdeographicSpaces) {
    struct Case {
        std::string s, trimmed, removed;
    };
    const std::vector<Case> cases = {
        {"  ab  ", "ab", "ab"},
        {kIdeoSpace + "a b" + kIdeoSpace + " ", "a b", "ab"},
        {"\tab\r\n", "\tab\r\n", "\tab\r\n"}, // tabs and line breaks are not spaces
        {"   ", "", ""},
        {"", "", ""},
        // B0 A1 is one character followed by A1 41: no ideographic space hides in there.
        {"\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41"},
        // The same bytes after a one-byte character do hold an ideographic space.
        {"x\xA1\xA1", "x", "x"},
        {" " + kZhong + " " + kWen + " ", kZhong + " " + kWen, kZhong + kWen},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trim(c.s), c.trimmed) << testing::PrintToString(c.s);
        EXPECT_EQ(remove_spaces(c.s), c.removed) << testing::PrintToString(c.s);
    }
}

TEST(LeftRightMiddle, Bounds) {
    EXPECT_EQ(left("abc", 0), "");
    EXPECT_EQ(left("abc", -1), "");
    EXPECT_EQ(left("abc", 2), "ab");
    EXPECT_EQ(left("abc", 99), "abc");
    EXPECT_EQ(right("abc", 0), "");
    EXPECT_EQ(right("abc", 2), "bc");
    EXPECT_EQ(right("abc", 99), "abc");
    EXPECT_EQ(middle("abcdef", 2, 3), "bcd");
    EXPECT_EQ(middle("abcdef", 5, 99), "ef");
    EXPECT_EQ(middle("abcdef", 0, 2), "");
    EXPECT_EQ(middle("abcdef", 7, 1), "");
    EXPECT_EQ(middle("abcdef", 6, 1), "f");
    EXPECT_EQ(middle("abcdef", 2, 0), "");
    EXPECT_EQ(middle("", 1, 1), "");
}

TEST(ToUpper, AsciiLettersOnly) {
    EXPECT_EQ(to_upper("abz-AZ09"), "ABZ-AZ09");
    EXPECT_EQ(to_upper(kLeadA + "a"), kLeadA + "A"); // the trail byte 'a' stays
    EXPECT_EQ(to_upper("\xE9"), "\xE9");
}

TEST(CharCode, SignedBytesAndZeroPastTheEnd) {
    EXPECT_EQ(char_code("A", 1), 65);
    EXPECT_EQ(char_code(kZhong, 1), -42); // 0xD6
    EXPECT_EQ(char_code(kZhong, 2), -48); // 0xD0
    EXPECT_EQ(char_code("A", 2), 0);
    EXPECT_EQ(char_code("A", 0), 0);
    EXPECT_EQ(char_code("", 1), 0);
}

TEST(TextAndBytes, ZeroByteEndsText) {
    const Bytes b = {'a', 'b', 0, 'c'};
    EXPECT_EQ(text_of(b), "ab");
    EXPECT_EQ(text_of(std::string_view("ab\0c", 4)), "ab");
    EXPECT_EQ(bytes_of("ab"), (Bytes{'a', 'b'}));
    EXPECT_EQ(text_of(Bytes{}), "");
}

TEST(StartsEndsWith, BoundariesCount) {
    EXPECT_TRUE(starts_with("abc", "ab"));
    EXPECT_FALSE(starts_with("abc", "bc"));
    EXPECT_TRUE(ends_with("abc", "bc"));
    EXPECT_TRUE(ends_with(kZhong + kWen, kWen));
    EXPECT_FALSE(ends_with(kZhong + kWen, "\xD0\xCE\xC4")); // starts inside 中
    EXPECT_TRUE(ends_with("abc", ""));
}

} // namespace
} // namespace zorvik
