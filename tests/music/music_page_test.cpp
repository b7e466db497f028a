// The page "音乐下载": the search against a local stand-in for the music-search service, the
// result list's pop-up menu and the menu item "下载".

#include "music/music_page.h"

#include "codepage/codepage.h"
#include "music/download_window.h"
#include "music/music_service.h"
#include "music/search_results.h"
#include "music/song_file_name.h"
#include "platform/ui/timed_notice.h"
#include "support/test_files.h"
#include "support/test_text.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace zorvik {
namespace {

using test::MusicService;
using test::song;
using test::utf8;

using Row = std::array<std::string, 3>;

class MusicPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        page_.show();
        keyword_ = page_.findChild<QLineEdit*>(QStringLiteral("编辑框4"));
        netease_ = page_.findChild<QRadioButton*>(QStringLiteral("单选框1"));
        kugou_ = page_.findChild<QRadioButton*>(QStringLiteral("单选框2"));
        search_button_ = page_.findChild<QPushButton*>(QStringLiteral("按钮5"));
        list_ = page_.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
        menu_ = page_.findChild<QMenu*>(QStringLiteral("选择"));
        ASSERT_TRUE(keyword_ && netease_ && kugou_ && search_button_ && list_ && menu_);
        ASSERT_EQ(menu_->actions().size(), 1);
        download_item_ = menu_->actions().constFirst();
        ASSERT_EQ(download_item_->text(), QStringLiteral("下载"));
    }

    void search(const QString& keyword) {
        keyword_->setText(keyword);
        search_button_->click();
    }

    std::vector<Row> rows() const {
        std::vector<Row> out;
        for (int r = 0; r < list_->topLevelItemCount(); ++r) {
            const QTreeWidgetItem* item = list_->topLevelItem(r);
            out.push_back({item->text(0).toStdString(), item->text(1).toStdString(),
                           item->text(2).toStdString()});
        }
        return out;
    }

    std::vector<std::string> download_urls() const {
        std::vector<std::string> out;
        for (const Text& url : state_.download_urls) {
            out.push_back(utf8(url));
        }
        return out;
    }

    // Two songs found: "T"/"A" at U and "第二首"/"歌手" at the small song.
    void search_two_songs() {
        service_.set_songs({song("T", "A", "123", "U"),
                            song("第二首", "歌手", "7", service_.song_url("small.mp3"))});
        search(QStringLiteral("two"));
        ASSERT_EQ(list_->topLevelItemCount(), 2);
    }

    void select_row(int row) {
        list_->clearSelection();
        if (row >= 0) {
            list_->topLevelItem(row)->setSelected(true);
        }
    }

    MusicService service_;
    DownloadState state_;
    MusicPage page_{state_, service_.endpoint()};
    ScopedNoticeRecorder notices_;
    QLineEdit* keyword_ = nullptr;
    QRadioButton* netease_ = nullptr;
    QRadioButton* kugou_ = nullptr;
    QPushButton* search_button_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* download_item_ = nullptr;
};

// --- the request ---------------------------------------------------------------------------

struct BodyCase {
    const char16_t* keyword;
    bool kugou;
    const char* body;
};

TEST_F(MusicPageTest, PostsTheFormBodyWithTheServiceHeaders) {
    const BodyCase cases[] = {
        {u"你好", false, "input=%E4%BD%A0%E5%A5%BD&filter=name&type=netease&page=1"},
        {u"a b", false, "input=a%20b&filter=name&type=netease&page=1"},
        // url_encode keeps "&" and "=", so the service sees the fields input=a and b=c.
        {u"a&b=c", false, "input=a&b=c&filter=name&type=netease&page=1"},
        {u"  ", false, "input=%20%20&filter=name&type=netease&page=1"},
        {u"周杰伦", true, "input=%E5%91%A8%E6%9D%B0%E4%BC%A6&filter=name&type=kugou&page=1"},
    };
    for (const BodyCase& c : cases) {
        const QString keyword = QString::fromUtf16(c.keyword);
        SCOPED_TRACE(keyword.toStdString());
        service_.server().clear_requests();
        kugou_->setEnabled(c.kugou);
        (c.kugou ? kugou_ : netease_)->setChecked(true);

        search(keyword);

        const auto searches = service_.searches();
        ASSERT_EQ(searches.size(), 1u);
        const test::RecordedRequest& request = searches.front();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/music");
        EXPECT_EQ(request.body, c.body);
        EXPECT_EQ(request.header("X-Requested-With"), "XMLHttpRequest");
        EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(request.header("Referer"), service_.endpoint().toStdString());
    }
    EXPECT_TRUE(notices_.notices().empty());
}

