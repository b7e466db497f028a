// The song search page and the download window against hostile servers: a failed search says
// so and lists nothing, hostile text gives defined rows, and a download that goes wrong is
// reported with the user's song left where it was.

#include "hostile/hostile_server.h"

#include "music/download_state.h"
#include "music/download_window.h"
#include "music/music_page.h"
#include "music/song_file_name.h"
#include "platform/ui/timed_notice.h"
#include "support/server/test_certs.h"
#include "support/test_files.h"
#include "support/test_text.h"

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace zorvik::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string json_reply(const std::string& body) {
    return ok_reply("application/json", body);
}

// The search page aimed at one hostile server.
class SearchPageTest : public ::testing::Test {
protected:
    void search_on(HostileServer& server) {
        MusicPage page(state_, QString::fromStdString(server.url("/music")));
        page.show();
        auto* keyword = page.findChild<QLineEdit*>(QStringLiteral("编辑框4"));
        auto* button = page.findChild<QPushButton*>(QStringLiteral("按钮5"));
        auto* list = page.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
        ASSERT_TRUE(keyword && button && list);
        state_.download_urls = {"left from an earlier search"};
        keyword->setText(QStringLiteral("x"));
        button->click();
        button_enabled_ = button->isEnabled();
        rows_.clear();
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            rows_.push_back(list->topLevelItem(r)->text(0));
        }
    }

    DownloadState state_;
    ScopedNoticeRecorder notices_;
    bool button_enabled_ = false;
    std::vector<QString> rows_;
};

struct ScriptCase final {
    const char* name;
    HostileServer::Script script;
};

TEST_F(SearchPageTest, AHostileReplySaysTheSearchFailedAndListsNothing) {
    const std::vector<ScriptCase> cases = {
        {"no HTTP at all", reply("SSH-2.0-OpenSSH_9.2\r\n")},
        {"a status line only", reply("HTTP/1.1 200 OK\r\n")},
        {"a redirect loop",
         reply("HTTP/1.1 302 Found\r\nLocation: /music\r\nContent-Length: 0\r\n\r\n")},
        {"a reset halfway",
         reply_then_reset("HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n{\"data\":[")},
        {"a body without end", endless("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"data\":[",
                                       repeat("{\"title\":\"T\"},", 4096))},
        {"megabytes of header lines",
         endless("HTTP/1.1 200 OK\r\n", "X-Pad: " + std::string(1000, 'p') + "\r\n")},
        {"a 1xx storm", endless("", "HTTP/1.1 100 Continue\r\n\r\n")},
        {"JSON nested a million deep",
         reply(json_reply("{\"data\":" + repeat("[", 1000000) + repeat("]", 1000000) + "}"))},
        {"JSON nested as deep as the reply cap allows",
         reply(json_reply("{\"data\":" + repeat("[", 200000) + repeat("]", 200000) + "}"))},
        {"UTF-16 JSON", reply(json_reply(std::string("\xFF\xFE{\0}\0", 6)))},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.clear();
        HostileServer server(c.script);
        ASSERT_TRUE(server.ok());

        search_on(server);

        EXPECT_TRUE(rows_.empty());
        EXPECT_TRUE(state_.download_urls.empty());
        EXPECT_TRUE(button_enabled_);
        ASSERT_EQ(notices_.notices().size(), 1u);
        const std::string text = utf8(notices_.notices().front().text);
        EXPECT_EQ(text.rfind("搜索失败", 0), 0u) << text;
    }
}

struct OddTextSearch final {
    const char* name;
    std::string body;
    QString first_title;
};

TEST_F(SearchPageTest, RepliesThatAreNoCleanUtf8GiveDefinedRows) {
    const QString replaced(4, QChar(0xFFFD));
    const std::string song = R"({"title":"T","author":"A","songid":1,"url":"U"})";
    const std::vector<OddTextSearch> cases = {
        {"a GBK title", "{\"data\":[{\"title\":\"\xD6\xD0\xCE\xC4\",\"url\":\"U\"}]}", replaced},
        {"a UTF-8 mark", "\xEF\xBB\xBF{\"data\":[" + song + "]}", QStringLiteral("T")},
        {"a zero byte after the document", "{\"data\":[" + song + "]}" + std::string(1, '\0'),
         QStringLiteral("T")},
        {"a lone surrogate", R"({"data":[{"title":"\ud800x","url":"U"}]})", QStringLiteral("?x")},
    };
    for (const OddTextSearch& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.clear();
        HostileServer server(reply(json_reply(c.body)));
        ASSERT_TRUE(server.ok());

        search_on(server);

        ASSERT_EQ(rows_.size(), 1u);
        EXPECT_EQ(rows_[0], c.first_title);
        ASSERT_EQ(state_.download_urls.size(), 1u);
        EXPECT_EQ(state_.download_urls[0], "U");
        EXPECT_TRUE(notices_.notices().empty());
    }
}

