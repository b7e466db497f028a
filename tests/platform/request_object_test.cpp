// The request object over libcurl, driven through the automation layer against local servers.
#include "platform/automation.h"
#include "platform/request_object.h"
#include "support/server/raw_listener.h"
#include "support/server/test_server.h"
#include "support/trust_test_ca.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zorvik {
namespace {

using test::LocalServer;
using test::RawListener;
using test::Scheme;
using test::ServerCert;
using namespace std::chrono_literals;

Variant text(std::string_view s) {
    return Variant::from_text(s);
}
Variant integer(std::int32_t n) {
    return Variant(n);
}

class RequestObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::test_certificates().ok) << test::test_certificates().error;
        ASSERT_TRUE(create_object(req, kRequestObjectProgId));
    }

    // Each returns whether the member succeeded.
    bool open(std::string_view verb, std::string_view url) {
        call_method(req, "Open", {text(verb), text(url), Variant(false)});
        return last_error().empty();
    }
    bool header(std::string_view name, std::string_view value) {
        call_method(req, "SetRequestHeader", {text(name), text(value)});
        return last_error().empty();
    }
    bool send(std::optional<Variant> body = std::nullopt) {
        call_method(req, "Send", body ? VariantList{*body} : VariantList{});
        return last_error().empty();
    }
    bool fetch(std::string_view url, std::string_view verb = "GET") {
        return open(verb, url) && send();
    }
    int status() { return to_integer(get_property(req, "Status")); }
    std::string body() {
        const Bytes b = to_bytes(get_property(req, "ResponseBody"));
        return std::string(b.begin(), b.end());
    }
    std::string headers() { return to_text(call_method(req, "GetAllResponseHeaders")); }
    void expect_no_response() {
        EXPECT_EQ(status(), 0);
        EXPECT_FALSE(last_error().empty()) << "reads after a failed Send fail";
        EXPECT_TRUE(body().empty());
        EXPECT_TRUE(headers().empty());
    }

    test::TrustTestCa trust_ca_;
    ObjectRef req;
};

TEST_F(RequestObjectTest, GetReturnsStatusBodyAndTheFinalHeaderLines) {
    LocalServer server;
    ASSERT_TRUE(server.ok());
    server.serve_text("/page", 200, "hello", {{"X-One", "1"}});

    ASSERT_TRUE(fetch(server.url("/page?q=1"))) << last_error();
    EXPECT_EQ(status(), 200);
    EXPECT_EQ(to_text(get_property(req, "StatusText")), "OK");
    EXPECT_EQ(body(), "hello");
    EXPECT_EQ(to_text(get_property(req, "ResponseText")), "hello");
    const std::string h = headers();
    EXPECT_EQ(h.find("HTTP/"), std::string::npos) << "no status line";
    EXPECT_NE(h.find("X-One: 1\r\n"), std::string::npos) << h;
    EXPECT_NE(h.find("Content-Length: 5\r\n"), std::string::npos) << h;
    EXPECT_TRUE(h.ends_with("\r\n"));
    EXPECT_EQ(h.find("\r\n\r\n"), std::string::npos) << "no empty line";
    EXPECT_EQ(to_text(call_method(req, "GetResponseHeader", {text("x-one")})), "1");
    EXPECT_EQ(server.last_request()->query, "q=1");
}

