#include "script/script_engine.h"
#include "script/url_encode.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvik {
namespace {

// Texts are GB18030.
const std::string kNiHao = "\xC4\xE3\xBA\xC3";    // 你好
const std::string kGrinning = "\x94\x39\xFC\x36"; // U+1F600, beyond the BMP
const std::string kTrailBackslash = "\x81\x5C";   // 乗: its trail byte is '\'
const std::string kIdeographicSpace = "\xA1\xA1"; // U+3000
const std::string kEuro = "\xA2\xE3";             // U+20AC in GB18030

TEST(UrlEncode, GivesTheDocumentedExamples) {
    struct Case {
        std::string text;
        int mode;
        const char* expected;
    };
    const Case cases[] = {
        {kNiHao, 0, "%E4%BD%A0%E5%A5%BD"},
        {kNiHao, 1, "%E4%BD%A0%E5%A5%BD"},
        {"a b&c=d/e", 0, "a%20b&c=d/e"},
        {"a b&c=d/e", 1, "a%20b%26c%3Dd%2Fe"},
        {"a b&c=d/e", 2, "a%20b&c=d/e"}, // every mode but 1 is encodeURI
        {"a b&c=d/e", -1, "a%20b&c=d/e"},
        {"", 0, ""},
        {"", 1, ""},
        {kGrinning, 1, "%F0%9F%98%80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(url_encode(c.text, c.mode), c.expected) << c.text << " mode " << c.mode;
    }
    EXPECT_EQ(url_encode("a b&c=d/e"), "a%20b&c=d/e") << "the mode defaults to encodeURI";
}

// The engine's own functions are the reference: both must agree on every character class.
TEST(UrlEncode, AgreesWithTheScriptEnginesFunctions) {
    std::string printable;
    for (char c = 0x20; c < 0x7F; ++c) {
        printable.push_back(c);
    }
    const std::string texts[] = {
        printable,
        kNiHao + " " + kNiHao,
        "q=" + kNiHao + "&x=1#frag",
        kGrinning + "a" + kGrinning,
        kTrailBackslash + "\\" + kIdeographicSpace + kEuro,
        "tab\there\r\nnew line",
        "%41 already escaped?",
    };
    ScriptEngine engine;
    for (const std::string& text : texts) {
        const Text by_engine = engine.run("encodeURI", text);
        const Text component_by_engine = engine.run("encodeURIComponent", text);
        ASSERT_FALSE(by_engine.empty()) << engine.last_error();
        EXPECT_EQ(url_encode(text, 0), by_engine) << text;
        EXPECT_EQ(url_encode(text, 1), component_by_engine) << text;
    }
}

} // namespace
} // namespace zorvik
