#include "platform/automation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace zorvik {
namespace {

class ScriptControlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(create_object(control, "ScriptControl")); }

    Variant eval(const std::string& code) {
        return call_method(control, "Eval", {Variant::from_text(code)});
    }
    Variant run(const VariantList& args) { return call_method(control, "Run", args); }
    void add_code(const std::string& code) {
        call_method(control, "AddCode", {Variant::from_text(code)});
    }

    ObjectRef control;
};

TEST_F(ScriptControlTest, EvalResultsBecomeVariantsOfTheirKind) {
    using Kind = Variant::Kind;
    struct Case {
        const char* expression;
        Kind kind;
    };
    const Case cases[] = {
        {"undefined", Kind::Empty}, {"null", Kind::Null},
        {"1 < 2", Kind::Bool},      {"40 + 2", Kind::Int},
        {"-2147483648", Kind::Int}, {"2147483648", Kind::Double}, // beyond 32 bits
        {"0.5", Kind::Double},      {"-0", Kind::Double},         // keeps its sign
        {"0 / 0", Kind::Double},    {"'x' + 1", Kind::String},
    };
    for (const Case& c : cases) {
        const Variant v = eval(c.expression);
        EXPECT_TRUE(last_error().empty()) << c.expression << ": " << last_error();
        EXPECT_EQ(v.kind(), c.kind) << c.expression;
    }
    EXPECT_EQ(eval("40 + 2").as_int(), 42);
    EXPECT_TRUE(std::signbit(eval("-0").as_double()));
    EXPECT_EQ(eval("'x' + 1").as_string(), QStringLiteral("x1"));
}

TEST_F(ScriptControlTest, ObjectResultsFailInsteadOfLeakingEngineValues) {
    for (const char* expression : {"[1, 2]", "({a: 1})", "(function () {})", "new Error('x')"}) {
        const Variant v = eval(expression);
        EXPECT_TRUE(v.is_empty()) << expression;
        EXPECT_FALSE(last_error().empty()) << expression;
    }
}