TEST_F(RequestObjectTest, HeaderLinesAreReadAsUtf8ElseLatin1) {
    RawListener server(RawListener::response(
        200, "OK", "x", {"X-Utf8: \xE4\xB8\xAD\xE6\x96\x87", "X-Latin: \xE9t\xE9"}));
    ASSERT_TRUE(fetch(server.url("/")));
    const QString all = to_qstring(call_method(req, "GetAllResponseHeaders"));
    EXPECT_TRUE(all.contains(QStringLiteral("X-Utf8: 中文\r\n"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("X-Latin: été\r\n"))) << all.toStdString();
    // Text readings come back in the program's code page: 中文 is D6 D0 CE C4 in GB18030.
    EXPECT_EQ(to_text(call_method(req, "GetResponseHeader", {text("X-Utf8")})), "\xD6\xD0\xCE\xC4");
}

TEST_F(RequestObjectTest, AnErrorStatusIsAResponseLikeAnyOther) {
    LocalServer server;
    server.serve_text("/missing", 404, "not here");
    ASSERT_TRUE(fetch(server.url("/missing"))) << last_error();
    EXPECT_EQ(status(), 404);
    EXPECT_EQ(to_text(get_property(req, "StatusText")), "Not Found");
    EXPECT_EQ(body(), "not here");
}

TEST_F(RequestObjectTest, SendsExactlyTheHeadersItWasGiven) {
    RawListener server;
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(open("POST", server.url("/form")));
    ASSERT_TRUE(header("X-First", "1"));
    ASSERT_TRUE(header("Cookie", "")); // an empty value is still sent
    ASSERT_TRUE(header("X-Second", "2"));
    ASSERT_TRUE(header("x-first", "again")) << "a second call replaces the value in place";
    ASSERT_TRUE(header("Content-Length", "999")) << "accepted, but the real length is sent";
    ASSERT_TRUE(send(text("a=1")));

    const auto got = server.last_request();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->request_line(), "POST /form HTTP/1.1");
    std::vector<std::string> ours;
    for (const auto& line : got->header_lines()) {
        if (line.rfind("X-", 0) == 0 || line.rfind("x-", 0) == 0 || line.rfind("Cookie", 0) == 0) {
            ours.push_back(line);
        }
    }
    EXPECT_EQ(ours, (std::vector<std::string>{"X-First: again", "Cookie:", "X-Second: 2"}));
    EXPECT_EQ(got->header("Content-Length"), "3");
    EXPECT_EQ(got->body, "a=1");
    // libcurl's own additions would change what the server sees.
    EXPECT_EQ(got->header_count("Accept"), 0u);
    EXPECT_EQ(got->header_count("Content-Type"), 0u);
    EXPECT_EQ(got->header_count("Expect"), 0u);
}

TEST_F(RequestObjectTest, RefusesHeadersThatWouldForgeOthers) {
    RawListener server;
    ASSERT_TRUE(open("GET", server.url("/")));
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"X-A", "1\r\nX-Injected: 1"},
        {"X-B", "1\nX-Injected: 1"},
        {"X C", "1"},
        {"X-D:", "1"},
        {"", "1"},
    };
    for (const auto& [name, value] : bad) {
        EXPECT_FALSE(header(name, value)) << name;
    }
    ASSERT_TRUE(send());
    EXPECT_EQ(server.last_request()->header_count("X-Injected"), 0u);
}

