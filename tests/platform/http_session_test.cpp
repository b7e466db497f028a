#include "platform/http_session.h"

#include "support/server/raw_listener.h"
#include "support/server/test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zorvik {
namespace {

using test::LocalServer;
using test::RawListener;
using namespace std::chrono_literals;

struct SplitCase final {
    const char* url;
    bool ok;
    bool secure = false;
    const char* host = "";
    int port = 0;
    const char* object_name = "";
};

TEST(SplitUrl, TakesSchemeHostPortAndObjectName) {
    const std::vector<SplitCase> cases = {
        {"http://example.com/a/b?c=d", true, false, "example.com", 80, "/a/b?c=d"},
        {"HTTPS://example.com", true, true, "example.com", 443, "/"},
        {"https://example.com?encode=text", true, true, "example.com", 443, "/?encode=text"},
        {"http://example.com:8080/x#frag", true, false, "example.com", 8080, "/x"},
        {"http://user:pw@example.com/x", true, false, "example.com", 80, "/x"},
        {"http://[::1]:81/v6", true, false, "[::1]", 81, "/v6"},
        {"http://example.com:/x", true, false, "example.com", 80, "/x"},
        {"example.com/x", false},
        {"?encode=text&charset=utf-8", false},
        {"ftp://example.com/", false},
        {"http://", false},
        {"http://:80/", false},
        {"http://example.com:0/", false},
        {"http://example.com:65536/", false},
        {"http://example.com:8o/", false},
        {"http://exa mple.com/", false},
        {"http://example.com/a b", false},
        {"http://[::1/", false},
    };
    for (const SplitCase& c : cases) {
        const auto parts = split_url(c.url);
        ASSERT_EQ(parts.has_value(), c.ok) << c.url;
        if (parts) {
            EXPECT_EQ(parts->secure, c.secure) << c.url;
            EXPECT_EQ(parts->host, c.host) << c.url;
            EXPECT_EQ(parts->port, c.port) << c.url;
            EXPECT_EQ(parts->object_name, c.object_name) << c.url;
        }
    }
}

// Where one GET ended: which step failed first, what the head and body were.
struct Outcome final {
    bool sent = false;
    bool received = false;
    bool read = false;
    Text head;
    std::string body;
};

Outcome get(const std::string& url, std::chrono::milliseconds timeout = 5s) {
    Outcome out;
    const auto parts = split_url(url);
    HttpSession s;
    EXPECT_TRUE(parts && s.open("") && s.set_timeouts(timeout) &&
                s.connect(parts->host, parts->port) &&
                s.open_request("GET", parts->object_name, parts->secure))
        << url;
    out.sent = s.send({});
    out.received = s.receive_response();
    out.read = s.read_body(out.body);
    out.head = s.raw_headers();
    return out;
}

struct ReplyCase final {
    const char* what;
    std::string reply;
    bool received;
    bool read;
    std::string head;
    std::string body;
};

TEST(HttpSession, TellsWhichStepAHostileReplyBroke) {
    std::string huge_head = "HTTP/1.1 200 OK\r\n";
    while (huge_head.size() < (1u << 20)) {
        huge_head += "X-Filler: " + std::string(500, 'f') + "\r\n";
    }
    huge_head += "Content-Length: 2\r\n\r\nok";
    const std::vector<ReplyCase> cases = {
        {"a whole reply", RawListener::response(200, "OK", "fine"), true, true,
         "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n", "fine"},
        {"nothing at all", "", false, false, "", ""},
        {"not HTTP", "garbage\r\n\r\n", false, false, "", ""},
        {"a head over the cap", huge_head, false, false, "", ""},
        {"a head cut short", "HTTP/1.1 200 OK\r\nContent-", false, false, "", ""},
        {"a body cut short",
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\nabc", true, false,
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n", "abc"},
        {"an interim reply before the final one",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", true,
         true, "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n", "ok"},
        {"bare LF line ends", "HTTP/1.1 200 OK\nX-A: 1\nContent-Length: 2\n\nok", true, true,
         "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n", "ok"},
        {"a zero byte in the head",
         std::string("HTTP/1.1 200 OK\r\nX-Nul: a\0b\r\nContent-Length: 2\r\n\r\nok", 52), false,
         false, "", ""},
    };
    for (const ReplyCase& c : cases) {
        RawListener server(c.reply);
        ASSERT_TRUE(server.ok());
        const Outcome o = get(server.url("/"));
        EXPECT_TRUE(o.sent) << c.what;
        EXPECT_EQ(o.received, c.received) << c.what;
        EXPECT_EQ(o.read, c.read) << c.what;
        EXPECT_EQ(o.head, c.head) << c.what;
        EXPECT_EQ(o.body, c.body) << c.what;
    }
}

TEST(HttpSession, ABodyOverTheCapFailsLikeABrokenRead) {
    LocalServer server;
    ASSERT_TRUE(server.ok());
    server.serve_generated("/big", HttpSession::kBodyCap + 1, true);
    const Outcome o = get(server.url("/big"));
    EXPECT_TRUE(o.received);
    EXPECT_FALSE(o.read);
    EXPECT_LE(o.body.size(), HttpSession::kBodyCap);
}

TEST(HttpSession, ATricklingServerCannotHoldTheExchangeForever) {
    LocalServer server;
    ASSERT_TRUE(server.ok());
    // One byte every 200 ms: never idle for the time-out, never done.
    server.on("GET", "/trickle", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](std::size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(200ms);
            return sink.write("x", 1);
        });
    });
    const Outcome o = get(server.url("/trickle"), 1s);
    EXPECT_TRUE(o.received);
    EXPECT_FALSE(o.read);
    EXPECT_FALSE(o.body.empty());
}

TEST(HttpSession, RefusesSettingsThatCannotBeRight) {
    HttpSession s;
    EXPECT_FALSE(s.open("socks5://127.0.0.1:1080")) << "an HTTP proxy only";
    HttpSession spaced;
    EXPECT_FALSE(spaced.open("proxy host:8080"));

    HttpSession ok;
    ASSERT_TRUE(ok.open(""));
    EXPECT_FALSE(ok.set_timeouts(0ms));
    EXPECT_FALSE(ok.connect("127.0.0.1", 0));
    EXPECT_FALSE(ok.connect("a/b", 80));
    ASSERT_TRUE(ok.connect("127.0.0.1", 80));
    EXPECT_FALSE(ok.open_request("GE T", "/", false));
    EXPECT_FALSE(ok.open_request("GET", "no-slash", false));
    ASSERT_TRUE(ok.open_request("GET", "/", false));
    for (const char* block : {"X-A: 1\nX-B: 2", "X-A: 1\r", "no colon", ": 1", "X A: 1"}) {
        EXPECT_FALSE(ok.add_headers(block)) << block;
    }
    EXPECT_TRUE(ok.add_headers("\r\nX-A: 1\r\n\r\nX-B:\r\n"));
}

TEST(HttpSession, SendsTheObjectNameOfTheProgramsTextAsUtf8) {
    RawListener server;
    ASSERT_TRUE(server.ok());
    HttpSession s;
    ASSERT_TRUE(s.open("") && s.set_timeouts(5s) && s.connect("127.0.0.1", server.port()));
    // "/中?q=a b" with 中 in GB18030.
    ASSERT_TRUE(s.open_request("GET", "/\xD6\xD0?q=a b|%41", false));
    ASSERT_TRUE(s.send({}));
    EXPECT_EQ(server.last_request()->request_line(), "GET /%E4%B8%AD?q=a%20b%7C%41 HTTP/1.1");
}

} // namespace
} // namespace zorvik