TEST_F(ScriptControlTest, TextCrossesAsUnicode) {
    // 中文 in GB18030, and U+1F600 as its four-byte GB18030 sequence
    EXPECT_EQ(to_integer(eval("'\xD6\xD0\xCE\xC4'.length")), 2);
    EXPECT_EQ(to_text(eval("String.fromCharCode(0x4E2D, 0x6587)")), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(to_text(eval("'\x94\x39\xFC\x36'.codePointAt(0).toString(16)")), "1f600");
}

TEST_F(ScriptControlTest, AddCodeAndExecuteStatementRunAtGlobalScopeAndGiveNoValue) {
    add_code("var base = 40; function plus(a, b) { return Number(a) + Number(b) }");
    EXPECT_TRUE(last_error().empty()) << last_error();
    const Variant none =
        call_method(control, "ExecuteStatement", {Variant::from_text("base = base + 1; base")});
    EXPECT_TRUE(last_error().empty()) << last_error();
    EXPECT_TRUE(none.is_empty());
    EXPECT_EQ(to_integer(eval("plus(base, 1)")), 42);
}

TEST_F(ScriptControlTest, ScriptErrorsFailTheCallWithTheEngineMessage) {
    struct Case {
        const char* member;
        const char* code;
        const char* message_part;
    };
    const Case cases[] = {
        {"Eval", "1 +", "SyntaxError"},
        {"Eval", "no_such_name.x", "no_such_name"},
        {"AddCode", "throw new TypeError('bad thing')", "bad thing"},
        {"ExecuteStatement", "throw 42", "42"}, // a thrown value that is not an Error
        {"Eval", "throw { toString: function () { return 'custom' } }", "custom"},
    };
    for (const Case& c : cases) {
        const Variant v = call_method(control, c.member, {Variant::from_text(c.code)});
        EXPECT_TRUE(v.is_empty()) << c.code;
        EXPECT_NE(last_error().find(c.message_part), Text::npos)
            << c.code << " gave: " << last_error();
        eval("1");
        EXPECT_TRUE(last_error().empty()) << "a following success clears the error";
    }
}

TEST_F(ScriptControlTest, RunCallsGlobalProceduresWithTheGivenArguments) {
    add_code("function kinds() { var k = []; for (var i = 0; i < arguments.length; i++) "
             "k.push(typeof arguments[i]); return k.join(',') }"
             "function fails(x) { throw 'failed with ' + x }"
             "var not_a_function = 3");
    struct Case {
        VariantList args;
        const char* expected;
    };
    const Case cases[] = {
        {{QStringLiteral("encodeURIComponent"), QStringLiteral("a b&c")}, "a%20b%26c"},
        {{QStringLiteral("encodeURI"), QStringLiteral("a b&c")}, "a%20b&c"},
        {{QStringLiteral("kinds"), QStringLiteral("x"), QStringLiteral("y")}, "string,string"},
        {{QStringLiteral("kinds")}, ""},
        {{QStringLiteral("kinds"), std::int32_t{1}, true, Variant::null(), Variant()},
         "number,boolean,object,undefined"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_text(run(c.args)), c.expected) << c.expected;
        EXPECT_TRUE(last_error().empty()) << last_error();
    }

    const VariantList failing[] = {
        {QStringLiteral("no_such_procedure")},
        {QStringLiteral("not_a_function")},
        {},
        {QStringLiteral("fails"), QStringLiteral("x")},
    };
    for (const VariantList& args : failing) {
        EXPECT_TRUE(run(args).is_empty());
        EXPECT_FALSE(last_error().empty());
    }
    run({QStringLiteral("fails"), QStringLiteral("x")});
    EXPECT_NE(last_error().find("failed with x"), Text::npos) << last_error();
}

TEST_F(ScriptControlTest, ResetGivesAFreshEngineAndKeepsTheSettings) {
    put_property(control, "Timeout", std::int32_t{5000});
    add_code("var kept = 1");
    call_method(control, "Reset");
    EXPECT_TRUE(last_error().empty());
    EXPECT_EQ(to_text(eval("typeof kept")), "undefined");
    EXPECT_EQ(to_integer(get_property(control, "Timeout")), 5000);
    EXPECT_EQ(to_text(get_property(control, "Language")), "JScript");
}

TEST_F(ScriptControlTest, PropertiesReadBackWhatWasWrittenAndRefuseNonsense) {
    EXPECT_EQ(to_text(get_property(control, "Language")), "JScript");
    EXPECT_EQ(to_integer(get_property(control, "Timeout")), 10000);
    EXPECT_EQ(to_integer(get_property(control, "State")), 0);
    EXPECT_TRUE(to_logical(get_property(control, "AllowUI")));
    EXPECT_EQ(to_integer(get_property(control, "SitehWnd")), 0);

    struct Case {
        const char* property;
        Variant written;
        bool accepted;
        const char* read_back;
    };
    const Case cases[] = {
        {"Language", QStringLiteral("JavaScript"), true, "JavaScript"},
        {"Language", QStringLiteral("vbs"), false, "JavaScript"}, // not hosted: unchanged
        {"Language", QStringLiteral("jscript"), true, "jscript"},
        {"Timeout", std::int32_t{-1}, true, "-1"},
        {"Timeout", QStringLiteral("soon"), false, "-1"},
        {"State", std::int32_t{1}, true, "1"},
        {"State", std::int32_t{2}, false, "1"},
        {"AllowUI", false, true, "False"},
        {"SitehWnd", std::int32_t{4242}, true, "4242"},
    };
    for (const Case& c : cases) {
        put_property(control, c.property, c.written);
        EXPECT_EQ(last_error().empty(), c.accepted) << c.property << " " << c.read_back;
        EXPECT_EQ(to_text(get_property(control, c.property)), c.read_back) << c.property;
    }
    EXPECT_EQ(to_integer(eval("6 * 7")), 42) << "code still runs as JavaScript";

    get_property(control, "NoSuchProperty");
    EXPECT_FALSE(last_error().empty());
    call_method(control, "NoSuchMethod");
    EXPECT_FALSE(last_error().empty());
}

TEST_F(ScriptControlTest, EachControlHasItsOwnEngine) {
    ObjectRef other;
    ASSERT_TRUE(create_object(other, "MSScriptControl.ScriptControl"));
    add_code("var mine = 1");
    EXPECT_EQ(to_text(call_method(other, "Eval", {Variant::from_text("typeof mine")})),
              "undefined");
}

// A script that never ends is stopped by the time-out, and the engine works afterwards.
// Without enforcement these cases hang until the test runner gives up.
TEST_F(ScriptControlTest, TimeoutStopsRunawayScripts) {
    put_property(control, "Timeout", std::int32_t{200});
    add_code("function spin() { for (;;) {} }"
             "function stubborn() { for (;;) { try { for (;;) {} } catch (e) {} } }");
    const char* runaway[] = {
        "while (true) {}", "stubborn()",
        "throw { toString: function () { for (;;) {} } }", // its message is script, too
    };
    for (const char* code : runaway) {
        EXPECT_TRUE(eval(code).is_empty()) << code;
        EXPECT_NE(last_error().find("time-out"), Text::npos) << code << ": " << last_error();
        EXPECT_EQ(to_integer(eval("1 + 1")), 2) << "the engine runs again after " << code;
    }
    EXPECT_TRUE(run({QStringLiteral("spin")}).is_empty());
    EXPECT_NE(last_error().find("time-out"), Text::npos) << last_error();
    EXPECT_EQ(to_integer(eval("1 + 1")), 2);
}

TEST_F(ScriptControlTest, ScriptsWithinTheTimeoutAreNotDisturbed) {
    put_property(control, "Timeout", std::int32_t{1000});
    add_code("var n = 0");
    for (int i = 0; i < 200; ++i) {
        call_method(control, "ExecuteStatement", {Variant::from_text("n++")});
    }
    EXPECT_EQ(to_integer(eval("n")), 200);
    put_property(control, "Timeout", std::int32_t{-1});
    EXPECT_EQ(to_integer(eval("var s = 0; for (var i = 0; i < 100000; i++) s += 1; s")), 100000);
}

} // namespace
} // namespace zorvik
