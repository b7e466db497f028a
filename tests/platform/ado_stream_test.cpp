#include "platform/automation.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

namespace zorvik {
namespace {

Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// The byte-to-text round the page decoder makes: bytes in, position back to 0, text out.
ObjectRef stream_holding(const Bytes& body) {
    ObjectRef stream;
    EXPECT_TRUE(create_object(stream, "Adodb.Stream"));
    put_property(stream, "Type", Variant(1));
    put_property(stream, "Mode", Variant(3));
    call_method(stream, "Open");
    call_method(stream, "Write", {Variant(body)});
    put_property(stream, "Position", Variant(0));
    put_property(stream, "Type", Variant(2));
    EXPECT_TRUE(last_error().empty()) << last_error();
    return stream;
}

struct DecodeCase final {
    const char* charset;
    std::string body;
    QString expected;
};

TEST(AdoStream, ReadTextDecodesTheWrittenBytesByCharsetName) {
    const std::vector<DecodeCase> cases = {
        {"utf-8", "\xE4\xB8\xAD\xE6\x96\x87", QStringLiteral("中文")},
        {"UTF-8", "\xEF\xBB\xBFok", QStringLiteral("ok")}, // the byte-order mark is not text
        {"gbk", "\xD6\xD0\xCE\xC4", QStringLiteral("中文")},
        {"big5", "\xA4\xA4\xA4\xE5", QStringLiteral("中文")},
        {"iso-8859-1", "caf\xE9", QStringLiteral("café")},
        {"Unicode", std::string("\x2D\x4E\x87\x65", 4), QStringLiteral("中文")},
        {"utf-8", std::string("a\0b", 3), QString::fromUtf16(u"a\0b", 3)},
    };
    for (const DecodeCase& c : cases) {
        ObjectRef stream = stream_holding(bytes(c.body));
        put_property(stream, "Charset", Variant::from_text(c.charset));
        EXPECT_EQ(to_qstring(call_method(stream, "ReadText")), c.expected) << c.charset;
        EXPECT_TRUE(last_error().empty()) << c.charset << ": " << last_error();
        call_method(stream, "Close");
        EXPECT_TRUE(last_error().empty()) << c.charset;
    }
}

TEST(AdoStream, AnUnknownCharsetFailsReadText) {
    ObjectRef stream = stream_holding(bytes("abc"));
    put_property(stream, "Charset", Variant::from_text("no-such-charset"));
    EXPECT_EQ(to_qstring(call_method(stream, "ReadText")), QString());
    EXPECT_FALSE(last_error().empty());
}

TEST(AdoStream, WritesLandAtThePositionAndExtendTheStream) {
    ObjectRef stream = stream_holding(bytes("abcdef"));
    put_property(stream, "Type", Variant(1));
    put_property(stream, "Position", Variant(4));
    call_method(stream, "Write", {Variant(bytes("XYZ"))});
    EXPECT_EQ(to_integer(get_property(stream, "Size")), 7);
    EXPECT_EQ(to_integer(get_property(stream, "Position")), 7);
    put_property(stream, "Position", Variant(0));
    put_property(stream, "Type", Variant(2));
    put_property(stream, "Charset", Variant::from_text("us-ascii"));
    EXPECT_EQ(to_qstring(call_method(stream, "ReadText")), QStringLiteral("abcdXYZ"));
    EXPECT_EQ(to_integer(get_property(stream, "Position")), 7);
}

TEST(AdoStream, MisuseFailsTheCallAndLeavesTheStreamUsable) {
    ObjectRef stream;
    ASSERT_TRUE(create_object(stream, "Adodb.Stream"));
    EXPECT_EQ(to_integer(get_property(stream, "Type")), 2) << "a new stream is a text stream";

    struct Misuse final {
        const char* what;
        std::function<void()> act;
    };
    const std::vector<Misuse> before_open = {
        {"Write while closed", [&] { call_method(stream, "Write", {Variant(bytes("a"))}); }},
        {"ReadText while closed", [&] { call_method(stream, "ReadText"); }},
        {"Close while closed", [&] { call_method(stream, "Close"); }},
        {"a type of 3", [&] { put_property(stream, "Type", Variant(3)); }},
    };
    for (const Misuse& m : before_open) {
        m.act();
        EXPECT_FALSE(last_error().empty()) << m.what;
    }

    put_property(stream, "Type", Variant(1));
    call_method(stream, "Open");
    call_method(stream, "Write", {Variant(bytes("abc"))});
    ASSERT_TRUE(last_error().empty()) << last_error();
    const std::vector<Misuse> while_open = {
        {"Open twice", [&] { call_method(stream, "Open"); }},
        {"Mode while open", [&] { put_property(stream, "Mode", Variant(3)); }},
        {"Type away from position 0", [&] { put_property(stream, "Type", Variant(2)); }},
        {"Charset away from position 0",
         [&] { put_property(stream, "Charset", Variant::from_text("utf-8")); }},
        {"a position past the end", [&] { put_property(stream, "Position", Variant(4)); }},
        {"ReadText on a byte stream", [&] { call_method(stream, "ReadText"); }},
        {"Write of text", [&] { call_method(stream, "Write", {Variant::from_text("x")}); }},
    };
    for (const Misuse& m : while_open) {
        m.act();
        EXPECT_FALSE(last_error().empty()) << m.what;
    }

    put_property(stream, "Position", Variant(0));
    put_property(stream, "Type", Variant(2));
    put_property(stream, "Charset", Variant::from_text("utf-8"));
    EXPECT_EQ(to_qstring(call_method(stream, "ReadText")), QStringLiteral("abc"));
    call_method(stream, "Write", {Variant(bytes("d"))});
    EXPECT_FALSE(last_error().empty()) << "Write on a text stream";
}

} // namespace
} // namespace zorvik
