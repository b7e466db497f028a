// The quote page against servers that answer badly: the clipboard keeps what it held and a
// notice names the failed step.

#include "hostile/hostile_server.h"
#include "hostile/quote_press.h"

#include "codepage/codepage.h"
#include "platform/ui/clipboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvik::test {
namespace {

struct BadQuote final {
    const char* name;
    HostileServer::Script script;
    const char* notice;
};

TEST(QuotePageAgainstAHostileServer, KeepsTheClipboardAndSaysWhy) {
    const std::vector<BadQuote> cases = {
        {"no HTTP at all", reply("SSH-2.0-OpenSSH_9.2\r\n"), "获取失败：712 服务器未响应!"},
        {"a status line only", reply("HTTP/1.1 200 OK\r\n"), "获取失败：712 服务器未响应!"},
        {"a redirect loop", reply("HTTP/1.1 302 Found\r\nLocation: /\r\nContent-Length: 0\r\n\r\n"),
         "获取失败：712 服务器未响应!"},
        {"a reset halfway",
         reply_then_reset("HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\nhalf a quote"),
         "获取失败：713 读取数据失败!"},
        {"a length longer than the body",
         reply("HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\nhalf a quote"),
         "获取失败：713 读取数据失败!"},
        {"a body without end",
         endless("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", std::string(65536, 'q')),
         "获取失败：713 读取数据失败!"},
        {"megabytes of header lines",
         endless("HTTP/1.1 200 OK\r\n", "X-Pad: " + std::string(1000, 'p') + "\r\n"),
         "获取失败：712 服务器未响应!"},
    };
    for (const BadQuote& c : cases) {
        HostileServer server(c.script);
        ASSERT_TRUE(server.ok());
        const QuotePress press(server.url("/?"));
        ASSERT_TRUE(press.clipboard_set());

        EXPECT_EQ(clipboard_text(), "earlier") << c.name;
        ASSERT_EQ(press.notices().size(), 1u) << c.name;
        EXPECT_EQ(press.notices()[0].text, utf8_to_ansi(c.notice)) << c.name;
        EXPECT_TRUE(press.button()->isEnabled()) << c.name;
    }
}

} // namespace
} // namespace zorvik::test
