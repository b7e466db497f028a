#include "web/header_cookie.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvik {
namespace {

// GB18030: 中 D6 D0, the ideographic space A1 A1, a character whose trail byte is '[' (81 5B)
// and one whose trail byte is 'a' (81 61); "#引号" is 23 D2 FD BA C5.
const std::string kZhong = "\xD6\xD0";
const std::string kIdeoSpace = "\xA1\xA1";
const std::string kTrailBracket = "\x81\x5B";
const std::string kTrailA = "\x81\x61";
const std::string kQuote = "#\xD2\xFD\xBA\xC5";

TEST(HeaderLine, NameAndValue) {
    struct Case {
        std::string line, name, value;
    };
    const std::vector<Case> cases = {
        {"X-Time: 12:30", "X-Time", "12:30"}, // only the first colon splits
        {"Accept:", "Accept", ""},
        {"no colon here", "", ""},
        {"", "", ""},
        {":value", "", "value"},
        {"  Name  :  v  ", "Name", "v"},
        {"Name:\tv", "Name", "\tv"}, // tabs are not spaces
        {kIdeoSpace + "Name:" + kIdeoSpace + kZhong + kIdeoSpace, "Name", kZhong},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(header_line_name(c.line), c.name) << c.line;
        EXPECT_EQ(header_line_value(c.line), c.value) << c.line;
    }
}

TEST(NormaliseHeaderBlock, CapitalisesNamesDropsColonLessLines) {
    struct Case {
        std::string block, expected;
    };
    const std::vector<Case> cases = {
        {"\r\naccept: */*\r\nreferer: x", "Accept: */*\r\nReferer: x"},
        {"content-type: text/plain", "Content-Type: text/plain"},
        {"x-requested-with:1", "X-Requested-With:1"},
        {" accept: x", " accept: x"}, // the name is not trimmed, so its first byte is a space
        {"x-: 1", "X-: 1"},
        {"a: b-c\r\n", "A: b-c"},           // the value stays; no CR LF at the end
        {"a-b: x:y-z", "A-B: x:y-z"},       // only the name, up to the first colon
        {"no colon\r\n\r\nstill none", ""}, // colon-less lines and empty ones go
        {"", ""},
        {"a: 1\r\n\r\nb: 2", "A: 1\r\nB: 2"},
        {kZhong + "-a: 1", kZhong + "-A: 1"}, // a double-byte first character stays
        {kTrailA + "-b: 1", kTrailA + "-B: 1"},
        {"x: 1\r\nlone\r\ny: 2", "X: 1\r\nY: 2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalise_header_block(c.block), c.expected) << testing::PrintToString(c.block);
    }
}

TEST(CapitaliseFirst, OnlyAnAsciiLetterAtTheStart) {
    struct Case {
        std::string text, expected;
    };
    const std::vector<Case> cases = {
        {"abc", "Abc"},     {"Abc", "Abc"}, {"1a", "1a"},
        {"", ""},           {"z", "Z"},     {kZhong + "a", kZhong + "a"},
        {kTrailA, kTrailA},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(capitalise_first(c.text), c.expected) << testing::PrintToString(c.text);
    }
}

TEST(TextBefore, FirstOccurrenceOrEmpty) {
    struct Case {
        std::string text, marker, expected;
    };
    const std::vector<Case> cases = {
        {"Set-Cookie: a=1", ": ", "Set-Cookie"},
        {"Set-Cookie:b=2", ": ", ""}, // absent
        {": x", ": ", ""},            // at position 1
        {"a;b;c", ";", "a"},
        {"", ";", ""},
        {"abc", "ABC", ""}, // case-sensitive
        {kTrailBracket + "x[y", "[", kTrailBracket + "x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_before(c.text, c.marker), c.expected) << testing::PrintToString(c.text);
    }
}

TEST(TextBetween, MarkersAndQuotePlaceholder) {
    struct Case {
        std::string text, start, end, expected;
    };
    const std::vector<Case> cases = {
        {"Set-Cookie: a=1; path=/", "Set-Cookie:", ";", " a=1"},
        {"Set-Cookie: a=1", "Set-Cookie:", ";", ""}, // no end marker after the start
        {"b;a=1", "a", ";", ""},                     // the end marker only before the start
        {"x=1; y=2", "Set-Cookie:", ";", ""},        // no start marker
        {"[x][y]", "[", "]", "x"},
        {"[]", "[", "]", ""},
        {"name=\"value\" rest", "name=" + kQuote, kQuote, "value"},
        {"a" + kQuote + "b", "a" + kQuote, "b", ""}, // the placeholder means '"', not itself
        {kTrailBracket + "x]", "[", "]", ""},        // no match inside a double-byte character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_between(c.text, c.start, c.end), c.expected)
            << testing::PrintToString(c.text);
    }
}

TEST(SetCookieItem, ValueUpToTheFirstSemicolon) {
    struct Case {
        std::string line, expected;
    };
    const std::vector<Case> cases = {
        {"Set-Cookie: sid=abc", "sid=abc"},
        {"Set-Cookie: a=1; path=/", "a=1"},
        {"Set-Cookie: a=1; path=/; HttpOnly", "a=1"},
        {"Set-Cookie:  a=1 ;", "a=1"},
        {"Set-Cookie: SET-COOKIE:x", "x"}, // without ";" every marker goes, in any case
        {"Set-Cookie: ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(set_cookie_item(c.line), c.expected) << c.line;
    }
}

TEST(CookieName, TrimmedTextBeforeTheFirstEquals) {
    struct Case {
        std::string item, expected;
    };
    const std::vector<Case> cases = {
        {"a=1", "a"},   {" a =1", "a"}, {"deleted", "deleted"},    {"=x", ""},
        {"a=b=c", "a"}, {"", ""},       {kIdeoSpace + "n=1", "n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cookie_name(c.item), c.expected) << c.item;
    }
    const TextList items = {"a=1", " b =2", "c"};
    EXPECT_TRUE(cookie_list_has_name(items, "b"));
    EXPECT_TRUE(cookie_list_has_name(items, "c"));
    EXPECT_FALSE(cookie_list_has_name(items, "A"));
    EXPECT_FALSE(cookie_list_has_name({}, ""));
}

TEST(MergeCookieLists, ReceivedBeatsSentDeletedDropsRepeatsGo) {
    struct Case {
        std::string sent, received, expected;
    };
    const std::vector<Case> cases = {
        {"a=1; b=2", "b=3; c=deleted; d=4", "b=3; d=4; a=1"},
        {"a=1; b=2", "b=3; c=deleted", "b=3; a=1"},
        {"", "", ""},
        {"a=1;", "", "a=1"},
        {"", "a=1; ", "a=1"},
        {"a=1", "a=2; a=3", "a=2; a=3"}, // one name twice in the received list: both stay
        {"x=1; y=2", "x=deleted", "y=2"},
        {"a=deleted", "", ""},                // a sent removal is dropped too
        {"deleted; a=1", "", "deleted; a=1"}, // no "=", so no removal
        {"a=1; a=2", "", "a=1"},              // the first sent item of a name wins
        {"b=2; b=2", "b=2", "b=2"},           // exact repeats go
        {"", "a=1; a=1; b=2", "a=1; b=2"},
        {"  a=1  ", "  b=2  ", "b=2; a=1"}, // both lists are trimmed first
    };
    for (const auto& c : cases) {
        Text sent = c.sent;
        EXPECT_EQ(merge_cookie_lists(sent, c.received), c.expected)
            << "sent '" << c.sent << "' received '" << c.received << "'";
        EXPECT_EQ(sent, c.expected) << "written back, sent '" << c.sent << "'";
    }
}

TEST(RemoveDuplicateItems, KeepsFirstOfEachExactPiece) {
    struct Case {
        std::string text, separator, expected;
    };
    const std::vector<Case> cases = {
        {"a; b; a; c; b", "; ", "a; b; c"},
        {"", "; ", ""},
        {"a; A", "; ", "a; A"}, // byte-exact
        {"x,,x,", ",", "x,"},   // the empty piece is kept once; the final one is no piece
        {"a=1; a=1 ", "; ", "a=1; a=1 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(remove_duplicate_items(c.text, c.separator), c.expected) << c.text;
    }
    const TextList items = {"a", "b", "a"};
    EXPECT_EQ(list_index_of(items, "a"), 1);
    EXPECT_EQ(list_index_of(items, "b"), 2);
    EXPECT_EQ(list_index_of(items, "A"), -1);
    EXPECT_EQ(list_index_of({}, ""), -1);
}

} // namespace
} // namespace zorvik
