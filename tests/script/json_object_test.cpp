#include "script/json_object.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace zorvik {
namespace {

// Texts are GB18030.
const std::string kSunny = "\xC7\xE7\xCC\xEC";         // 晴天
const std::string kJay = "\xD6\xDC\xBD\xDC\xC2\xD7";   // 周杰伦
const std::string kTrailBackslash = "\x81\x5C";        // 乗: its trail byte is '\'
const std::string kLineSeparator = "\x81\x36\xA6\x35"; // U+2028
const std::string kProtection = "\x81\x37\x83\x30";    // U+2400

// The shape of a music-search reply.
const std::string kReply = R"({"code":200,"data":[)"
                           R"({"title":")" +
                           kSunny + R"(","author":")" + kJay +
                           R"(","songid":186016,"url":"http://music.example/1.mp3"},)"
                           R"({"title":"Second","author":"B","songid":"4711",)"
                           R"("url":"http://music.example/2.mp3"}]})";

// What the engine holds, read through the control itself (bypassing the object's readers).
Text engine_eval(const JsonObject& json, const std::string& expression) {
    return to_text(call_method(json.script_control(), "Eval", {Variant::from_text(expression)}));
}

TEST(JsonObject, ANewObjectHoldsAnEmptyObject) {
    JsonObject json;
    EXPECT_EQ(json.to_json(), "{}");
    EXPECT_EQ(json.type_of(), 4);
    EXPECT_EQ(json.count(), 0);
    TextList names{"stale"};
    EXPECT_EQ(json.key_names(names), 0);
    EXPECT_TRUE(names.empty());
}

TEST(JsonObject, ReadsTheSearchReply) {
    JsonObject json;
    ASSERT_TRUE(json.parse(kReply));
    EXPECT_EQ(json.count("data"), 2);

    struct TypeCase {
        const char* path;
        int type;
    };
    const TypeCase types[] = {
        {"", 4},
        {"data", 5},
        {"data[0]", 4},
        {"data[0].title", 6},
        {"code", 2},
        {"data[1].songid", 6},
        {"absent", 0},
        {"data[5]", 0},
        {"data[0].x.y", -1}, // the evaluation fails
    };
    for (const TypeCase& c : types) {
        EXPECT_EQ(json.type_of(c.path), c.type) << c.path;
    }

    struct TextCase {
        const char* path;
        bool as_json;
        std::string expected;
    };
    const TextCase texts[] = {
        {"data[0].title", false, kSunny},
        {"data[0].author", false, kJay},
        {"data[1].title", false, "Second"},
        {"data[1].url", false, "http://music.example/2.mp3"},
        {"data[1].title", true, "\"Second\""},
        {"code", false, ""}, // a number has no text reading
        {"code", true, "200"},
        {"absent", false, ""},
        {"absent", true, ""},
        {"data[1]", true,
         R"({"title":"Second","author":"B","songid":"4711","url":"http://music.example/2.mp3"})"},
    };
    for (const TextCase& c : texts) {
        EXPECT_EQ(json.get_text(c.path, c.as_json), c.expected) << c.path;
    }

    struct NumberCase {
        const char* path;
        double expected;
    };
    const NumberCase numbers[] = {
        {"data[0].songid", 186016},
        {"data[1].songid", 4711}, // a numeric string reads as its number
        {"data[1].title", 0},     // any other string reads as 0
        {"absent", 0},
        {"data", 0},
    };
    for (const NumberCase& c : numbers) {
        EXPECT_EQ(json.get_number(c.path), c.expected) << c.path;
    }

    EXPECT_EQ(json.get_element_text(1, "data"), "") << "an object has no text reading";
    EXPECT_EQ(json.get_element_text(1, "data[0].title"), "\xCC\xEC")
        << "a string indexes by character";
    EXPECT_EQ(json.get_json("data[0].songid"), "186016");
}

TEST(JsonObject, CountsOnlyArrays) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"list":[1,2,3],"object":{"a":1},"text":"abc","nested":[[1],[]]})"));
    struct Case {
        const char* path;
        int expected;
    };
    const Case cases[] = {{"list", 3},      {"object", 0},    {"text", 0}, {"absent", 0},
                          {"nested[0]", 1}, {"nested[1]", 0}, {"", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(json.count(c.path), c.expected) << c.path;
    }
}