TEST_F(MusicPageTest, EmptyKeywordWarnsAndSendsNothing) {
    search_two_songs();
    service_.server().clear_requests();

    search(QString());

    ASSERT_EQ(notices_.notices().size(), 1u);
    const NoticeRecord& notice = notices_.notices().front();
    EXPECT_EQ(utf8(notice.text), "搜索内容不可为空");
    EXPECT_EQ(utf8(notice.title), "警告：");
    EXPECT_EQ(notice.timeout_ms, 1000);
    EXPECT_EQ(service_.server().request_count(), 0u);
    EXPECT_EQ(list_->topLevelItemCount(), 2);
    EXPECT_EQ(state_.download_urls.size(), 2u);
}

TEST_F(MusicPageTest, NoSourceSelectedSendsNothing) {
    netease_->setAutoExclusive(false);
    netease_->setChecked(false);

    search(QStringLiteral("x"));

    EXPECT_EQ(service_.server().request_count(), 0u);
    EXPECT_TRUE(notices_.notices().empty());
}

// While the reply is awaited the window paints, the button cannot start a second search and
// the busy cursor shows.
TEST_F(MusicPageTest, WaitsWithTheButtonDisabledAndTheWindowAlive) {
    service_.server().serve_stall("/slow/music", std::chrono::seconds(20), R"({"data":[]})");
    MusicPage page(state_, QString::fromStdString(service_.server().url("/slow/music")));
    page.show();
    auto* button = page.findChild<QPushButton*>(QStringLiteral("按钮5"));
    page.findChild<QLineEdit*>(QStringLiteral("编辑框4"))->setText(QStringLiteral("slow"));
    bool checked = false;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (checked || service_.server().request_count() == 0) {
            return;
        }
        checked = true;
        EXPECT_FALSE(button->isEnabled());
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        service_.server().release_stalls();
    });
    probe.start();

    button->click();

    EXPECT_TRUE(checked) << "no event ran while the search waited";
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(notices_.notices().empty());
}

// --- the reply -----------------------------------------------------------------------------

TEST_F(MusicPageTest, EachSongBecomesARowWithItsAddress) {
    service_.set_songs({song("T", "A", "123", "U"),
                        song("晴天", "周杰伦", "186016", "https://example.invalid/晴天.mp3"),
                        R"("author":"no title","url":"V")", R"("title":"no address")"});

    search(QStringLiteral("x"));

    const std::vector<Row> expected = {{"T", "A", "123"},
                                       {"晴天", "周杰伦", "186016"},
                                       {"", "no title", "0"},
                                       {"no address", "", "0"}};
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(download_urls(),
              (std::vector<std::string>{"U", "https://example.invalid/晴天.mp3", "V", ""}));
    EXPECT_TRUE(notices_.notices().empty());
}

TEST_F(MusicPageTest, SongIdIsCutTowardZeroToA32BitInteger) {
    const std::pair<const char*, const char*> cases[] = {
        {"12.9", "12"},
        {"-2.7", "-2"},
        {"0.5", "0"},
        {"2147483647", "2147483647"},
        {"2147483648", "2147483647"},
        {"1e300", "2147483647"},
        {"-1e300", "-2147483648"},
        {"\"abc\"", "0"},
        {"null", "0"},
    };
    std::vector<std::string> songs;
    for (const auto& [songid, shown] : cases) {
        songs.push_back(song("t", "a", songid, "u"));
    }
    service_.set_songs(songs);

    search(QStringLiteral("x"));

    ASSERT_EQ(list_->topLevelItemCount(), static_cast<int>(std::size(cases)));
    for (int r = 0; r < list_->topLevelItemCount(); ++r) {
        SCOPED_TRACE(cases[r].first);
        EXPECT_EQ(list_->topLevelItem(r)->text(2).toStdString(), cases[r].second);
    }
}

TEST(SongIdText, NonFiniteValuesHaveADefinedResult) {
    EXPECT_EQ(song_id_text(std::numeric_limits<double>::quiet_NaN()), "0");
    EXPECT_EQ(song_id_text(std::numeric_limits<double>::infinity()), "2147483647");
    EXPECT_EQ(song_id_text(-std::numeric_limits<double>::infinity()), "-2147483648");
}

TEST_F(MusicPageTest, ANewSearchReplacesTheRowsOfTheLastOne) {
    search_two_songs();
    service_.set_songs({song("only", "one", "1", "W")});

    search(QStringLiteral("again"));

    EXPECT_EQ(rows(), (std::vector<Row>{{"only", "one", "1"}}));
    EXPECT_EQ(download_urls(), (std::vector<std::string>{"W"}));
}