constexpr char kUsersSong[] = "ID3 the user's own song, which must survive";

// The download window for one song of a hostile server, saving over the user's own song.
class DownloadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        write_file(target(), kUsersSong);
    }

    fs::path target() const { return folder_.path() / "T-A.mp3"; }

    // Presses "下载"; when `quit_after` is given, "退出" that long into the download.
    void download_from(HostileServer& server, std::optional<std::chrono::milliseconds> quit_after) {
        DownloadState state;
        state.pending_download_url = server.url("/song.mp3");
        state.pending_file_name = song_file_name("T", "A");
        DownloadWindow window(state, QString::fromStdString(folder_.path().string()));
        window.show();
        auto* save_place = window.findChild<QLineEdit*>(QStringLiteral("编辑框2"));
        auto* download = window.findChild<QPushButton*>(QStringLiteral("按钮2"));
        auto* quit = window.findChild<QPushButton*>(QStringLiteral("按钮3"));
        ASSERT_TRUE(save_place && download && quit);
        ASSERT_EQ(save_place->text().toStdString(), target().string());
        if (quit_after) {
            QTimer::singleShot(*quit_after, quit, &QPushButton::click);
        }
        download->click();
        still_open_ = window.isVisible();
    }

    void expect_users_song_intact() const {
        EXPECT_EQ(read_file(target()), kUsersSong);
        EXPECT_EQ(names_in(folder_.path()), std::set<std::string>{"T-A.mp3"});
    }

    TempDir folder_{"zorvik-hostile-"};
    ScopedNoticeRecorder notices_;
    bool still_open_ = false;
};

struct FailedDownload final {
    const char* name;
    HostileServer::Script script;
    const char* notice;
};

TEST_F(DownloadWindowTest, AFailedDownloadIsReportedAndTheWindowStays) {
    const std::vector<FailedDownload> cases = {
        {"a reset halfway",
         reply_then_reset("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                          std::string(50000, 'x')),
         // Whether the reset or the short body is seen first depends on timing; either is
         // reported as a failure.
         "下载失败："},
        {"a status line only", reply("HTTP/1.1 200 OK\r\n"), "下载失败：连接中断，文件不完整"},
        {"a length longer than the body",
         reply("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nonly this much"),
         "下载失败：连接中断，文件不完整"},
        {"a redirect loop",
         reply("HTTP/1.1 302 Found\r\nLocation: /song.mp3\r\nContent-Length: 0\r\n\r\n"),
         "下载失败：重定向次数过多"},
    };
    for (const FailedDownload& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.clear();
        HostileServer server(c.script);
        ASSERT_TRUE(server.ok());

        download_from(server, std::nullopt);

        EXPECT_TRUE(still_open_);
        ASSERT_EQ(notices_.notices().size(), 1u);
        const std::string text = utf8(notices_.notices().front().text);
        EXPECT_EQ(text.rfind(c.notice, 0), 0u) << text;
        expect_users_song_intact();
    }
}

// A server that keeps sending, slowly or without end, never times the download out; the user
// ends it with "退出", and the window closes without a word.
TEST_F(DownloadWindowTest, QuitStopsADownloadThatWouldNotEnd) {
    const std::vector<ScriptCase> cases = {
        {"a byte a second",
         [](HostileConnection& c) {
             if (c.send("HTTP/1.1 200 OK\r\nContent-Length: 3600\r\n\r\n")) {
                 for (int i = 0; i < 3600 && c.send("x") && c.pause(1s); ++i) {
                 }
             }
         }},
        {"a body without end",
         endless("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", std::string(65536, 'x'))},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.clear();
        HostileServer server(c.script);
        ASSERT_TRUE(server.ok());

        download_from(server, 500ms);

        EXPECT_FALSE(still_open_);
        EXPECT_TRUE(notices_.notices().empty());
        expect_users_song_intact();
    }
}

} // namespace
} // namespace zorvik::test
