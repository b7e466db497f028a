#include "platform/download.h"

#include "codepage/codepage.h"
#include "platform/curl_transfer.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvik {
namespace {

// Sources are UTF-8; the user sees Text.
Text say(std::string_view utf8) {
    return utf8_to_ansi(utf8);
}

std::string errno_reason(int error) {
    switch (error) {
    case ENOSPC:
        return "磁盘空间不足";
    case EDQUOT:
        return "超出磁盘配额";
    case EACCES:
    case EPERM:
        return "没有写入权限";
    case EROFS:
        return "只读文件系统";
    case ENOENT:
        return "文件夹不存在";
    case ENOTDIR:
        return "路径中有一部分不是文件夹";
    case EISDIR:
        return "保存位置是一个文件夹";
    case ENAMETOOLONG:
        return "文件名过长";
    case EFBIG:
        return "文件过大";
    default:
        return std::strerror(error);
    }
}

Text cannot_write(const QString& target, int error) {
    return say("下载失败：无法写入文件 " + ansi_to_utf8(from_qstring(target)) + "（" +
               errno_reason(error) + "）");
}

class FileDescriptor final {
public:
    FileDescriptor() = default;
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and says whether the close succeeded (it can report a late write error).
    bool close_checked() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A uniquely named file beside the target, removed when the object ends unless it was
// renamed over the target.
class PartFile final {
public:
    PartFile() = default;
    ~PartFile() {
        fd_.reset();
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // 0 on success, else the errno of the failed attempt.
    int create_in(const std::string& folder) {
        for (int attempt = 0; attempt < 32; ++attempt) {
            unsigned char random[8];
            if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
                return errno != 0 ? errno : EIO;
            }
            static constexpr char hex[] = "0123456789abcdef";
            std::string name = folder + "/.zorvik-";
            for (unsigned char byte : random) {
                name += hex[byte >> 4];
                name += hex[byte & 0x0f];
            }
            name += ".part";
            // 0666 so the finished song gets the user's usual permissions (umask applies).
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_.reset(fd);
                path_ = std::move(name);
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }

    // 0 on success, else errno. Handles short writes and interrupted calls.
    int write_all(const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd_.get(), data, size);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            written_ += static_cast<std::uint64_t>(n);
        }
        // Starts writing back what has piled up, so the final flush has little left to wait for.
        // Only a hint: a failure here shows again, and is reported, at the final fdatasync.
        if (written_ - flushed_from_ >= kWritebackStep) {
            (void)::sync_file_range(fd_.get(), static_cast<off_t>(flushed_from_),
                                    static_cast<off_t>(written_ - flushed_from_),
                                    SYNC_FILE_RANGE_WRITE);
            flushed_from_ = written_;
        }
        return 0;
    }

    // Makes the bytes durable, then puts the file in the target's place. 0 or errno.
    int commit(const std::string& target) {
        struct stat existing {};
        if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
            // Replacing a file keeps the permissions its owner gave it.
            if (::fchmod(fd_.get(), existing.st_mode & 07777) != 0) {
                return errno;
            }
        }
        if (::fdatasync(fd_.get()) != 0) {
            return errno;
        }
        if (!fd_.close_checked()) {
            return errno;
        }
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            return errno;
        }
        path_.clear();
        return 0;
    }

private:
    static constexpr std::uint64_t kWritebackStep = 8u << 20;
    FileDescriptor fd_;
    std::string path_;
    std::uint64_t written_ = 0;
    std::uint64_t flushed_from_ = 0;
};

struct Transfer final {
    PartFile* file = nullptr;
    std::uint64_t received = 0;
    int write_error = 0;
    bool head_open = false;         // a status line came, the empty line that ends its head not yet
    bool unreadable_length = false; // of the latest response
    bool chunked = false;
};

// libcurl takes a reply whose head breaks off (a status line, then the connection closes) as
// complete and empty; that must not replace a song.
size_t note_head(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (line.substr(0, 5) == "HTTP/") {
        transfer->head_open = true;
        transfer->unreadable_length = false;
        transfer->chunked = false;
    } else if (line == "\r\n" || line == "\n") {
        transfer->head_open = false;
    } else {
        transfer->unreadable_length =
            transfer->unreadable_length || announces_unreadable_length(line);
        transfer->chunked = transfer->chunked || announces_chunked_body(line);
    }
    return size * count;
}

size_t write_body(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (const int error = transfer->file->write_all(data, bytes); error != 0) {
        transfer->write_error = error;
        return 0; // libcurl stops with CURLE_WRITE_ERROR
    }
    transfer->received += bytes;
    return bytes;
}

std::optional<std::uint64_t> announced_length(CURL* easy) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(length);
}

Text network_failure(CURLcode code, const char* detail) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return say("下载失败：下载地址无效");
    case CURLE_TOO_MANY_REDIRECTS:
        return say("下载失败：重定向次数过多");
    case CURLE_PARTIAL_FILE:
        return say("下载失败：连接中断，文件不完整");
    default:
        break;
    }
    const char* reason =
        (detail != nullptr && detail[0] != '\0') ? detail : curl_easy_strerror(code);
    return say(std::string("下载失败：网络错误（") + reason + "）");
}

} // namespace