TEST(JsonObject, ParsesJsonAndNothingElse) {
    struct Case {
        std::string text;
        bool parsed;
        const char* to_json; // what the root is afterwards
    };
    const Case cases[] = {
        {"{\n  \"a\": [\n    1,\n    2\n  ]\n}", true, R"({"a":[1,2]})"}, // indented
        {"{\r\n\t\"a\" :\t1\r\n}", true, R"({"a":1})"},
        {"{\"s\":\"line1\r\nline2\"}", true, R"({"s":"line1\r\nline2"})"}, // raw breaks in a string
        {"{\"s\":\"tab\there\"}", true, R"({"s":"tab\there"})"},
        {"{\"s\":\"" + kTrailBackslash + "\",\n\"n\":1}", true, nullptr}, // '\' as a trail byte
        {"[1,\"two\",null]", true, R"([1,"two",null])"},
        {"\"text\"", true, R"("text")"},
        {"0", true, "0"},
        {"\x84\x31\x95\x33{\"a\":1}", true, R"({"a":1})"}, // after a byte-order mark
        {"", false, ""},                                   // absent
        {"null", false, "null"},
        {"   ", false, "null"},
        {"{'a': 1}", false, "null"},    // a script literal, not JSON
        {"{a: 1}", false, "null"},      //
        {"{\"a\": 1,}", false, "null"}, //
        {"{\"a\": 1", false, "null"},
        {"<html>error</html>", false, "null"},
    };
    for (const Case& c : cases) {
        JsonObject json;
        EXPECT_EQ(json.parse(c.text), c.parsed) << c.text;
        if (c.to_json != nullptr) {
            EXPECT_EQ(json.to_json(), c.to_json) << c.text;
        }
        if (!c.parsed) {
            EXPECT_EQ(json.type_of(), 0) << c.text;
            EXPECT_EQ(json.get_text("a"), "") << c.text;
            EXPECT_EQ(json.count("a"), 0) << c.text;
        }
    }

    JsonObject json;
    ASSERT_TRUE(json.parse("{\"s\":\"line1\r\nline2\",\"t\":\"" + kTrailBackslash + "\"}"));
    EXPECT_EQ(json.get_text("s"), "line1\r\nline2");
    EXPECT_EQ(json.get_text("t"), kTrailBackslash);
}

TEST(JsonObject, AParseReplacesEverythingBefore) {
    JsonObject json;
    ASSERT_TRUE(json.set_value("kept", "1"));
    ASSERT_TRUE(json.parse(R"({"other":1})"));
    EXPECT_EQ(json.type_of("kept"), 0);
    EXPECT_FALSE(json.parse("not json"));
    EXPECT_EQ(json.type_of(), 0);
    EXPECT_EQ(json.type_of("other"), -1) << "a member of null cannot be read";
    EXPECT_EQ(json.get_text("other", true), "");
    EXPECT_EQ(json.to_json(), "null");
}

// A reply is data: script in its place is refused at once and none of it runs.
TEST(JsonObject, AReplyThatIsScriptRunsNothing) {
    const char* replies[] = {
        "while (true) { hacked = 0; }",
        "hacked = 1",
        "(function () { hacked = 2; return {}; })()",
        "[hacked = 3]",
        "{\"a\": (hacked = 4)}",
        "eval('hacked = 5')",
        "\"x\" + (hacked = 6)",
    };
    for (const char* reply : replies) {
        JsonObject json;
        EXPECT_FALSE(json.parse(reply)) << reply;
        EXPECT_EQ(json.type_of(), 0) << reply;
        EXPECT_EQ(engine_eval(json, "typeof hacked"), "undefined") << reply;
    }
}

