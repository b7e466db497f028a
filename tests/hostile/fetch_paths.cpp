#include "hostile/fetch_paths.h"

#include "codepage/codepage.h"
#include "platform/download.h"
#include "support/server/test_certs.h"
#include "support/test_files.h"
#include "web/web_fetch_api.h"
#include "web/web_fetch_object.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

namespace zorvik::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

FetchOutcome through_object(const std::string& url, const FetchLimits& limits) {
    int status = -1;
    Text headers = "untouched";
    const Bytes body = web_fetch_object({.url = url,
                                         .response_headers = &headers,
                                         .status_code = &status,
                                         .timeout_seconds = limits.timeout_seconds});
    FetchOutcome out;
    out.failed = body.empty() && status == 0;
    out.detail = "status " + std::to_string(status);
    out.body_bytes = body.size();
    return out;
}

FetchOutcome through_api(const std::string& url, const FetchLimits& limits) {
    Text status_text = "untouched";
    Bytes bytes;
    const Text text =
        web_fetch_api(url, 0, std::nullopt, nullptr, nullptr, std::nullopt, nullptr, std::nullopt,
                      std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      limits.timeout_seconds, nullptr, &status_text, &bytes);
    FetchOutcome out;
    out.failed = !status_text.empty() && status_text[0] == '7';
    out.detail = ansi_to_utf8(status_text);
    out.body_bytes = std::max(text.size(), bytes.size());
    return out;
}

FetchOutcome through_download(const std::string& url, const FetchLimits& limits) {
    FetchOutcome out;
    TempDir folder("zorvik-hostile-");
    const fs::path target = folder.path() / "歌曲-歌手.mp3";
    write_file(target, kUsersSong);
    std::uint64_t received = 0;
    DownloadOptions options;
    options.connect_timeout_seconds = limits.timeout_seconds;
    options.stall_timeout_seconds = limits.timeout_seconds;
    options.progress = [&received](std::uint64_t bytes, std::optional<std::uint64_t>) {
        received = bytes;
    };
    const auto start = Clock::now();
    options.cancelled = [&received, &limits, start] {
        return received > limits.download_cancel_bytes ||
               (limits.download_cancel_after &&
                Clock::now() - start > *limits.download_cancel_after);
    };
    const DownloadResult result =
        download_to_file(url, QString::fromStdString(target.string()), options);
    out.failed = !result.ok;
    out.detail = ansi_to_utf8(result.message);
    out.body_bytes = result.bytes_written;
    out.download_message_consistent = result.ok == result.message.empty();
    std::error_code unlisted;
    const bool only_target =
        names_in(folder.path(), unlisted) == std::set<std::string>{"歌曲-歌手.mp3"};
    out.user_file_intact = only_target && (result.ok || read_file(target) == kUsersSong);
    return out;
}

} // namespace

const char* path_name(FetchPath path) {
    switch (path) {
    case FetchPath::Object:
        return "web_fetch_object";
    case FetchPath::Api:
        return "web_fetch_api";
    case FetchPath::Download:
        return "download_to_file";
    }
    return "?";
}

FetchOutcome fetch_through(FetchPath path, const std::string& url, const FetchLimits& limits) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(50);
    const auto start = Clock::now();
    FetchOutcome out;
    switch (path) {
    case FetchPath::Object:
        out = through_object(url, limits);
        break;
    case FetchPath::Api:
        out = through_api(url, limits);
        break;
    case FetchPath::Download:
        out = through_download(url, limits);
        break;
    }
    out.took = Clock::now() - start;
    out.timer_ticks = ticks;
    return out;
}

} // namespace zorvik::test