DownloadResult download_to_file(const std::string& url, const QString& target_path,
                                const DownloadOptions& options) {
    DownloadResult result;
    if (url.empty()) {
        result.message = say("下载失败：下载地址为空");
        return result;
    }
    if (target_path.isEmpty()) {
        result.message = say("下载失败：保存位置为空");
        return result;
    }
    const QFileInfo target_info(target_path);
    if (target_path.endsWith(QLatin1Char('/')) || target_info.isDir()) {
        result.message = say("下载失败：保存位置是一个文件夹，请写上文件名");
        return result;
    }
    const std::string target = QFile::encodeName(target_info.absoluteFilePath()).toStdString();
    const std::string folder = QFile::encodeName(target_info.absolutePath()).toStdString();

    // The file first: a place that cannot be written fails before any network traffic.
    PartFile part;
    if (const int error = part.create_in(folder); error != 0) {
        result.message = cannot_write(target_path, error);
        return result;
    }

    CurlEasy easy = make_curl_easy();
    CurlSlist headers;
    if (!easy || !append_header(headers, "Cache-Control: no-cache") ||
        !append_header(headers, "Pragma: no-cache")) {
        result.message = say("下载失败：网络组件无法初始化");
        return result;
    }
    CURL* h = easy.get();
    Transfer transfer;
    transfer.file = &part;
    char error_text[CURL_ERROR_SIZE] = {};
    // The address alone can be refused here (too long for libcurl); that is the user's input.
    if (curl_easy_setopt(h, CURLOPT_URL, url.c_str()) != CURLE_OK) {
        result.message = say("下载失败：下载地址无效");
        return result;
    }
    const auto set = [h](CURLoption option, auto value) {
        return curl_easy_setopt(h, option, value) == CURLE_OK;
    };
    const bool configured =
        apply_safe_defaults(h) && set(CURLOPT_HTTPGET, 1L) &&
        set(CURLOPT_HTTPHEADER, headers.get()) &&
        set(CURLOPT_USERAGENT, "Mozilla/5.0 (X11; Linux x86_64) Zorvik") &&
        set(CURLOPT_FOLLOWLOCATION, 1L) && set(CURLOPT_MAXREDIRS, options.max_redirects) &&
        set(CURLOPT_FAILONERROR, 1L) &&
        set(CURLOPT_CONNECTTIMEOUT, options.connect_timeout_seconds) &&
        set(CURLOPT_LOW_SPEED_LIMIT, 1L) &&
        set(CURLOPT_LOW_SPEED_TIME, options.stall_timeout_seconds) &&
        // Larger reads mean fewer system calls per megabyte; memory stays fixed.
        set(CURLOPT_BUFFERSIZE, 256L * 1024L) && set(CURLOPT_ERRORBUFFER, &error_text[0]) &&
        set(CURLOPT_WRITEFUNCTION, &write_body) && set(CURLOPT_WRITEDATA, &transfer) &&
        set(CURLOPT_HEADERFUNCTION, &note_head) && set(CURLOPT_HEADERDATA, &transfer);
    if (!configured) {
        result.message = say("下载失败：网络组件无法初始化");
        return result;
    }

    using Clock = std::chrono::steady_clock;
    auto last_report = Clock::now();
    bool cancel_seen = false;
    const auto between_polls = [&]() {
        if (options.progress && Clock::now() - last_report >= std::chrono::milliseconds(50)) {
            last_report = Clock::now();
            options.progress(transfer.received, announced_length(h));
        }
        if (options.cancelled && options.cancelled()) {
            cancel_seen = true;
            return true;
        }
        return false;
    };
    const CURLcode code = perform_pumped(h, between_polls);

    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        status = 0; // no response to speak of
    }
    result.status = status;
    result.bytes_written = transfer.received;
    if (options.progress) {
        options.progress(transfer.received, announced_length(h));
    }

    if (cancel_seen && code == CURLE_ABORTED_BY_CALLBACK) {
        result.message = say("下载已取消");
        return result;
    }
    if (code == CURLE_WRITE_ERROR && transfer.write_error != 0) {
        result.message = cannot_write(target_path, transfer.write_error);
        return result;
    }
    if (code == CURLE_OK && transfer.head_open) {
        result.message = network_failure(CURLE_PARTIAL_FILE, nullptr);
        return result;
    }
    if (code == CURLE_HTTP_RETURNED_ERROR || (code == CURLE_OK && (status < 200 || status > 299))) {
        result.message = say("下载失败：服务器返回 " + std::to_string(status));
        return result;
    }
    if (code != CURLE_OK) {
        result.message = network_failure(code, error_text);
        return result;
    }
    // libcurl already reports a body cut short of its Content-Length; asked again here
    // because a partial song must never replace a whole one. A length libcurl could not read
    // leaves nothing to check the body against.
    if (transfer.unreadable_length && !transfer.chunked) {
        result.message = say("下载失败：服务器回复的文件长度无效");
        return result;
    }
    if (const auto length = announced_length(h); length && *length != transfer.received) {
        result.message = network_failure(CURLE_PARTIAL_FILE, nullptr);
        return result;
    }
    if (const int error = part.commit(target); error != 0) {
        result.message = cannot_write(target_path, error);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace zorvik