TEST_F(RequestObjectTest, BodiesGoOutAsBytesOrUtf8Text) {
    LocalServer server;
    server.serve_echo("/echo");
    struct Case {
        const char* verb;
        std::optional<Variant> body;
        std::string expected_method;
        std::string expected_body;
    };
    const Bytes with_zero = {'a', 0, 'b', 0xFF};
    const std::vector<Case> cases = {
        {"POST", Variant(with_zero), "POST", std::string("a\0b\xFF", 4)},
        {"POST", text("\xD6\xD0"), "POST", "\xE4\xB8\xAD"}, // 中: GB18030 in, UTF-8 out
        {"PUT", text("x=1"), "PUT", "x=1"},
        {"DELETE", std::nullopt, "DELETE", ""},
        {"POST", std::nullopt, "POST", ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(open(c.verb, server.url("/echo")));
        ASSERT_TRUE(send(c.body)) << c.verb << ": " << last_error();
        const auto got = server.last_request();
        EXPECT_EQ(got->method, c.expected_method);
        EXPECT_EQ(got->body, c.expected_body) << c.verb;
    }

    ASSERT_TRUE(fetch(server.url("/echo"), "HEAD"));
    EXPECT_EQ(status(), 200);
    EXPECT_TRUE(body().empty());
    EXPECT_EQ(server.last_request()->method, "HEAD");
}

TEST_F(RequestObjectTest, FollowsRedirectsUnlessOptionSixIsOff) {
    LocalServer server;
    server.serve_redirect("/old", 302, "/hop");
    server.serve_redirect("/hop", 301, "/new");
    server.serve_text("/new", 200, "arrived", {{"X-Final", "yes"}});
    server.serve_redirect("/loop", 302, "/loop");

    EXPECT_EQ(to_logical(get_property(req, "Option", {integer(kRequestOptionEnableRedirects)})),
              true);
    ASSERT_TRUE(fetch(server.url("/old")));
    EXPECT_EQ(status(), 200);
    EXPECT_EQ(body(), "arrived");
    EXPECT_NE(headers().find("X-Final: yes"), std::string::npos);
    EXPECT_EQ(headers().find("Location"), std::string::npos) << "only the final response";

    EXPECT_FALSE(fetch(server.url("/loop"))) << "a redirect loop ends";
    expect_no_response();

    put_property(req, "Option", {integer(kRequestOptionEnableRedirects)}, integer(0));
    ASSERT_TRUE(fetch(server.url("/old"))) << "the option outlives Open";
    EXPECT_EQ(status(), 302);
    EXPECT_EQ(body(), "moved");
    EXPECT_NE(headers().find("Location: /hop\r\n"), std::string::npos);
}

TEST_F(RequestObjectTest, ABodyOverTheCapFailsLikeANetworkError) {
    LocalServer server;
    server.serve_generated("/streamed", kMaxResponseBodyBytes + 1, /*chunked=*/true);
    server.serve_generated("/announced", kMaxResponseBodyBytes + 1, /*chunked=*/false);
    server.serve_generated("/fits", 3 * 1024 * 1024 + 7, /*chunked=*/true);

    for (const char* path : {"/streamed", "/announced"}) {
        EXPECT_FALSE(fetch(server.url(path))) << path;
        expect_no_response();
    }
    ASSERT_TRUE(fetch(server.url("/fits")));
    EXPECT_EQ(body(), LocalServer::generated_body(3 * 1024 * 1024 + 7));
}

TEST_F(RequestObjectTest, ResponseHeadersOverTheCapFail) {
    // Lines of 48 bytes with CR LF: how many fit under the cap, and one line more.
    const std::string pad = "X-Pad: " + std::string(39, 'p');
    const std::size_t fitting = kMaxResponseHeaderBytes / (pad.size() + 2) - 10;
    for (const std::size_t lines : {fitting, kMaxResponseHeaderBytes / (pad.size() + 2) + 1}) {
        const bool fits = lines == fitting;
        RawListener server(
            RawListener::response(200, "OK", "x", std::vector<std::string>(lines, pad)));
        EXPECT_EQ(fetch(server.url("/")), fits) << lines << " lines: " << last_error();
        if (!fits) {
            expect_no_response();
        }
    }
}

class RequestObjectTlsTest : public RequestObjectTest,
                             public ::testing::WithParamInterface<ServerCert> {};

TEST_P(RequestObjectTlsTest, OnlyATrustedCertificatePassesWhateverOptionFourSays) {
    LocalServer server(Scheme::Https, GetParam());
    ASSERT_TRUE(server.ok());
    server.serve_text("/", 200, "secret");
    const bool trusted = GetParam() == ServerCert::Trusted;

    ASSERT_TRUE(open("GET", server.url("/")));
    put_property(req, "Option", {integer(kRequestOptionSslErrorIgnoreFlags)}, integer(0x3300));
    EXPECT_EQ(to_integer(get_property(req, "Option", {integer(kRequestOptionSslErrorIgnoreFlags)})),
              0x3300)
        << "the flags read back";
    EXPECT_EQ(send(), trusted) << last_error();
    EXPECT_EQ(body(), trusted ? "secret" : "");
    EXPECT_EQ(server.request_count(), trusted ? 1u : 0u) << "no request leaks to a bad peer";
}

INSTANTIATE_TEST_SUITE_P(Certificates, RequestObjectTlsTest,
                         ::testing::Values(ServerCert::Trusted, ServerCert::SelfSigned,
                                           ServerCert::Expired, ServerCert::WrongHost),
                         [](const auto& info) { return test::server_cert_name(info.param); });

TEST_F(RequestObjectTest, ASilentServerIsAbandonedAfterTheTimeout) {
    LocalServer server;
    server.serve_stall("/before-headers", 60s);
    server.serve_stall_mid_body("/mid-body", 1000, 60s);
    call_method(req, "SetTimeouts", {integer(500), integer(500), integer(500), integer(500)});
    ASSERT_TRUE(last_error().empty());

    for (const char* path : {"/before-headers", "/mid-body"}) {
        EXPECT_FALSE(fetch(server.url(path))) << path;
        EXPECT_NE(last_error().find("timed out"), std::string::npos) << last_error();
        expect_no_response();
    }
}

TEST_F(RequestObjectTest, ARefusedConnectionFails) {
    int port = 0;
    {
        RawListener gone;
        port = gone.port();
    }
    EXPECT_FALSE(fetch("http://127.0.0.1:" + std::to_string(port) + "/"));
    expect_no_response();
}

TEST_F(RequestObjectTest, OpenRefusesWhatIsNoHttpRequest) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"GET", "ftp://127.0.0.1/x"},
        {"GET", "example.com/x"},
        {"GET", "http://"},
        {"GET", "not a url"},
        {"GE T", "http://127.0.0.1/"},
        {"", "http://127.0.0.1/"},
        {"GET", ""},
    };
    for (const auto& [verb, url] : bad) {
        EXPECT_FALSE(open(verb, url)) << verb << " " << url;
    }
    EXPECT_FALSE(send()) << "nothing was opened";
    call_method(req, "Open", {text("GET"), text("http://127.0.0.1/"), Variant(true)});
    EXPECT_FALSE(last_error().empty()) << "asynchronous mode is not offered";
}

