// Servers that answer badly, slowly or never properly, through each of the three fetch paths:
// every one must fail on its own terms, return within a bound of its time-out while the
// window's events keep running, and leave the user's song where it was.

#include "hostile/fetch_paths.h"
#include "hostile/hostile_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <tuple>
#include <vector>

namespace zorvik::test {
namespace {

using namespace std::chrono_literals;

constexpr int kTimeoutSeconds = 2;
// Generous: the paths give up after one to four time-outs; this only tells "ended" from "hung".
constexpr auto kNoHangBound = 40s;

std::string ok_head(const std::string& extra_lines = {}) {
    return "HTTP/1.1 200 OK\r\n" + extra_lines + "\r\n";
}

// A body that announces an hour's worth of bytes at one a second.
void trickled_body(HostileConnection& c) {
    if (!c.send(ok_head("Content-Length: 3600\r\n"))) {
        return;
    }
    for (int i = 0; i < 3600 && c.send("x") && c.pause(1s); ++i) {
    }
}

struct BrokenReply final {
    const char* name;
    HostileServer::Script script;
    // Connections the server may see for one fetch; 0: no limit checked.
    std::size_t max_connections = 0;
    // The call waits at least a second, so the window must have had its events meanwhile.
    bool slow = false;
    // A download gives up only on a server that sends nothing; one that trickles keeps it
    // going, showing its progress, until the user presses "退出".
    bool user_cancels_download = false;
};

std::vector<BrokenReply> broken_replies() {
    const std::string endless_line = "X-Pad: " + std::string(1000, 'p') + "\r\n";
    return {
        {"NotHttpAtAll", reply("SSH-2.0-OpenSSH_9.2\r\nInvalid SSH identification string.\r\n")},
        {"NothingAtAll", reply("")},
        {"ResetBeforeAnswering", [](HostileConnection& c) { c.reset(); }},
        {"StatusLineOnly", reply("HTTP/1.1 200 OK\r\n")},
        {"HeadCutMidLine", reply("HTTP/1.1 200 OK\r\nContent-Le")},
        {"StatusCodeCut", reply("HTTP/1.1 2\r\nContent-Length: 4\r\n\r\nbody")},
        {"NulInHeaderLine", reply("HTTP/1.1 200 OK\r\nX-A: a" + std::string(1, '\0') +
                                  "b\r\nContent-Length: 4\r\n\r\nbody")},
        {"NegativeLength", reply(ok_head("Content-Length: -1\r\n") + "body")},
        {"TwoLengths", reply(ok_head("Content-Length: 4\r\nContent-Length: 9\r\n") + "body")},
        // libcurl ignores a length it cannot hold and reads to the close: four bytes would pass
        // for a whole reply.
        {"LengthTooLargeToRead",
         reply(ok_head("Content-Length: 99999999999999999999999\r\n") + "body")},
        {"LengthNotANumber", reply(ok_head("Content-Length: 4x\r\n") + "body")},
        {"LengthLongerThanBodyThenClose",
         reply(ok_head("Content-Length: 100000\r\n") + "only this much")},
        {"BadChunkSize",
         reply(ok_head("Transfer-Encoding: chunked\r\n") + "ZZZ\r\nbody\r\n0\r\n\r\n")},
        {"ChunkedWithoutLastChunk",
         reply(ok_head("Transfer-Encoding: chunked\r\n") + "4\r\nbody\r\n")},
        {"ResetHalfwayThroughBody",
         reply_then_reset(ok_head("Content-Length: 100000\r\n") + std::string(50000, 'x'))},
        {"RedirectLoop",
         reply("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n"), 12},
        {"RedirectToLocalFile",
         reply("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n"),
         1},
        {"RedirectToFtp",
         reply("HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/song.mp3\r\nContent-Length: "
               "0\r\n\r\n"),
         1},
        {"MegabytesOfHeaderLines", endless("HTTP/1.1 200 OK\r\n", endless_line)},
        {"OneHeaderLineWithoutEnd", endless("HTTP/1.1 200 OK\r\nX-Pad: ", std::string(65536, 'p'))},
        {"InformationalStorm", endless("", "HTTP/1.1 100 Continue\r\n\r\n")},
        {"StatusLineTrickledAByteASecond", trickle(ok_head("Content-Length: 4\r\n") + "body", 1s),
         0, true},
        {"BodyTrickledAByteASecond", trickled_body, 0, true, true},
    };
}

class BrokenReplyTest : public ::testing::TestWithParam<std::tuple<std::size_t, FetchPath>> {};

TEST_P(BrokenReplyTest, FailsInTimeKeepsTheWindowLiveAndTheUsersSong) {
    const auto [index, path] = GetParam();
    const BrokenReply c = broken_replies()[index];
    HostileServer server(c.script);
    ASSERT_TRUE(server.ok());

    FetchLimits limits;
    limits.timeout_seconds = kTimeoutSeconds;
    if (c.user_cancels_download) {
        limits.download_cancel_after = 3s;
    }
    const FetchOutcome out = fetch_through(path, server.url("/song.mp3"), limits);

    SCOPED_TRACE(out.detail);
    EXPECT_TRUE(out.failed);
    EXPECT_LT(out.took, kNoHangBound);
    EXPECT_TRUE(out.user_file_intact) << "the song at the target was lost or a stray file left";
    EXPECT_TRUE(out.download_message_consistent);
    if (path == FetchPath::Object) {
        EXPECT_EQ(out.body_bytes, 0u) << "a failed request hands over no body";
    }
    if (c.max_connections > 0) {
        EXPECT_LE(server.connection_count(), c.max_connections);
    }
    if (c.slow) {
        EXPECT_GE(out.timer_ticks, 5) << "events did not run while the request waited";
    }
}

INSTANTIATE_TEST_SUITE_P(EachPath, BrokenReplyTest,
                         ::testing::Combine(::testing::Range<std::size_t>(0,
                                                                          broken_replies().size()),
                                            ::testing::ValuesIn(kFetchPaths)),
                         [](const ::testing::TestParamInfo<BrokenReplyTest::ParamType>& info) {
                             return std::string(broken_replies()[std::get<0>(info.param)].name) +
                                    "_" + path_name(std::get<1>(info.param));
                         });

// Odd but lawful replies: each path takes their body, so the failures above come from the
// faults and not from some oddity beside them.
struct LawfulOddity final {
    const char* name;
    std::string reply;
};

TEST(OddButLawfulReply, EachPathTakesTheBody) {
    const std::vector<LawfulOddity> cases = {
        {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 4\r\n\r\nbody"},
        {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 4\n\nbody"},
        {"no length, ends at close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody"},
        {"a content coding nobody asked for",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nbody"},
        {"a 1xx before the answer",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody"},
    };
    for (const LawfulOddity& c : cases) {
        HostileServer server(reply(c.reply));
        ASSERT_TRUE(server.ok());
        for (const FetchPath path : kFetchPaths) {
            const FetchOutcome out = fetch_through(path, server.url("/song.mp3"));
            EXPECT_FALSE(out.failed) << c.name << ", " << path_name(path) << ": " << out.detail;
            EXPECT_EQ(out.body_bytes, 4u) << c.name << ", " << path_name(path);
            EXPECT_TRUE(out.user_file_intact) << c.name;
        }
    }
}

} // namespace
} // namespace zorvik::test
