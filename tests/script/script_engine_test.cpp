#include "script/script_engine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zorvik {
namespace {

class ScriptEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Tells what arrived: "count:first,second,...".
        engine.add_code("function args() { return arguments.length + ':' + "
                        "Array.prototype.join.call(arguments, ',') }");
        ASSERT_TRUE(engine.last_error().empty()) << engine.last_error();
    }

    ScriptEngine engine;
};

TEST_F(ScriptEngineTest, RunPassesTheLongestRunOfGivenArguments) {
    using Arg = std::optional<Text>;
    const Arg a = Text("a"), b = Text("b"), c = Text("c"), none;
    struct Case {
        Arg args[6];
        const char* expected;
    };
    const Case cases[] = {
        {{}, "0:"},
        {{a}, "1:a"},
        {{a, none, c}, "1:a"}, // the third comes after a left-out one and is dropped
        {{none, b}, "0:"},
        {{a, b, c}, "3:a,b,c"},
        {{a, b, c, a, b, c}, "6:a,b,c,a,b,c"},
        {{a, b, c, a, b, none}, "5:a,b,c,a,b"},
        {{Text(""), b}, "2:,b"}, // an empty text is given, not left out
    };
    for (const Case& k : cases) {
        EXPECT_EQ(
            engine.run("args", k.args[0], k.args[1], k.args[2], k.args[3], k.args[4], k.args[5]),
            k.expected);
    }
    EXPECT_EQ(engine.run("args", Text("1")), "1:1") << "arguments pass as strings";
    EXPECT_EQ(engine.evaluate("typeof args"), "function");
}

TEST_F(ScriptEngineTest, RunReachesTheEnginesUriFunctionsAndFailsOnUnknownOnes) {
    EXPECT_EQ(engine.run("encodeURIComponent", Text("a b&c=d/e")), "a%20b%26c%3Dd%2Fe");
    EXPECT_EQ(engine.run("encodeURI", Text("a b&c=d/e")), "a%20b&c=d/e");
    EXPECT_TRUE(engine.last_error().empty());
    EXPECT_EQ(engine.run("no_such_procedure", Text("x")), "");
    EXPECT_FALSE(engine.last_error().empty());
}

TEST_F(ScriptEngineTest, ExecuteStatementReportsErrorsUntilTheNextSuccess) {
    EXPECT_FALSE(engine.execute_statement("var = ;"));
    EXPECT_FALSE(engine.last_error().empty());
    EXPECT_FALSE(engine.execute_statement("undefined_function()"));
    EXPECT_TRUE(engine.execute_statement("var counter = 41; counter++"));
    EXPECT_TRUE(engine.last_error().empty());
    EXPECT_EQ(engine.evaluate("counter"), "42");
}

TEST_F(ScriptEngineTest, EvaluateGivesTheValueAsText) {
    struct Case {
        const char* expression;
        const char* expected;
    };
    const Case cases[] = {
        {"6 * 7", "42"},
        {"'\xD6\xD0' + '\xCE\xC4'", "\xD6\xD0\xCE\xC4"}, // 中文 in GB18030, both ways
        {"undefined", ""},
        {"1 +", ""},    // a syntax error
        {"[1, 2]", ""}, // an object has no text form outside the engine
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine.evaluate(c.expression), c.expected) << c.expression;
    }
}

TEST_F(ScriptEngineTest, AddCodeAndResetManageTheScriptState) {
    engine.add_code("var greeting = 'hi'");
    EXPECT_EQ(engine.evaluate("greeting"), "hi");
    engine.reset();
    EXPECT_EQ(engine.evaluate("typeof greeting"), "undefined");
    EXPECT_EQ(engine.run("args", Text("x")), "") << "the procedures went with the reset";
}

TEST_F(ScriptEngineTest, PropertiesWriteOnlyWhenGiven) {
    EXPECT_EQ(engine.language(), "JScript");
    EXPECT_EQ(engine.language(7), "JScript") << "an unknown kind writes nothing";
    EXPECT_EQ(engine.language(1), "JScript") << "VBScript is not hosted; the control keeps JScript";
    EXPECT_EQ(engine.evaluate("1 + 1"), "2");

    EXPECT_EQ(engine.timeout(5000), 5000);
    EXPECT_EQ(engine.timeout(), -1) << "a left-out value writes -1";

    EXPECT_EQ(engine.state(), 0);
    EXPECT_EQ(engine.state(1), 1);
    EXPECT_EQ(engine.state(), 1) << "read only";
    EXPECT_TRUE(engine.allow_ui());
    EXPECT_FALSE(engine.allow_ui(false));
    EXPECT_FALSE(engine.allow_ui());
    EXPECT_EQ(engine.site_hwnd(), 0);
    EXPECT_EQ(engine.site_hwnd(4711), 4711);
    EXPECT_EQ(engine.site_hwnd(), 4711);
}

TEST_F(ScriptEngineTest, TimeoutStopsARunawayScript) {
    EXPECT_EQ(engine.timeout(200), 200);
    EXPECT_FALSE(engine.execute_statement("while (true) {}"));
    EXPECT_FALSE(engine.last_error().empty());
    engine.add_code("function spin() { for (;;) {} }");
    EXPECT_EQ(engine.run("spin"), "");
    EXPECT_FALSE(engine.last_error().empty());
    EXPECT_EQ(engine.evaluate("1 + 1"), "2") << "the engine runs again afterwards";
}

TEST_F(ScriptEngineTest, CopiesShareTheControlAndKeepTheInitialisationBalanced) {
    const int depth = co_initialize_depth();
    {
        ScriptEngine copy = engine;
        ScriptEngine assigned;
        assigned = copy;
        copy.add_code("var shared = 'yes'");
        EXPECT_EQ(engine.evaluate("shared"), "yes");
        EXPECT_EQ(assigned.evaluate("shared"), "yes");
        EXPECT_EQ(engine.script_control(), copy.script_control());
    }
    EXPECT_EQ(engine.evaluate("shared"), "yes") << "the copies released only their references";
    EXPECT_EQ(co_initialize_depth(), depth);
}

TEST(ScriptEngineWithoutControl, GivesEmptyValuesEverywhere) {
    const ScopedProgIdRemoval gone("ScriptControl");
    ScriptEngine engine;
    EXPECT_EQ(engine.script_control(), nullptr);
    EXPECT_FALSE(engine.execute_statement("1"));
    EXPECT_FALSE(engine.last_error().empty());
    EXPECT_EQ(engine.evaluate("1 + 1"), "");
    EXPECT_EQ(engine.run("encodeURIComponent", Text("a b")), "");
    EXPECT_EQ(engine.language(), "");
    EXPECT_EQ(engine.timeout(), 0);
    EXPECT_EQ(engine.state(1), 0);
    EXPECT_FALSE(engine.allow_ui(true));
    EXPECT_EQ(engine.site_hwnd(5), 0);
    engine.add_code("var x = 1");
    engine.reset();
    EXPECT_FALSE(engine.last_error().empty());
}

} // namespace
} // namespace zorvik