TEST(JsonObject, HostileShapesGiveADefinedResult) {
    JsonObject json;
    const std::string deep_array = std::string(1000000, '[') + std::string(1000000, ']');
    EXPECT_FALSE(json.parse(deep_array));
    EXPECT_EQ(json.type_of(), 0);

    std::string deep_object;
    for (int i = 0; i < 1000000; ++i) {
        deep_object += "{\"a\":";
    }
    deep_object += "1" + std::string(1000000, '}');
    EXPECT_FALSE(json.parse(deep_object));

    const std::string nested = std::string(200, '[') + "7" + std::string(200, ']');
    EXPECT_TRUE(json.parse(nested)) << "reasonable nesting still parses";
    std::string path;
    for (int i = 0; i < 200; ++i) {
        path += "[0]";
    }
    EXPECT_EQ(json.get_number(path), 7);

    const std::string big(4 * 1024 * 1024, 'x');
    ASSERT_TRUE(json.parse("{\"big\":\"" + big + "\"}"));
    EXPECT_EQ(json.get_text("big").size(), big.size());

    EXPECT_FALSE(json.parse("{\"unterminated"));
    EXPECT_FALSE(json.parse(std::string(100000, '"')));
    EXPECT_FALSE(json.parse(std::string(100000, '\\')));
}

TEST(JsonObject, BackslashesRoundTripThroughSetValue) {
    struct Case {
        std::string value;
        bool result; // the statement's value read as a logical
    };
    const Case cases[] = {
        {"C:\\dir\\file.mp3", false},
        {"it's \"quoted\" \\ here", false},
        {"line1\r\nline2", false},
        {kTrailBackslash + "\\" + kTrailBackslash, false},
        {"a" + kLineSeparator + "b", false},
        {"\\u0041\\n", false}, // escape-like text stays text
        {"", false},
        {"1", true},
        {"true", true},
        {kJay, false},
    };
    JsonObject json;
    for (const Case& c : cases) {
        EXPECT_EQ(json.set_value("v", c.value), c.result) << c.value;
        EXPECT_EQ(json.get_text("v"), c.value);
        EXPECT_EQ(json.type_of("v"), 6);
    }

    ASSERT_FALSE(json.set_value("v", "a\\b"));
    EXPECT_EQ(json.to_json(), "{\"v\":\"a\\b\"}") << "a protected backslash is written unescaped";
    EXPECT_EQ(json.get_text("v", true), "\"a\\b\"");

    ASSERT_TRUE(json.parse(R"({"v":"a\\b","p":")" + kProtection + R"("})"));
    EXPECT_EQ(json.get_text("v"), "a\\b");
    EXPECT_EQ(json.to_json(), R"({"v":"a\\b","p":"\"})")
        << "a parsed backslash is a real one; a real U+2400 reads back as a backslash";
}

TEST(JsonObject, PushAndSetElementQuoteTextsButNotJson) {
    JsonObject json;
    EXPECT_TRUE(json.push("first", "list")) << "creates the array; its new length is true";
    EXPECT_TRUE(json.push("{\"n\":2}", "list", true));
    EXPECT_TRUE(json.push("[3]", "list", true));
    EXPECT_EQ(json.get_json("list"), R"(["first",{"n":2},[3]])");

    EXPECT_FALSE(json.push("it's", "list")) << "an apostrophe ends the literal";
    EXPECT_EQ(json.count("list"), 3);

    json.set_value("text", "abc");
    EXPECT_TRUE(json.push("x", "text"));
    EXPECT_EQ(json.get_json("text"), R"(["x"])") << "a member that is no array is replaced";

    json.set_element(0, "list", "replaced");
    EXPECT_TRUE(json.set_element(1, "list", "42", true));
    EXPECT_EQ(json.get_json("list"), R"(["replaced",42,[3]])");
    EXPECT_EQ(json.get_element_text(0, "list"), "replaced");
    EXPECT_EQ(json.get_element_text(1, "list", true), "42");
    EXPECT_EQ(json.get_element_text(2, "list", true), "[3]");

    EXPECT_TRUE(json.push("root"));
    EXPECT_EQ(json.to_json(), R"(["root"])") << "an empty path pushes onto the root";
}

