#include "platform/download.h"

#include "support/server/test_server.h"
#include "support/test_files.h"
#include "support/test_text.h"
#include "support/trust_test_ca.h"

#include <QString>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvik {
namespace {

namespace fs = std::filesystem;
using test::LocalServer;
using test::names_in;
using test::read_file;
using test::Scheme;
using test::ServerCert;
using test::utf8;
using test::write_file;

constexpr char kOldContent[] = "the song that was here before";

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// Routes shared by the tests: files of several shapes and the ways a server can let a
// download down.
void add_routes(LocalServer& server) {
    server.serve_text("/song.mp3", 200, "ID3 small song body\x01\x02\x03", {}, "audio/mpeg");
    server.serve_text("/empty.mp3", 200, "");
    server.serve_generated("/chunked.mp3", 300000, true);
    server.serve_redirect("/hop1", 302, "/hop2");
    server.serve_redirect("/hop2", 301, "/song.mp3");
    server.serve_redirect("/loop", 302, "/loop");
    server.serve_text("/missing.mp3", 404, "<html>not found</html>");
    server.serve_text("/broken-server.mp3", 500, "<html>oops</html>");
    // Announces 200000 bytes, sends half, then drops the connection.
    server.on("GET", "/halfway.mp3", LocalServer::cut_short(200000, 100000, "audio/mpeg"));
    // The same without a length: chunks, and no closing chunk.
    server.on("GET", "/halfway-chunked.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "audio/mpeg", [](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= 100000) {
                    return false;
                }
                const std::string piece = LocalServer::generated_body(100000);
                return sink.write(piece.data(), piece.size());
            });
    });
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        ASSERT_TRUE(server_.ok());
        add_routes(server_);
    }

    fs::path target() const { return folder_.path() / "歌曲-歌手.mp3"; }

    // Nothing but the target (when expected) may remain in the folder.
    void expect_folder_holds_only_target() const {
        EXPECT_EQ(names_in(folder_.path()), std::set<std::string>{target().filename().string()});
    }

    test::TrustTestCa trust_ca_;
    test::TempDir folder_;
    LocalServer server_{Scheme::Https};
};