TEST_F(RequestObjectTest, ProxyGetsTheRequestAndItsCredentialsOnly) {
    RawListener proxy(RawListener::response(200, "OK", "via proxy"));
    ASSERT_TRUE(proxy.ok());

    call_method(req, "SetProxy", {integer(2), text(proxy.address())});
    call_method(req, "SetCredentials", {text("user"), text("pass"), integer(1)});
    ASSERT_TRUE(last_error().empty());
    ASSERT_TRUE(fetch("http://zorvik.invalid/path?x=1")) << last_error();
    EXPECT_EQ(body(), "via proxy");
    auto got = proxy.last_request();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->request_line(), "GET http://zorvik.invalid/path?x=1 HTTP/1.1");
    EXPECT_EQ(got->header_count("Proxy-Authorization"), 1u);
    EXPECT_EQ(got->header("Proxy-Authorization"), "Basic dXNlcjpwYXNz");

    // A header of that name set by the caller replaces libcurl's, never doubles it.
    ASSERT_TRUE(open("GET", "http://zorvik.invalid/"));
    ASSERT_TRUE(header("Proxy-Authorization", "Basic Y2FsbGVyOnB3"));
    ASSERT_TRUE(send());
    got = proxy.last_request();
    EXPECT_EQ(got->header_count("Proxy-Authorization"), 1u);
    EXPECT_EQ(got->header("Proxy-Authorization"), "Basic Y2FsbGVyOnB3");

    // Per-scheme entries pick the one for the URL's scheme.
    call_method(req, "SetProxy", {integer(2), text("https=127.0.0.1:1;http=" + proxy.address())});
    const auto before = proxy.request_count();
    ASSERT_TRUE(fetch("http://zorvik.invalid/again")) << last_error();
    EXPECT_EQ(proxy.request_count(), before + 1);

    proxy.set_reply(RawListener::proxy_auth_required());
    ASSERT_TRUE(fetch("http://zorvik.invalid/"));
    EXPECT_EQ(status(), 407);
}

TEST_F(RequestObjectTest, NoProxyMeansDirectEvenWhenTheEnvironmentNamesOne) {
    RawListener proxy;
    LocalServer server;
    server.serve_text("/", 200, "direct");
    const std::string env_proxy = "http://" + proxy.address();
    ::setenv("http_proxy", env_proxy.c_str(), 1);
    ::setenv("HTTP_PROXY", env_proxy.c_str(), 1);
    const bool fetched = fetch(server.url("/"));
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ASSERT_TRUE(fetched) << last_error();
    EXPECT_EQ(body(), "direct");
    EXPECT_EQ(proxy.request_count(), 0u);
}

TEST_F(RequestObjectTest, ServerCredentialsGoToTheServer) {
    LocalServer server;
    server.serve_echo("/");
    call_method(req, "SetCredentials", {text("user"), text("pass"), integer(0)});
    ASSERT_TRUE(fetch(server.url("/")));
    EXPECT_EQ(server.last_request()->header("Authorization"), "Basic dXNlcjpwYXNz");

    call_method(req, "SetCredentials", {text("user"), text("pass"), integer(7)});
    EXPECT_FALSE(last_error().empty()) << "flags other than 0 and 1";
}

TEST_F(RequestObjectTest, NothingReentersTheObjectWhileItSends) {
    LocalServer server;
    server.serve_stall("/slow", 300ms, "done");
    bool timer_ran = false;
    std::string nested_send_error;
    std::string nested_open_error;
    QTimer::singleShot(50, [&] {
        timer_ran = true; // events are pumped while Send waits
        call_method(req, "Send");
        nested_send_error = last_error();
        call_method(req, "Open", {text("GET"), text(server.url("/other")), Variant(false)});
        nested_open_error = last_error();
    });
    ASSERT_TRUE(fetch(server.url("/slow"))) << last_error();
    EXPECT_TRUE(timer_ran);
    EXPECT_FALSE(nested_send_error.empty());
    EXPECT_FALSE(nested_open_error.empty());
    EXPECT_EQ(body(), "done");
    EXPECT_EQ(server.request_count(), 1u);
}

} // namespace
} // namespace zorvik