TEST(JsonObject, RemovesElementsAndMembers) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"list":["a","b","c"],"gone":1,"kept":2})"));
    json.remove_element(0, "list");
    EXPECT_EQ(json.get_json("list"), R"(["b","c"])");
    json.remove_element(5, "list");
    EXPECT_EQ(json.count("list"), 2);
    EXPECT_TRUE(json.remove("gone"));
    EXPECT_EQ(json.type_of("gone"), 0);
    EXPECT_EQ(json.to_json(), R"({"list":["b","c"],"kept":2})");
    json.clear();
    EXPECT_EQ(json.to_json(), "{}");
}

TEST(JsonObject, SetValueWithJsonMergesOrAssigns) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"list":[1],"obj":{"a":"x","n":1,"inner":{"k":true}},"s":"t"})"));
    struct Case {
        const char* path;
        const char* value;
        const char* get_json;
    };
    const Case cases[] = {
        {"list", "[2,3]", "[1,2,3]"}, // appended to an array
        {"fresh", "[4]", "[4]"},      // stored on an absent member
        {"empty", "", "{}"},          // an empty value stores an empty object
        {"obj", "", R"({"a":"x","n":1,"inner":{"k":true}})"}, // and leaves a member unchanged
        {"obj", R"({"a":"y","n":2,"inner":{"k":false,"j":1},"b":[]})",
         R"({"a":"y","n":2,"inner":{"k":false,"j":1},"b":[]})"},
    };
    for (const Case& c : cases) {
        json.set_value(c.path, c.value, true);
        EXPECT_EQ(json.get_json(c.path), c.get_json) << c.path << " " << c.value;
    }
    EXPECT_TRUE(json.set_expression("sum", "1 + 2"));
    EXPECT_EQ(json.get_number("sum"), 3);
    EXPECT_FALSE(json.set_value("missing.child", "x")) << "writers create no parents";
    EXPECT_EQ(json.type_of("missing"), 0);
}

TEST(JsonObject, SetNumberWritesThirteenSignificantDigits) {
    JsonObject json;
    struct Case {
        double value;
        const char* stored;
    };
    const Case cases[] = {
        {1.0 / 3.0, "0.3333333333333"},
        {186016, "186016"},
        {-2.5, "-2.5"},
        {1e20, "100000000000000000000"},
        {123456789012345.0, "123456789012300"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(json.set_number("n", c.value));
        EXPECT_EQ(json.get_json("n"), c.stored);
    }
    EXPECT_FALSE(json.set_number("n", 0)) << "the statement's value 0 reads as false";
    EXPECT_EQ(json.get_number("n"), 0);
}

TEST(JsonObject, KeyNamesListOwnDataMembersOnly) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"title":"a","toJSONString":"own","n":1,"o":{},"list":[1]})"));
    TextList names;
    EXPECT_EQ(json.key_names(names), 5);
    EXPECT_EQ(names, (TextList{"title", "toJSONString", "n", "o", "list"}));
    EXPECT_EQ(json.key_names(names, "o"), 0);
    EXPECT_EQ(json.key_names(names, "list"), 0);
    EXPECT_EQ(json.key_names(names, "absent"), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(engine_eval(json, "typeof ({}).toJSONString + typeof ({}).parseJSON"),
              "functionfunction")
        << "every object inherits the two members the reader passes over";
}

TEST(JsonObject, ResolvePathRewritesToFullPaths) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"data":[{"title":"x"}],"da":{"x":1}})"));
    struct Case {
        const char* path;
        const char* full;
        bool found;
    };
    const Case cases[] = {
        {"", "da", true},
        {"data", "da.data", true},
        {"data[0].title", "da.data[0].title", true},
        {"[0]", "da[0]", false},
        {"da.data", "da.data", true},
        {"da.absent", "da.da.absent", false},
        {"da", "da", true},
        {"da.x", "da.da.x", true}, // da.x fails on the root, so it is a member path after all
        {"dat", "da.dat", false},
    };
    for (const Case& c : cases) {
        Text path = c.path;
        EXPECT_EQ(json.resolve_path(path), c.found) << c.path;
        EXPECT_EQ(path, c.full) << c.path;
    }
}