TEST_F(DownloadTest, SavesExactlyTheServedBytes) {
    struct Case {
        const char* path;
        std::string expected;
        bool existing_file;
    };
    const Case cases[] = {
        {"/song.mp3", "ID3 small song body\x01\x02\x03", false},
        {"/song.mp3", "ID3 small song body\x01\x02\x03", true},
        {"/chunked.mp3", LocalServer::generated_body(300000), false},
        {"/hop1", "ID3 small song body\x01\x02\x03", true},
        {"/empty.mp3", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        fs::remove(target());
        if (c.existing_file) {
            // Longer than some bodies, so a replace that only overwrites would show.
            write_file(target(), std::string(400000, 'x'));
        }
        server_.clear_requests();

        const DownloadResult result = download_to_file(server_.url(c.path), qpath(target()));

        EXPECT_TRUE(result.ok) << utf8(result.message);
        EXPECT_TRUE(result.message.empty());
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(result.bytes_written, c.expected.size());
        EXPECT_EQ(read_file(target()), c.expected);
        expect_folder_holds_only_target();
        const auto last = server_.last_request();
        ASSERT_TRUE(last.has_value());
        EXPECT_EQ(last->method, "GET");
        EXPECT_EQ(last->header("Cache-Control"), "no-cache");
        EXPECT_EQ(last->header("Pragma"), "no-cache");
    }
}

TEST_F(DownloadTest, KeepsThePermissionsOfAReplacedFile) {
    write_file(target(), kOldContent);
    ASSERT_EQ(::chmod(target().c_str(), 0640), 0);

    ASSERT_TRUE(download_to_file(server_.url("/song.mp3"), qpath(target())).ok);

    struct stat st {};
    ASSERT_EQ(::stat(target().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(DownloadTest, FailuresLeaveTheExistingFileAlone) {
    int refused_port = 0;
    {
        LocalServer gone;
        refused_port = gone.port();
    }
    LocalServer self_signed(Scheme::Https, ServerCert::SelfSigned);
    self_signed.serve_text("/song.mp3", 200, "untrusted");
    ASSERT_TRUE(self_signed.ok());

    struct Case {
        std::string url;
        std::string message_part;
        long status;
    };
    const Case cases[] = {
        {server_.url("/missing.mp3"), "下载失败：服务器返回 404", 404},
        {server_.url("/broken-server.mp3"), "下载失败：服务器返回 500", 500},
        {server_.url("/halfway.mp3"), "下载失败：", 200},
        {server_.url("/halfway-chunked.mp3"), "下载失败：", 200},
        {server_.url("/loop"), "下载失败：重定向次数过多", 302},
        {"http://127.0.0.1:" + std::to_string(refused_port) + "/song.mp3", "下载失败：网络错误（",
         0},
        {self_signed.url("/song.mp3"), "下载失败：网络错误（", 0},
        // Only http and https: a download never reads local files or other schemes.
        {"file:///etc/passwd", "下载失败：下载地址无效", 0},
        {"ftp://127.0.0.1/song.mp3", "下载失败：下载地址无效", 0},
        {"", "下载失败：下载地址为空", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        write_file(target(), kOldContent);

        const DownloadResult result = download_to_file(c.url, qpath(target()));

        EXPECT_FALSE(result.ok);
        EXPECT_NE(utf8(result.message).find(c.message_part), std::string::npos)
            << utf8(result.message);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(read_file(target()), kOldContent);
        expect_folder_holds_only_target();
    }
}

TEST_F(DownloadTest, PartialBodiesAreNeverSavedEvenWithoutAnOldFile) {
    for (const char* path : {"/halfway.mp3", "/halfway-chunked.mp3", "/missing.mp3"}) {
        SCOPED_TRACE(path);
        const DownloadResult result = download_to_file(server_.url(path), qpath(target()));
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(names_in(folder_.path()).empty());
    }
}

TEST_F(DownloadTest, BadSavePlacesFailBeforeAnyRequest) {
    write_file(folder_.path() / "a-file", "x");
    struct Case {
        QString path;
        std::string message_part;
    };
    const Case cases[] = {
        {QString(), "下载失败：保存位置为空"},
        {qpath(folder_.path()), "保存位置是一个文件夹"},
        {qpath(folder_.path()) + "/", "保存位置是一个文件夹"},
        {qpath(folder_.path() / "no-such-folder" / "x.mp3"), "无法写入文件"},
        {qpath(folder_.path() / "a-file" / "x.mp3"), "无法写入文件"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        server_.clear_requests();
        const DownloadResult result = download_to_file(server_.url("/song.mp3"), c.path);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(utf8(result.message).find(c.message_part), std::string::npos)
            << utf8(result.message);
        EXPECT_EQ(server_.request_count(), 0u);
    }
    EXPECT_EQ(names_in(folder_.path()), std::set<std::string>{"a-file"});
}

// Makes a folder refuse new files for its lifetime: by mode for ordinary users, by the
// immutable flag for root (which ignores modes).
class UnwritableFolder final {
public:
    explicit UnwritableFolder(const fs::path& folder) : folder_(folder) {
        if (::geteuid() != 0) {
            active_ = ::chmod(folder_.c_str(), 0555) == 0;
            return;
        }
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            active_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
    }
    ~UnwritableFolder() {
        if (!active_) {
            return;
        }
        if (::geteuid() != 0) {
            ::chmod(folder_.c_str(), 0755);
            return;
        }
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

    bool active() const { return active_; }

private:
    fs::path folder_;
    bool active_ = false;
};

TEST_F(DownloadTest, UnwritableFolderIsReportedAndTheOldFileKept) {
    write_file(target(), kOldContent);
    UnwritableFolder guard(folder_.path());
    const fs::path probe = folder_.path() / "probe";
    if (const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600); fd >= 0) {
        ::close(fd);
        fs::remove(probe);
        GTEST_SKIP() << "cannot make a folder unwritable here";
    }

    const DownloadResult result = download_to_file(server_.url("/song.mp3"), qpath(target()));

    EXPECT_FALSE(result.ok);
    EXPECT_NE(utf8(result.message).find("下载失败：无法写入文件 " + target().string()),
              std::string::npos)
        << utf8(result.message);
    EXPECT_EQ(server_.request_count(), 0u);
    EXPECT_EQ(read_file(target()), kOldContent);
    expect_folder_holds_only_target();
}

// Lowers the largest file this process may write, the way a full disk would stop a write.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        active_ = ::getrlimit(RLIMIT_FSIZE, &previous_) == 0;
        if (active_) {
            rlimit lowered = previous_;
            lowered.rlim_cur = bytes;
            active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
        }
    }
    ~FileSizeLimit() {
        if (active_) {
            ::setrlimit(RLIMIT_FSIZE, &previous_);
        }
        std::signal(SIGXFSZ, previous_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return active_; }

private:
    rlimit previous_{};
    bool active_ = false;
    void (*previous_handler_)(int) = SIG_DFL;
};

TEST_F(DownloadTest, AWriteThatFailsMidwayKeepsTheOldFile) {
    server_.serve_generated("/big.mp3", 4 * 1024 * 1024);
    write_file(target(), kOldContent);
    DownloadResult result;
    {
        FileSizeLimit limit(1024 * 1024);
        ASSERT_TRUE(limit.active());
        result = download_to_file(server_.url("/big.mp3"), qpath(target()));
    }
    EXPECT_FALSE(result.ok);
    EXPECT_NE(utf8(result.message).find("下载失败：无法写入文件 "), std::string::npos)
        << utf8(result.message);
    EXPECT_EQ(read_file(target()), kOldContent);
    expect_folder_holds_only_target();
}

TEST_F(DownloadTest, CancelStopsAStalledDownloadAndCleansUp) {
    server_.serve_stall_mid_body("/stalled.mp3", 5000, std::chrono::seconds(30));
    write_file(target(), kOldContent);
    // The flag is set by a timer, so this also shows that events run during the download.
    bool cancel = false;
    QTimer::singleShot(300, [&cancel] { cancel = true; });
    std::uint64_t last_received = 0;
    std::optional<std::uint64_t> last_total;
    DownloadOptions options;
    options.cancelled = [&cancel] { return cancel; };
    options.progress = [&](std::uint64_t received, std::optional<std::uint64_t> total) {
        last_received = received;
        last_total = total;
    };

    const DownloadResult result =
        download_to_file(server_.url("/stalled.mp3"), qpath(target()), options);
    server_.release_stalls();

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(utf8(result.message), "下载已取消");
    EXPECT_EQ(last_received, 5000u);
    EXPECT_EQ(last_total, std::optional<std::uint64_t>(5016));
    EXPECT_EQ(read_file(target()), kOldContent);
    expect_folder_holds_only_target();
}

TEST_F(DownloadTest, AServerThatFallsSilentIsGivenUp) {
    server_.serve_stall_mid_body("/stalled.mp3", 5000, std::chrono::seconds(30));
    DownloadOptions options;
    options.stall_timeout_seconds = 1;

    const DownloadResult result =
        download_to_file(server_.url("/stalled.mp3"), qpath(target()), options);
    server_.release_stalls();

    EXPECT_FALSE(result.ok);
    EXPECT_NE(utf8(result.message).find("下载失败：网络错误（"), std::string::npos);
    EXPECT_TRUE(names_in(folder_.path()).empty());
}

TEST_F(DownloadTest, ProgressKnowsTheTotalOnlyWhenAnnounced) {
    struct Case {
        const char* path;
        std::optional<std::uint64_t> total;
    };
    for (const Case& c : {Case{"/song.mp3", 22}, Case{"/chunked.mp3", std::nullopt}}) {
        SCOPED_TRACE(c.path);
        std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> calls;
        DownloadOptions options;
        options.progress = [&](std::uint64_t received, std::optional<std::uint64_t> total) {
            calls.emplace_back(received, total);
        };
        const DownloadResult result =
            download_to_file(server_.url(c.path), qpath(target()), options);
        ASSERT_TRUE(result.ok);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().first, result.bytes_written);
        EXPECT_EQ(calls.back().second, c.total);
        EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end(),
                                   [](const auto& a, const auto& b) { return a.first < b.first; }));
    }
}

std::uint64_t resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

TEST_F(DownloadTest, ALargeBodyStreamsToDiskWithoutGrowingMemory) {
    constexpr std::size_t kSize = 256u * 1024 * 1024;
    LocalServer plain; // no TLS: the point is the memory, not the cipher
    ASSERT_TRUE(plain.ok());
    plain.serve_generated("/large.mp3", kSize);
    const std::uint64_t before = resident_bytes();
    std::uint64_t peak = before;
    DownloadOptions options;
    options.progress = [&](std::uint64_t, std::optional<std::uint64_t>) {
        peak = std::max(peak, resident_bytes());
    };

    const DownloadResult result =
        download_to_file(plain.url("/large.mp3"), qpath(target()), options);

    ASSERT_TRUE(result.ok) << utf8(result.message);
    EXPECT_EQ(result.bytes_written, kSize);
    EXPECT_LT(peak - before, 32u * 1024 * 1024) << "resident memory grew with the body";
    // Byte i of the body is 'a' + i % 26: compare piece by piece, never the whole file at once.
    std::ifstream in(target(), std::ios::binary);
    std::vector<char> block(1 << 20);
    std::uint64_t offset = 0;
    bool same = true;
    while (same) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (in.gcount() <= 0) {
            break;
        }
        for (std::streamsize i = 0; i < in.gcount(); ++i, ++offset) {
            if (block[i] != static_cast<char>('a' + offset % 26)) {
                same = false;
                break;
            }
        }
    }
    EXPECT_TRUE(same) << "first difference at byte " << offset;
    EXPECT_EQ(offset, kSize);
}

} // namespace
} // namespace zorvik
