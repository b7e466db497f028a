// Replies whose text is hostile: JSON nested a million deep, bytes that are no UTF-8 (stray
// bytes, GBK, UTF-16 with its byte-order mark, a zero byte in the middle). Each reaches a
// defined result through the code-page conversion, the JSON store, the search's routines and
// the quote page.

#include "hostile/hostile_server.h"
#include "hostile/quote_press.h"

#include "codepage/codepage.h"
#include "platform/ui/clipboard.h"
#include "script/json_object.h"
#include "web/web_fetch_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvik::test {
namespace {

// U+FFFD, which every byte that is no part of a character becomes, in the program's code page.
const std::string kReplacement = "\x84\x31\xA4\x37";

constexpr std::size_t kMillion = 1000000;

struct DeepJson final {
    const char* name;
    std::string text;
};

std::vector<DeepJson> deep_documents() {
    return {
        {"arrays", repeat("[", kMillion) + repeat("]", kMillion)},
        {"objects", repeat("{\"a\":", kMillion) + "1" + repeat("}", kMillion)},
        {"arrays and objects", repeat("[{\"data\":", kMillion) + "0" + repeat("}]", kMillion)},
        {"never closed", repeat("[", kMillion)},
        {"under a data member", "{\"data\":" + repeat("[", kMillion) + repeat("]", kMillion) + "}"},
    };
}

TEST(DeepJson, ParseRefusesItAndTheStoreStaysUsable) {
    for (const DeepJson& c : deep_documents()) {
        JsonObject json;
        EXPECT_FALSE(json.parse(c.text)) << c.name;
        EXPECT_EQ(json.type_of(), 0) << c.name << ": the root is null";
        EXPECT_EQ(json.count("data"), 0) << c.name;
        EXPECT_TRUE(json.parse(R"({"data":[{"title":"T"}]})")) << c.name;
        EXPECT_EQ(json.get_text("data[0].title"), "T") << c.name;
    }
}

// One array of a million elements overflows the engine's stack inside its JSON.parse, which
// ended the process; such a text is refused instead. A large array well below that still parses.
TEST(JsonElementFlood, IsRefusedWithoutCrashingAndALargeArrayStillParses) {
    struct Case {
        const char* name;
        std::size_t elements;
        const char* element;
        bool parsed;
    };
    const Case cases[] = {
        {"a million numbers", kMillion, "1,", false},
        {"a million empty strings", kMillion, "\"\",", false},
        {"a million empty objects", kMillion, "{},", false},
        {"a hundred thousand numbers", 100000, "1,", true},
    };
    for (const Case& c : cases) {
        JsonObject json;
        EXPECT_EQ(json.parse("{\"data\":[" + repeat(c.element, c.elements) + "1]}"), c.parsed)
            << c.name;
        EXPECT_EQ(json.count("data"), c.parsed ? static_cast<int>(c.elements) + 1 : 0) << c.name;
        EXPECT_TRUE(json.parse(R"({"data":[{"title":"T"}]})")) << c.name;
        EXPECT_EQ(json.count("data"), 1) << c.name;
    }
}

struct Conversion final {
    const char* name;
    std::string utf8;
    std::string text;
};

TEST(Utf8ToAnsi, BytesThatAreNoUtf8GiveADefinedText) {
    const std::vector<Conversion> cases = {
        {"a stray lead byte", "ab\xC3(cd", "ab" + kReplacement + "(cd"},
        {"GBK", "\xD6\xD0\xCE\xC4", repeat(kReplacement, 4)},
        {"UTF-16 with its mark", std::string("\xFF\xFEh\0i\0", 6),
         kReplacement + kReplacement + "h"},
        {"a zero byte in the middle", std::string("ab\0cd", 5), "ab"},
        {"a UTF-8 mark", "\xEF\xBB\xBF{}", "\x84\x31\x95\x33{}"},
        {"an encoded surrogate", "\xED\xA0\x80x", repeat(kReplacement, 3) + "x"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", repeat(kReplacement, 4)},
        {"an overlong slash", "\xC0\xAF", repeat(kReplacement, 2)},
    };
    for (const Conversion& c : cases) {
        EXPECT_EQ(utf8_to_ansi(c.utf8), c.text) << c.name;
    }
}

// What the song search does with a reply: POST, bytes up to the first zero byte, UTF-8 to the
// program's code page, JSON store.
struct SearchRead final {
    bool parsed = false;
    int songs = 0;
    Text first_title;
};

SearchRead search_through_routines(const std::string& url) {
    const Bytes reply =
        web_fetch_object({.url = url, .method = 1, .post_text = "input=a&filter=name"});
    SearchRead read;
    JsonObject json;
    read.parsed = json.parse(utf8_to_ansi(text_of(reply)));
    read.songs = json.count("data");
    read.first_title = json.get_text("data[0].title");
    return read;
}

std::string utf16le_with_mark(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

struct SearchReplyCase final {
    const char* name;
    std::string body;
    bool parsed;
    int songs;
    std::string first_title;
};

TEST(SearchReply, HostileTextGivesADefinedResultThroughTheSearchRoutines) {
    const std::string one_song = R"({"data":[{"title":"T","url":"U"}]})";
    const std::vector<SearchReplyCase> cases = {
        {"nested a million deep", "{\"data\":" + repeat("[", kMillion) + "}", false, 0, ""},
        {"a GBK title", "{\"data\":[{\"title\":\"\xD6\xD0\xCE\xC4\"}]}", true, 1,
         repeat(kReplacement, 4)},
        {"stray bytes outside strings", "{\"data\":[]\xFF}", false, 0, ""},
        {"UTF-16 with its mark", utf16le_with_mark(one_song), false, 0, ""},
        {"a UTF-8 mark", "\xEF\xBB\xBF" + one_song, true, 1, "T"},
        {"a zero byte after the document", one_song + std::string(1, '\0') + "junk", true, 1, "T"},
        {"a zero byte inside it", R"({"data":[{"title":"a)" + std::string(1, '\0') + R"(b"}]})",
         false, 0, ""},
        // No character, so the program's code page has none for it either.
        {"a lone surrogate", R"({"data":[{"title":"\ud800x"}]})", true, 1, "?x"},
        {"a line break inside a string", "{\"data\":[{\"title\":\"a\nb\"}]}", true, 1, "a\nb"},
    };
    for (const SearchReplyCase& c : cases) {
        HostileServer server(reply(ok_reply("application/json", c.body)));
        ASSERT_TRUE(server.ok());
        const SearchRead read = search_through_routines(server.url("/music"));
        EXPECT_EQ(read.parsed, c.parsed) << c.name;
        EXPECT_EQ(read.songs, c.songs) << c.name;
        EXPECT_EQ(read.first_title, c.first_title) << c.name;
    }
}

// The quote page against a local server; the endpoint is plain http because the point here is
// the reply's bytes, not the connection. A reply that is not UTF-8 is read in the program's own
// code page (the service's GBK answer), byte pairs that form a character there included.
struct QuoteReplyCase final {
    const char* name;
    std::string body;
    // The clipboard afterwards; empty: left as it was, with a notice.
    std::string clipboard;
};

TEST(QuoteReply, HostileTextGivesADefinedClipboardOrANotice) {
    const std::vector<QuoteReplyCase> cases = {
        {"GBK", utf8_to_ansi("人生若只如初见。"), utf8_to_ansi("人生若只如初见。")},
        {"a stray lead byte", "ab\xC3(cd", "ab" + kReplacement + "(cd"},
        {"a zero byte in the middle", std::string("ab\0cd", 5), "ab"},
        {"a zero byte first", std::string("\0abc", 4), ""},
        {"UTF-16 with its mark", utf16le_with_mark("hi"), kReplacement + "\xFEh"},
        {"a surrogate encoded in UTF-8", "a\xED\xA0\x80z", "a\xED\xA0" + kReplacement + "z"},
    };
    for (const QuoteReplyCase& c : cases) {
        HostileServer server(reply(ok_reply("text/plain", c.body)));
        ASSERT_TRUE(server.ok());
        const QuotePress press(server.url("/?"));
        ASSERT_TRUE(press.clipboard_set());

        if (c.clipboard.empty()) {
            EXPECT_EQ(clipboard_text(), "earlier") << c.name;
            EXPECT_EQ(press.notices().size(), 1u) << c.name;
        } else {
            EXPECT_EQ(clipboard_text(), c.clipboard) << c.name;
            EXPECT_TRUE(press.notices().empty()) << c.name;
        }
    }
}

} // namespace
} // namespace zorvik::test