// Paths beginning like the root name are looked up as globals first, so a global that a
// caller's code made is found, exactly as the plain two steps would find it.
TEST(JsonObject, GlobalsMadeByCallersCodeAreFoundFirst) {
    JsonObject json;
    ASSERT_TRUE(json.parse(R"({"data":{"n":1}})"));
    EXPECT_EQ(json.get_number("data.n"), 1);
    json.set_expression("x", "data = {n: 2}, 0"); // makes a global named data
    EXPECT_EQ(json.get_number("data.n"), 2);
    Text path = "data";
    EXPECT_TRUE(json.resolve_path(path));
    EXPECT_EQ(path, "data");

    JsonObject other;
    ASSERT_TRUE(other.parse(R"({"dataset":{"n":1}})"));
    call_method(other.script_control(), "AddCode", {Variant::from_text("var dataset = {n: 3}")});
    EXPECT_EQ(other.get_number("dataset.n"), 3);
}

// The skipped look-ups rely on this: only our own code has run, so no global but the root
// begins with its name.
TEST(JsonObject, NoGlobalButTheRootBeginsWithItsName) {
    JsonObject json;
    ASSERT_TRUE(json.parse(kReply));
    EXPECT_EQ(engine_eval(json, "Object.getOwnPropertyNames(this).filter(function (n) "
                                "{ return n.indexOf('da') == 0 }).join()"),
              "da");
}

TEST(JsonObject, GetObjectGivesAnIndependentDeepCopy) {
    JsonObject json;
    ASSERT_TRUE(json.parse(kReply));
    JsonObject song = json.get_object("data[0]");
    EXPECT_EQ(song.get_text("title"), kSunny);
    EXPECT_EQ(song.get_number("songid"), 186016);
    song.set_value("title", "changed");
    json.set_value("data[0].author", "also changed");
    EXPECT_EQ(json.get_text("data[0].title"), kSunny);
    EXPECT_EQ(song.get_text("author"), kJay);

    JsonObject second = json.get_element_object(1, "data");
    EXPECT_EQ(second.get_text("title"), "Second");

    JsonObject absent = json.get_object("absent");
    EXPECT_EQ(absent.type_of(), 0);

    // Text stored with backslashes survives the copy unchanged.
    json.set_value("data[1].path", "C:\\new\\qq\\b");
    ASSERT_EQ(json.get_text("data[1].path"), "C:\\new\\qq\\b");
    EXPECT_EQ(json.get_element_object(1, "data").get_text("path"), "C:\\new\\qq\\b");
    EXPECT_EQ(json.get_object("data").get_text("[1].path"), "C:\\new\\qq\\b");
}

TEST(JsonObject, CopiesShareTheDocumentUntilOneParses) {
    const int depth = co_initialize_depth();
    {
        JsonObject json;
        JsonObject copy = json;
        copy.set_value("shared", "yes");
        EXPECT_EQ(json.get_text("shared"), "yes");
        ASSERT_TRUE(json.parse(R"({"fresh":1})"));
        EXPECT_EQ(copy.get_text("shared"), "yes") << "the copy keeps the engine it had";
        EXPECT_EQ(copy.type_of("fresh"), 0);

        JsonObject untouched;
        JsonObject sharing = untouched;
        ASSERT_TRUE(untouched.parse(R"({"a":1})"));
        EXPECT_EQ(sharing.to_json(), "{}") << "a parse never changes a copy's document";

        for (int i = 0; i < 3; ++i) {
            json.parse(kReply);
            json.get_object("data[0]");
        }
    }
    EXPECT_EQ(co_initialize_depth(), depth) << "every object gives back what it took";
}

