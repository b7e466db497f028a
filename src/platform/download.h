#pragma once

// The whole-resource download: one GET, streamed straight to disk.
//
// The body goes to a temporary file beside the target and replaces the target only after it
// arrived complete and reached the disk, so a failure of any kind never destroys an existing
// file nor leaves a partial one behind. Memory use does not grow with the size of the body.

#include "text/text.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zorvik {

struct DownloadResult final {
    bool ok = false;
    // Why it failed, for the user (Text, ready for timed_notice); empty on success.
    Text message;
    // The final HTTP status after redirects; 0 when no response arrived.
    long status = 0;
    // Bytes of the body written to the temporary file (equals the file size on success).
    std::uint64_t bytes_written = 0;
};

// Bytes received so far, and the announced size when the server gave one.
using DownloadProgress =
    std::function<void(std::uint64_t received, std::optional<std::uint64_t> total)>;

struct DownloadOptions final {
    // Called at most about every 50 ms while the body arrives, and once at the end.
    DownloadProgress progress;
    // Asked between polls; true stops the download, which then fails as cancelled.
    std::function<bool()> cancelled;
    long max_redirects = 10;
    long connect_timeout_seconds = 15;
    // A server that sends nothing for this long is given up on.
    long stall_timeout_seconds = 60;
};

// Fetches `url` (http or https only) to the file at `target_path`, creating or replacing it.
// Redirects are followed; caches are asked not to answer. Runs on the calling thread through
// perform_pumped, so the window keeps painting.
DownloadResult download_to_file(const std::string& url, const QString& target_path,
                                const DownloadOptions& options = {});

} // namespace zorvik