// What a reply that lists no songs leaves: an empty list, and a word when the search failed.
struct EmptyCase {
    const char* name;
    int status;
    std::string body;
    // Part of the notice's text; nullptr when the reply is a plain "nothing found".
    const char* notice;
};

TEST_F(MusicPageTest, RepliesWithoutSongsEmptyTheList) {
    const EmptyCase cases[] = {
        {"empty object", 200, "{}", nullptr},
        {"empty data", 200, R"({"code":200,"data":[],"error":""})", nullptr},
        {"data not an array", 200, R"({"data":{"title":"T"}})", nullptr},
        {"empty body", 200, "", "搜索失败"},
        {"not JSON", 200, "<html>busy</html>", "无法识别"},
        {"script, not data", 200, "{data: [alert(1)]}", "无法识别"},
        {"server error", 500, R"({"data":[{"title":"T","url":"U"}]})", "500"},
        {"not found", 404, "<html>404</html>", "404"},
    };
    for (const EmptyCase& c : cases) {
        SCOPED_TRACE(c.name);
        search_two_songs();
        notices_.clear();
        service_.set_reply(c.status, c.body);

        search(QStringLiteral("x"));

        EXPECT_EQ(list_->topLevelItemCount(), 0);
        EXPECT_TRUE(state_.download_urls.empty());
        if (c.notice == nullptr) {
            EXPECT_TRUE(notices_.notices().empty());
        } else {
            ASSERT_EQ(notices_.notices().size(), 1u);
            const std::string text = utf8(notices_.notices().front().text);
            EXPECT_NE(text.find("搜索失败"), std::string::npos) << text;
            EXPECT_NE(text.find(c.notice), std::string::npos) << text;
        }
    }
}

TEST_F(MusicPageTest, AnUnreachableServiceIsReported) {
    QString gone_endpoint;
    {
        test::LocalServer gone(test::Scheme::Https);
        ASSERT_TRUE(gone.ok());
        gone_endpoint = QString::fromStdString(gone.url("/music"));
    }
    MusicPage page(state_, gone_endpoint);
    page.show();
    auto* keyword = page.findChild<QLineEdit*>(QStringLiteral("编辑框4"));
    auto* button = page.findChild<QPushButton*>(QStringLiteral("按钮5"));
    state_.download_urls = {"old"};
    keyword->setText(QStringLiteral("x"));

    button->click();

    EXPECT_TRUE(state_.download_urls.empty());
    ASSERT_EQ(notices_.notices().size(), 1u);
    EXPECT_NE(utf8(notices_.notices().front().text).find("搜索失败"), std::string::npos);
}

// One array of some hundred thousand tiny elements brings the script engine down; such a
// reply is refused by its size, with a word, before it gets there.
TEST_F(MusicPageTest, AHugeReplyIsRefusedNotParsed) {
    std::string hostile = R"({"data":[)";
    while (hostile.size() < 1200 * 1024) {
        hostile += "1,";
    }
    hostile += "1]}";
    service_.set_reply(200, hostile);

    search(QStringLiteral("x"));

    EXPECT_EQ(list_->topLevelItemCount(), 0);
    EXPECT_TRUE(state_.download_urls.empty());
    ASSERT_EQ(notices_.notices().size(), 1u);
    EXPECT_NE(utf8(notices_.notices().front().text).find("过大"), std::string::npos);
}

TEST_F(MusicPageTest, TooManySongsFillTheFirstRowsAndSaySo) {
    std::string reply = R"({"data":[)";
    for (int i = 0; i < kMaxSearchRows + 7; ++i) {
        reply += i == 0 ? "{\"url\":\"u0\"}" : ",{}";
    }
    reply += "]}";
    service_.set_reply(200, reply);

    search(QStringLiteral("x"));

    EXPECT_EQ(list_->topLevelItemCount(), kMaxSearchRows);
    ASSERT_EQ(state_.download_urls.size(), static_cast<std::size_t>(kMaxSearchRows));
    EXPECT_EQ(state_.download_urls.front(), "u0");
    ASSERT_EQ(notices_.notices().size(), 1u);
    EXPECT_NE(utf8(notices_.notices().front().text).find(std::to_string(kMaxSearchRows)),
              std::string::npos);
}

// --- the pop-up menu and the menu item "下载" -------------------------------------------------

TEST_F(MusicPageTest, RightClickPopsTheMenuUpBesideThePointer) {
    search_two_songs();
    QWidget* viewport = list_->viewport();
    const QPoint on_row = list_->visualItemRect(list_->topLevelItem(1)).center();
    const QPoint empty_area(viewport->width() / 2, viewport->height() - 5);
    for (const QPoint& local : {on_row, empty_area}) {
        const QPoint global = viewport->mapToGlobal(local);
        QCursor::setPos(global);
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, global);
        QApplication::sendEvent(viewport, &event);

        EXPECT_TRUE(menu_->isVisible());
        EXPECT_EQ(menu_->pos(), global + QPoint(3, 3));
        menu_->hide();
    }
}

