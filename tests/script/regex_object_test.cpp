#include "script/regex_object.h"

#include "support/test_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvik {
namespace {

using test::gb;

constexpr const char* kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

struct ExecuteCase final {
    const char* what;
    const char* pattern;
    const char* subject;
    bool case_sensitive = false;
    bool multiline = true;
    bool global = true;
    bool placeholder = false;
    bool accepted = true;
    int count = 0;
    const char* first = "";
    int groups = 0;
};

TEST(RegexObject, ExecuteUsesTheDefaultFlagsAndReadsItsMatches) {
    const std::vector<ExecuteCase> cases = {
        {"case ignored by default", "hello", "say HELLO", false, true, true, false, true, 1,
         "HELLO"},
        {"case kept on request", "hello", "say HELLO", true, true, true, false, true, 0},
        {"nothing found", "x(y)z", "abc", false, true, true, false, true, 0},
        {"an unbalanced pattern", "(ab", "ab", false, true, true, false, false, 0},
        {"global by default", "a", "aaa", false, true, true, false, true, 3, "a"},
        {"global off", "a", "aaa", false, true, false, false, true, 1, "a"},
        {"multiline by default", "^b", "a\nb", false, true, true, false, true, 1, "b"},
        {"multiline off", "^b", "a\nb", false, false, true, false, true, 0},
        {"placeholder becomes a quote", "#引号(\\w+)#引号", "say \"hi\" #引号x#引号", false, true,
         true, true, true, 1, "\"hi\"", 1},
        {"placeholder searched literally", "#引号(\\w+)#引号", "say \"hi\" #引号x#引号", false,
         true, true, false, true, 1, "#引号x#引号", 1},
        {"groups of the first match", "(\\d)(\\d)?", "1 23", false, true, true, false, true, 2, "1",
         2},
        {"Chinese text", "文(.)", "中文字", false, true, true, false, true, 1, "文字", 1},
    };
    for (const ExecuteCase& c : cases) {
        RegexObject re;
        EXPECT_EQ(re.execute(gb(c.pattern), gb(c.subject), c.case_sensitive, c.multiline, c.global,
                             c.placeholder),
                  c.accepted)
            << c.what;
        EXPECT_EQ(re.match_count(), c.count) << c.what;
        EXPECT_EQ(re.match_text(1), gb(c.first)) << c.what;
        EXPECT_EQ(re.group_count(), c.groups) << c.what;
        EXPECT_EQ(re.pattern(), gb(c.placeholder ? "\"(\\w+)\"" : c.pattern)) << c.what;
    }
}

TEST(RegexObject, FindsTheDeclaredCharsetOfAPageHead) {
    const std::vector<std::pair<const char*, const char*>> heads = {
        {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">",
         "utf-8"},
        {"<head>\r\n<meta charset=\"gbk\">\r\n<title>标题</title>", "gbk"},
        {"<META CHARSET='Big5'>", "Big5"},
        {"<meta name=x>\n<meta http-equiv=content-type content=\"text/html;charset=windows-1251\">",
         "windows-1251"},
        {"<head><title>没有</title></head>", ""},
        {"<meta\ncharset=utf-8>", ""},
        {"", ""},
    };
    for (const auto& [head, charset] : heads) {
        RegexObject re;
        EXPECT_TRUE(re.execute(kCharsetPattern, gb(head))) << head;
        EXPECT_EQ(re.group_text(1, 1), charset) << head;
    }
}

TEST(RegexObject, ReplaceWorksOnTheLastSubject) {
    RegexObject re;
    ASSERT_TRUE(re.execute("\\d", gb("甲1乙22丙")));
    EXPECT_EQ(re.replace(), gb("甲乙丙")) << "a left-out replacement removes every match";
    EXPECT_EQ(re.replace("[$&]"), gb("甲[1]乙[2][2]丙"));

    ASSERT_TRUE(re.execute("(\\w+)=(\\w+)", "a=1; b=2", false, true, false));
    EXPECT_EQ(re.replace("$2=$1"), "1=a; b=2") << "global off replaces the first match only";
}

struct PositionCase final {
    const char* what;
    const char* pattern;
    const char* subject;
    int match;
    int group; // 0: the whole match
    int expected;
};

TEST(RegexObject, PositionsAreByteOffsetsFoundFromFirstIndex) {
    const std::vector<PositionCase> cases = {
        {"after a two-byte character and two ASCII ones", "X", "中abX", 1, 0, 4},
        {"the second of two adjacent matches", "a", "aa", 2, 0, 1},
        {"a group inside a match after Chinese text", "a(b)", "中文ab", 1, 1, 5},
        {"case ignored as the search was", "B", "中ab", 1, 0, 3},
        {"a match number out of range", "a", "a", 2, 0, -1},
        {"a group number out of range", "(a)", "a", 1, 2, -1},
    };
    for (const PositionCase& c : cases) {
        RegexObject re;
        ASSERT_TRUE(re.execute(c.pattern, gb(c.subject))) << c.what;
        int position = -99;
        if (c.group == 0) {
            re.match_text(c.match, &position);
        } else {
            re.group_text(c.match, c.group, &position);
        }
        EXPECT_EQ(position, c.expected) << c.what;
    }
}

TEST(RegexObject, CopiesShareTheSearchUntilOneRunsItsOwn) {
    const int depth = co_initialize_depth();
    {
        RegexObject original;
        ASSERT_TRUE(original.execute("b+", "abbc"));
        RegexObject copy = original;
        EXPECT_EQ(copy.match_text(1), "bb");
        EXPECT_EQ(copy.replace("-"), "a-c");

        ASSERT_TRUE(copy.execute("c", "xcx"));
        EXPECT_EQ(copy.match_text(1), "c");
        EXPECT_EQ(original.match_text(1), "bb") << "the original keeps its own search";
        EXPECT_EQ(original.pattern(), "b+");

        original = copy;
        EXPECT_EQ(original.replace("C"), "xCx");
        EXPECT_GT(co_initialize_depth(), depth);
    }
    EXPECT_EQ(co_initialize_depth(), depth) << "each object balances its own initialisation";
}

TEST(RegexObject, WithoutASearchOrAnObjectEveryReadIsEmpty) {
    RegexObject fresh;
    EXPECT_EQ(fresh.pattern(), "");
    EXPECT_EQ(fresh.match_count(), 0);
    EXPECT_EQ(fresh.match_text(1), "");
    EXPECT_EQ(fresh.group_text(1, 1), "");
    EXPECT_EQ(fresh.group_count(), 0);
    EXPECT_EQ(fresh.replace("x"), "");

    ScopedProgIdRemoval missing("VBScript.RegExp");
    RegexObject re;
    EXPECT_FALSE(re.execute("a", "a"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.match_text(1), "");
    EXPECT_EQ(re.replace("b"), "");
    EXPECT_EQ(re.pattern(), "");
}

} // namespace
} // namespace zorvik
