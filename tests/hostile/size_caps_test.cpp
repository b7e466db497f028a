// Replies too large to hold: a body without end and heads full of cookies. The fetch routines
// stop at their caps, the download streams to disk, and memory stays bounded.

#include "hostile/fetch_paths.h"
#include "hostile/hostile_server.h"

#include "codepage/codepage.h"
#include "platform/http_session.h"
#include "platform/request_object.h"
#include "web/web_fetch_api.h"
#include "web/web_fetch_object.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace zorvik::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kNoHangBound = 120s;

// The peak resident size since the last reset_peak_resident(); 0 when unknown.
std::uint64_t peak_resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

bool reset_peak_resident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

struct EndlessBody final {
    const char* name;
    std::string head;
    std::string piece;
};

std::string chunk_of(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

// A piece of 64 KiB, sent again and again.
const std::string kPiece(64 * 1024, 'x');

const EndlessBody kEndlessBodies[] = {
    {"no length, no end", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", kPiece},
    {"announces a terabyte", "HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\n", kPiece},
    {"chunks without a last one", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
     chunk_of(kPiece)},
};

struct PathBound final {
    FetchPath path;
    // How far the peak resident size may grow while the reply pours in.
    std::uint64_t peak_growth;
};

TEST(EndlessBody, TheRoutinesStopAtTheirCapsAndTheDownloadStreamsToDisk) {
    ASSERT_TRUE(reset_peak_resident()) << "cannot measure the peak resident size here";
    constexpr std::uint64_t kDownloadBytes = 128u << 20;
    // The routines hold a body up to their cap (twice over while it grows); the download
    // holds none of it.
    const PathBound bounds[] = {
        {FetchPath::Object, 4 * kMaxResponseBodyBytes},
        {FetchPath::Api, 4 * HttpSession::kBodyCap},
        {FetchPath::Download, 32u << 20},
    };
    for (const EndlessBody& c : kEndlessBodies) {
        HostileServer server(endless(c.head, c.piece));
        ASSERT_TRUE(server.ok());
        for (const PathBound& bound : bounds) {
            SCOPED_TRACE(std::string(c.name) + ", " + path_name(bound.path));
            ASSERT_TRUE(reset_peak_resident());
            const std::uint64_t before = peak_resident_bytes();
            FetchLimits limits;
            limits.download_cancel_bytes = kDownloadBytes;
            const FetchOutcome out = fetch_through(bound.path, server.url("/song.mp3"), limits);
            const std::uint64_t growth = peak_resident_bytes() - before;

            EXPECT_TRUE(out.failed) << out.detail;
            EXPECT_LT(out.took, kNoHangBound);
            EXPECT_LT(growth, bound.peak_growth) << "peak resident size grew by " << growth;
            EXPECT_TRUE(out.user_file_intact);
            switch (bound.path) {
            case FetchPath::Object:
                EXPECT_EQ(out.body_bytes, 0u);
                break;
            case FetchPath::Api:
                EXPECT_EQ(out.detail, "713 读取数据失败!");
                EXPECT_LE(out.body_bytes, HttpSession::kBodyCap);
                break;
            case FetchPath::Download:
                // Only the test's own stop ends it: it went to disk, past any memory cap.
                EXPECT_EQ(out.detail, "下载已取消");
                EXPECT_GT(out.body_bytes, kDownloadBytes);
                break;
            }
        }
    }
}

// "Set-Cookie: c00000=1" lines, each 22 bytes with its CR LF.
std::string cookie_storm(int count) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    char line[40];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "Set-Cookie: c%05d=1\r\n", i);
        head += line;
    }
    return head + "Content-Length: 2\r\n\r\nok";
}

std::size_t items_in(const Text& cookie_list) {
    if (cookie_list.empty()) {
        return 0;
    }
    std::size_t n = 1;
    for (std::size_t at = cookie_list.find("; "); at != Text::npos;
         at = cookie_list.find("; ", at + 2)) {
        ++n;
    }
    return n;
}

// The cookie merge takes time with the square of the cookies; the head caps bound their
// number. The largest storm each cap lets through is merged in full, a larger one is refused.
struct CookieStorm final {
    FetchPath path;
    int cookies;
    bool fits_the_head_cap;
};

TEST(CookieStorm, IsMergedWhileItFitsTheHeadCapAndRefusedBeyond) {
    const CookieStorm cases[] = {
        {FetchPath::Object, 2900, true},
        {FetchPath::Object, 3100, false},
        {FetchPath::Api, 11500, true},
        {FetchPath::Api, 12000, false},
    };
    for (const CookieStorm& c : cases) {
        SCOPED_TRACE(std::string(path_name(c.path)) + ", " + std::to_string(c.cookies));
        HostileServer server(reply(cookie_storm(c.cookies)));
        ASSERT_TRUE(server.ok());
        // The caller's own: one the storm replaces, one it keeps.
        Text sent = "c00000=old; mine=1";
        Text returned;
        Text status;
        const auto start = std::chrono::steady_clock::now();
        if (c.path == FetchPath::Object) {
            int code = 0;
            web_fetch_object({.url = server.url("/"),
                              .send_cookies = &sent,
                              .returned_cookies = &returned,
                              .status_code = &code});
            status = std::to_string(code);
        } else {
            web_fetch_api(server.url("/"), 0, std::nullopt, &sent, &returned, std::nullopt, nullptr,
                          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt, nullptr, &status);
            status = ansi_to_utf8(status);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, kNoHangBound);
        if (c.fits_the_head_cap) {
            EXPECT_EQ(status.substr(0, 3), "200");
            EXPECT_EQ(items_in(returned), static_cast<std::size_t>(c.cookies) + 1);
            EXPECT_EQ(returned.substr(0, 10), "c00000=1; ") << "the storm's value wins";
            EXPECT_EQ(returned, sent) << "the merged list goes to both";
        } else {
            EXPECT_NE(status.substr(0, 3), "200") << status;
            EXPECT_EQ(returned.find("c00001"), Text::npos) << "none of the storm came through";
        }
    }
}

} // namespace
} // namespace zorvik::test