struct RefusedCase {
    const char* name;
    int row;              // -1: nothing selected
    bool drop_last_entry; // the row has no entry in download_urls
    const char* text;
    const char* title;
    int timeout_ms;
};

TEST_F(MusicPageTest, MenuItemRefusesWithoutASongToFetch) {
    const RefusedCase cases[] = {
        {"no row selected", -1, false, "请选择一首歌进行下载", "警告：", 1000},
        {"empty address", 0, false, "下载链接获取失败，请换一首歌尝试", "友情提醒", 5000},
        {"no entry for the row", 1, true, "下载链接获取失败，请换一首歌尝试", "友情提醒", 5000},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        service_.set_songs({song("T", "A", "1", ""), song("第二首", "歌手", "2", "V")});
        search(QStringLiteral("x"));
        ASSERT_EQ(list_->topLevelItemCount(), 2);
        if (c.drop_last_entry) {
            state_.download_urls.pop_back();
        }
        state_.pending_download_url = "before";
        state_.pending_file_name = "before";
        notices_.clear();
        select_row(c.row);

        download_item_->trigger();

        ASSERT_EQ(notices_.notices().size(), 1u);
        const NoticeRecord& notice = notices_.notices().front();
        EXPECT_EQ(utf8(notice.text), c.text);
        EXPECT_EQ(utf8(notice.title), c.title);
        EXPECT_EQ(notice.timeout_ms, c.timeout_ms);
        EXPECT_EQ(page_.findChild<DownloadWindow*>(), nullptr);
        if (c.row < 0) {
            EXPECT_EQ(state_.pending_download_url, "before");
            EXPECT_EQ(state_.pending_file_name, "before");
        } else {
            // Both are set before the address is looked at, so a refused song leaves them.
            EXPECT_EQ(state_.pending_download_url, "");
            EXPECT_EQ(state_.pending_file_name,
                      song_file_name(from_qstring(list_->topLevelItem(c.row)->text(0)),
                                     from_qstring(list_->topLevelItem(c.row)->text(1))));
        }
    }
}

// Runs `inside` once the modal download window is up, then whatever `inside` left it to do.
void when_download_window_opens(const std::function<void(DownloadWindow&)>& inside) {
    QTimer::singleShot(0, [inside] {
        auto* window = qobject_cast<DownloadWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr) << "no modal download window";
        inside(*window);
    });
}

TEST_F(MusicPageTest, MenuItemOpensTheWindowForTheSelectedSong) {
    search_two_songs();
    select_row(0);
    bool seen = false;
    when_download_window_opens([&](DownloadWindow& window) {
        seen = true;
        const auto* address = window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框1"));
        const auto* place = window.findChild<QLineEdit*>(QStringLiteral("编辑框2"));
        ASSERT_TRUE(address && place);
        EXPECT_EQ(address->toPlainText(), QStringLiteral("U"));
        EXPECT_FALSE(address->isEnabled());
        EXPECT_EQ(place->text(), default_save_folder() + QStringLiteral("/T-A.mp3"));
        EXPECT_TRUE(window.isModal());
        window.findChild<QPushButton*>(QStringLiteral("按钮3"))->click();
    });

    download_item_->trigger();

    EXPECT_TRUE(seen);
    EXPECT_EQ(utf8(state_.pending_download_url), "U");
    EXPECT_EQ(utf8(state_.pending_file_name), "/T-A.mp3");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(notices_.notices().empty());
    // "退出" fetched nothing.
    EXPECT_EQ(service_.server().request_count(), 1u);
}

// From search to saved file, the way a user goes.
TEST_F(MusicPageTest, SearchThenDownloadSavesTheSong) {
    test::TempDir folder;
    ASSERT_TRUE(folder.ok());
    const std::filesystem::path target = folder.path() / "第二首.mp3";
    search_two_songs();
    select_row(1);
    when_download_window_opens([&](DownloadWindow& window) {
        window.findChild<QLineEdit*>(QStringLiteral("编辑框2"))
            ->setText(QString::fromStdString(target.string()));
        window.findChild<QPushButton*>(QStringLiteral("按钮2"))->click();
    });

    download_item_->trigger();

    EXPECT_EQ(test::read_file(target), test::kSmallSong);
    ASSERT_EQ(notices_.notices().size(), 1u);
    EXPECT_EQ(utf8(notices_.notices().front().text), "下载完毕");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace zorvik
