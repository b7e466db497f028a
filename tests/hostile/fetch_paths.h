#pragma once

// The three ways this program fetches from a server it does not control, run alike, so that
// one table of hostile replies goes through all of them:
//   Object    web_fetch_object (the song search's request)
//   Api       web_fetch_api (the quote page's request)
//   Download  download_to_file (the song download), into a folder that already holds the
//             user's song at the target

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zorvik::test {

enum class FetchPath { Object, Api, Download };

inline constexpr FetchPath kFetchPaths[] = {FetchPath::Object, FetchPath::Api, FetchPath::Download};

const char* path_name(FetchPath path);

struct FetchLimits final {
    // Each path's time-out: web_fetch_object's and web_fetch_api's timeout_seconds, the
    // download's stall time-out (and its connect time-out).
    int timeout_seconds = 2;
    // The download streams for as long as the body comes; it is cancelled past this many bytes
    // so no test can fill the disk.
    std::uint64_t download_cancel_bytes = 64u << 20;
    // The user presses "退出" this long into the download; never when not given.
    std::optional<std::chrono::milliseconds> download_cancel_after;
};

struct FetchOutcome final {
    // The path's own failure signal: web_fetch_object an empty body with status 0,
    // web_fetch_api a numbered step text ("7xx ..."), download_to_file ok false.
    bool failed = false;
    // Status, status text or message (UTF-8), for the test's output and its checks.
    std::string detail;
    // What the caller was handed: the body, the Text, or the bytes the download wrote.
    std::size_t body_bytes = 0;
    std::chrono::duration<double> took{};
    // Ticks of a 50 ms QTimer while the call ran: the window's events kept running.
    int timer_ticks = 0;
    // Download: the song that was at the target is still there, byte for byte (or the new one
    // when the download succeeded), and nothing else is in its folder. Always true otherwise.
    bool user_file_intact = true;
    // Download: the message is non-empty exactly when it failed.
    bool download_message_consistent = true;
};

FetchOutcome fetch_through(FetchPath path, const std::string& url, const FetchLimits& limits = {});

// The user's song that the download paths find at the target.
inline constexpr char kUsersSong[] = "ID3 the user's own song, which must survive";

} // namespace zorvik::test