TEST(JsonObject, WithoutAnEngineEverythingIsEmpty) {
    const ScopedProgIdRemoval gone("MSScriptControl.ScriptControl");
    JsonObject json;
    EXPECT_EQ(json.script_control(), nullptr);
    EXPECT_FALSE(json.parse(kReply));
    EXPECT_EQ(json.to_json(), "");
    EXPECT_EQ(json.get_text("data[0].title"), "");
    EXPECT_EQ(json.get_number("data[0].songid"), 0);
    EXPECT_EQ(json.count("data"), 0);
    EXPECT_EQ(json.type_of(), 0);
    EXPECT_FALSE(json.set_value("a", "1"));
    EXPECT_FALSE(json.push("1"));
    TextList names{"stale"};
    EXPECT_EQ(json.key_names(names), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(json.get_object("data").type_of(), 0);
    Text path = "data";
    EXPECT_FALSE(json.resolve_path(path));
}

// The polyfill only runs in an engine without JSON; such an engine is made here by removing it.
TEST(JsonPrelude, PolyfillBehavesLikeTheEnginesJson) {
    ObjectRef native;
    ObjectRef bare;
    ASSERT_TRUE(create_object(native, "ScriptControl"));
    ASSERT_TRUE(create_object(bare, "ScriptControl"));
    call_method(bare, "ExecuteStatement", {Variant::from_text("delete this.JSON")});
    ASSERT_EQ(to_text(call_method(bare, "Eval", {Variant::from_text("typeof JSON")})), "undefined");
    call_method(bare, "AddCode", {Variant::from_text(json_prelude())});
    ASSERT_TRUE(last_error().empty()) << last_error();
    call_method(native, "AddCode", {Variant::from_text(json_prelude())});

    const char* expressions[] = {
        R"(JSON.stringify({a: [1, 'x\n"\\', true, null, undefined], b: {}, c: -0.5e-7, f: function () {}}))",
        R"(JSON.stringify('\u0001\u001f\t'))",
        R"(JSON.stringify([new Number(3), new String('s'), new Boolean(false), NaN, Infinity]))",
        R"(JSON.stringify({a: [1, {b: 2}], e: []}, null, 2))",
        R"(JSON.stringify({a: 1, b: 'x'}, function (k, v) { return typeof v == 'number' ? v * 2 : v }))",
        R"(JSON.stringify(JSON.parse(' {"a" : [1, -2.5e3, "\\u00e9\\n\\\\\\/", true, false, null], "b": {}} ')))",
        R"(JSON.stringify(JSON.parse('{"__proto__": 1}')))",
        R"((function () { try { JSON.parse('{"a": 1,}'); return 'parsed' } catch (e) { return e.name } })())",
        R"((function () { try { JSON.parse('01'); return 'parsed' } catch (e) { return e.name } })())",
        R"((function () { try { JSON.parse('"a' + String.fromCharCode(10) + '"'); return 'parsed' } catch (e) { return e.name } })())",
        R"((function () { var o = {}; o.o = o; try { JSON.stringify(o); return 'done' } catch (e) { return e.name } })())",
        R"(({a: 1}).toJSONString())",
        R"('[1,2]'.parseJSON().length)",
    };
    for (const char* expression : expressions) {
        const Text expected =
            to_text(call_method(native, "Eval", {Variant::from_text(expression)}));
        ASSERT_TRUE(last_error().empty()) << expression << ": " << last_error();
        EXPECT_EQ(to_text(call_method(bare, "Eval", {Variant::from_text(expression)})), expected)
            << expression << ": " << last_error();
    }
    // Where the engine's own JSON departs from the standard (it ignores a list of names and
    // keeps members a reviver drops), the polyfill follows the standard.
    const std::pair<const char*, const char*> standard[] = {
        {"JSON.stringify({a: 1, b: 2, c: 3}, ['c', 'a'])", R"({"c":3,"a":1})"},
        {R"(JSON.stringify(JSON.parse('[1, {"a": 2}]', function (k, v) { return k === 'a' ? undefined : v })))",
         R"([1,{}])"},
    };
    for (const auto& [expression, expected] : standard) {
        EXPECT_EQ(to_text(call_method(bare, "Eval", {Variant::from_text(expression)})), expected)
            << expression << ": " << last_error();
    }
}

} // namespace
} // namespace zorvik
