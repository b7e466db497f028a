#include "platform/automation.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

namespace zorvik {
namespace {

struct Flags final {
    bool ignore_case = false;
    bool global = true;
    bool multiline = false;
};

ObjectRef make_regexp(const QString& pattern, Flags flags = {}) {
    ObjectRef re;
    EXPECT_TRUE(create_object(re, "VBScript.RegExp"));
    put_property(re, "IgnoreCase", Variant(flags.ignore_case));
    put_property(re, "Global", Variant(flags.global));
    put_property(re, "Multiline", Variant(flags.multiline));
    put_property(re, "Pattern", Variant(pattern));
    EXPECT_TRUE(last_error().empty()) << last_error();
    return re;
}

// Each match as "value@FirstIndex", so a table row reads at a glance.
std::vector<QString> found(const ObjectRef& re, const QString& subject) {
    const ObjectRef matches = to_object(call_method(re, "Execute", {Variant(subject)}));
    std::vector<QString> out;
    if (!matches) {
        out.push_back(QStringLiteral("<failed>"));
        return out;
    }
    const int count = to_integer(get_property(matches, "Count"));
    for (int i = 0; i < count; ++i) {
        const ObjectRef m = to_object(get_property(matches, "Item", {Variant(i)}));
        out.push_back(to_qstring(get_property(m, "Value")) + u'@' +
                      QString::number(to_integer(get_property(m, "FirstIndex"))));
    }
    return out;
}

struct SearchCase final {
    const char* what;
    QString pattern;
    QString subject;
    Flags flags;
    std::vector<QString> expected;
};

TEST(RegExpObject, SearchesTheWayTheScriptFlavourDoes) {
    const Flags once{false, false, false};
    const Flags folding{true, true, false};
    const Flags lines{false, true, true};
    const std::vector<SearchCase> cases = {
        {"\\w is ASCII only", QStringLiteral("\\w+"), QStringLiteral("中文abc_1"), {}, {"abc_1@2"}},
        {"case matters by default", QStringLiteral("abc"), QStringLiteral("xABC"), {}, {}},
        {"IgnoreCase folds", QStringLiteral("abc"), QStringLiteral("xABC"), folding, {"ABC@1"}},
        {"Global finds every match",
         QStringLiteral("a"),
         QStringLiteral("aXa"),
         {},
         {"a@0", "a@2"}},
        {"without Global only the first",
         QStringLiteral("a"),
         QStringLiteral("aXa"),
         once,
         {"a@0"}},
        {"dot stops at LF only",
         QStringLiteral(".+"),
         QStringLiteral("ab\r\ncd"),
         {},
         {"ab\r@0", "cd@4"}},
        {"$ is the very end", QStringLiteral("c$"), QStringLiteral("abc\n"), {}, {}},
        {"$ before a line end with Multiline",
         QStringLiteral("c$"),
         QStringLiteral("abc\n"),
         lines,
         {"c@2"}},
        {"^ is the start only", QStringLiteral("^b"), QStringLiteral("a\nb"), {}, {}},
        {"^ after LF or CR with Multiline",
         QStringLiteral("^\\w"),
         QStringLiteral("a\r\nb\rc"),
         lines,
         {"a@0", "b@3", "c@5"}},
        {"\\u escape", QStringLiteral("\\u4E2D+"), QStringLiteral("a中中"), {}, {"中中@1"}},
        {"\\v is the vertical tab", QStringLiteral("\\v"), QStringLiteral("a\vb"), {}, {"\v@1"}},
        {"an unknown escaped letter is the letter",
         QStringLiteral("\\m\\A"),
         QStringLiteral("mA"),
         {},
         {"mA@0"}},
        {"[] matches nothing", QStringLiteral("a[]"), QStringLiteral("a]"), {}, {}},
        {"[^] matches anything", QStringLiteral("a[^]b"), QStringLiteral("a\nb"), {}, {"a\nb@0"}},
        {"no POSIX classes", QStringLiteral("[[:a]+"), QStringLiteral("x:a[y"), {}, {":a[@1"}},
        {"empty matches step one character",
         QStringLiteral("a*"),
         QStringLiteral("baaa"),
         {},
         {"@0", "aaa@1", "@4"}},
        {"FirstIndex counts UTF-16 units", QStringLiteral("b"), QStringLiteral("😀b"), {}, {"b@2"}},
        {"the charset declaration",
         QStringLiteral("<meta.+?charset=[^\\w]?([-\\w]+)"),
         QStringLiteral("<head>\n<META http-equiv=x content=\"text/html; charset=UTF-8\">"),
         folding,
         {"<META http-equiv=x content=\"text/html; charset=UTF-8@7"}},
    };
    for (const SearchCase& c : cases) {
        const ObjectRef re = make_regexp(c.pattern, c.flags);
        EXPECT_EQ(found(re, c.subject), c.expected) << c.what;
    }
}

TEST(RegExpObject, GroupsComeFromSubMatchesAndAbsentOnesAreEmpty) {
    const ObjectRef re = make_regexp(QStringLiteral("(a)|(b)"));
    const ObjectRef matches = to_object(call_method(re, "Execute", {Variant(QStringLiteral("b"))}));
    const ObjectRef match = to_object(get_property(matches, "Item", {Variant(0)}));
    EXPECT_EQ(to_integer(get_property(match, "Length")), 1);
    const ObjectRef groups = to_object(get_property(match, "SubMatches"));
    EXPECT_EQ(to_integer(get_property(groups, "Count")), 2);
    EXPECT_EQ(to_qstring(get_property(groups, "Item", {Variant(0)})), QString());
    EXPECT_EQ(to_qstring(get_property(groups, "Item", {Variant(1)})), QStringLiteral("b"));
    EXPECT_TRUE(last_error().empty());

    get_property(groups, "Item", {Variant(2)});
    EXPECT_FALSE(last_error().empty()) << "a group number out of range fails";
    get_property(matches, "Item", {Variant(1)});
    EXPECT_FALSE(last_error().empty()) << "a match number out of range fails";
}

struct ReplaceCase final {
    const char* what;
    QString pattern;
    QString subject;
    QString replacement;
    bool global;
    QString expected;
};

TEST(RegExpObject, ReplaceExpandsTheFlavoursDollarSyntax) {
    const std::vector<ReplaceCase> cases = {
        {"groups swapped", QStringLiteral("(\\w+)@(\\w+)"), QStringLiteral("x a@b y"),
         QStringLiteral("$2@$1"), true, QStringLiteral("x b@a y")},
        {"whole match", QStringLiteral("b"), QStringLiteral("abc"), QStringLiteral("[$&]"), true,
         QStringLiteral("a[b]c")},
        {"before and after", QStringLiteral("b"), QStringLiteral("abc"), QStringLiteral("<$`|$'>"),
         true, QStringLiteral("a<a|c>c")},
        {"dollar dollar", QStringLiteral("b"), QStringLiteral("abc"), QStringLiteral("$$"), true,
         QStringLiteral("a$c")},
        {"$0, a missing group and a final $ stay", QStringLiteral("(b)"), QStringLiteral("abc"),
         QStringLiteral("$0$3$"), true, QStringLiteral("a$0$3$c")},
        {"$10 with one group is $1 then 0", QStringLiteral("(b)"), QStringLiteral("abc"),
         QStringLiteral("$10"), true, QStringLiteral("ab0c")},
        {"$10 with ten groups", QStringLiteral("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"),
         QStringLiteral("abcdefghij"), QStringLiteral("$10$01"), true, QStringLiteral("ja")},
        {"a group that took no part", QStringLiteral("(a)|(b)"), QStringLiteral("a"),
         QStringLiteral("[$2]"), true, QStringLiteral("[]")},
        {"first only without Global", QStringLiteral("a"), QStringLiteral("aaa"),
         QStringLiteral("x"), false, QStringLiteral("xaa")},
        {"all with Global", QStringLiteral("a"), QStringLiteral("aaa"), QStringLiteral("x"), true,
         QStringLiteral("xxx")},
        {"empty pattern between characters", QString(), QStringLiteral("ab"), QStringLiteral("-"),
         true, QStringLiteral("-a-b-")},
    };
    for (const ReplaceCase& c : cases) {
        const ObjectRef re = make_regexp(c.pattern, {false, c.global, false});
        const QString out =
            to_qstring(call_method(re, "Replace", {Variant(c.subject), Variant(c.replacement)}));
        EXPECT_TRUE(last_error().empty()) << c.what << ": " << last_error();
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(RegExpObject, PropertiesStartClearAndKeepWhatIsWritten) {
    ObjectRef re;
    ASSERT_TRUE(create_object(re, "VBScript.RegExp"));
    EXPECT_FALSE(to_logical(get_property(re, "IgnoreCase")));
    EXPECT_FALSE(to_logical(get_property(re, "Global")));
    EXPECT_FALSE(to_logical(get_property(re, "Multiline")));
    EXPECT_EQ(to_qstring(get_property(re, "Pattern")), QString());

    put_property(re, "pattern", Variant::from_text("\xD6\xD0(\\d)"));
    put_property(re, "GLOBAL", Variant(true));
    EXPECT_EQ(to_text(get_property(re, "Pattern")), "\xD6\xD0(\\d)");
    EXPECT_TRUE(to_logical(get_property(re, "Global")));

    put_property(re, "Global", Variant(QStringLiteral("not a flag")));
    EXPECT_FALSE(last_error().empty());
    EXPECT_TRUE(to_logical(get_property(re, "Global"))) << "a rejected value changes nothing";
}

TEST(RegExpObject, RejectedOrRunawayPatternsFailTheCallInsteadOfHanging) {
    for (const QString& bad : {QStringLiteral("("), QStringLiteral("a)"), QStringLiteral("[a"),
                               QStringLiteral("a{2,1}"), QStringLiteral("\\")}) {
        const ObjectRef re = make_regexp(bad);
        EXPECT_FALSE(to_object(call_method(re, "Execute", {Variant(QStringLiteral("a"))})))
            << bad.toStdString();
        EXPECT_FALSE(last_error().empty()) << bad.toStdString();
        call_method(re, "Replace", {Variant(QStringLiteral("a")), Variant(QStringLiteral("b"))});
        EXPECT_FALSE(last_error().empty()) << bad.toStdString();
    }

    // Exponential backtracking: the engine gives up and says so.
    const ObjectRef re = make_regexp(QStringLiteral("(x+x+)+y"));
    const QString subject = QString(40, u'x') + QStringLiteral("zy");
    EXPECT_FALSE(to_object(call_method(re, "Execute", {Variant(subject)})));
    EXPECT_FALSE(last_error().empty());
}

} // namespace
} // namespace zorvik
