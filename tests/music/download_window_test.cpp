// The download window: filled in from the pending values, the save dialog's choice, and the
// download itself against songs served by a local stand-in.

#include "music/download_window.h"

#include "codepage/codepage.h"
#include "music/music_service.h"
#include "music/song_file_name.h"
#include "platform/ui/timed_notice.h"
#include "support/test_files.h"
#include "support/test_text.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zorvik {
namespace {

namespace fs = std::filesystem;
using test::MusicService;
using test::read_file;
using test::utf8;
using test::write_file;

constexpr char kOldContent[] = "the song that was here before";

// Every file under `folder`, with its content.
std::map<std::string, std::string> files_under(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), folder).string()] = read_file(entry.path());
        }
    }
    return files;
}

QString qpath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

class DownloadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ok());
        ASSERT_TRUE(root_.ok());
        fs::create_directories(folder_);
        state_.pending_download_url = service_.song_url("small.mp3");
        state_.pending_file_name = song_file_name("T", "A");
    }

    // A new window for the pending values, shown, with its controls found.
    void open() {
        window_ = std::make_unique<DownloadWindow>(state_, qpath(folder_));
        window_->show();
        address_ = window_->findChild<QPlainTextEdit*>(QStringLiteral("编辑框1"));
        place_ = window_->findChild<QLineEdit*>(QStringLiteral("编辑框2"));
        choose_ = window_->findChild<QPushButton*>(QStringLiteral("按钮1"));
        download_ = window_->findChild<QPushButton*>(QStringLiteral("按钮2"));
        exit_ = window_->findChild<QPushButton*>(QStringLiteral("按钮3"));
        dialog_ = window_->findChild<QFileDialog*>(QStringLiteral("通用对话框1"));
        progress_ = window_->findChild<QProgressBar*>(QStringLiteral("进度条1"));
        ASSERT_TRUE(address_ && place_ && choose_ && download_ && exit_ && dialog_ && progress_);
    }

    void download_to(const fs::path& target) {
        place_->setText(qpath(target));
        download_->click();
    }

    // The download ended in failure: the window is still there for another try, the notice
    // says why, and the button works again.
    void expect_failure_reported() {
        EXPECT_TRUE(window_->isVisible());
        EXPECT_TRUE(download_->isEnabled());
        EXPECT_FALSE(progress_->isVisible());
        ASSERT_EQ(notices_.notices().size(), 1u);
        const std::string text = utf8(notices_.notices().front().text);
        EXPECT_NE(text.find("下载失败"), std::string::npos) << text;
        EXPECT_EQ(utf8(notices_.notices().front().title), "友情提醒");
    }

    MusicService service_;
    test::TempDir root_;
    // A folder inside the temporary one, so a file that escaped it would still be seen.
    fs::path folder_ = root_.path() / "songs";
    fs::path target_ = folder_ / "target.mp3";
    DownloadState state_;
    ScopedNoticeRecorder notices_;
    std::unique_ptr<DownloadWindow> window_;
    QPlainTextEdit* address_ = nullptr;
    QLineEdit* place_ = nullptr;
    QPushButton* choose_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* exit_ = nullptr;
    QFileDialog* dialog_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

TEST_F(DownloadWindowTest, CreationFillsInTheAddressAndTheDefaultPlace) {
    state_.pending_download_url = utf8_to_ansi("https://example.invalid/晴天.mp3");
    open();

    EXPECT_EQ(address_->toPlainText(), QStringLiteral("https://example.invalid/晴天.mp3"));
    EXPECT_FALSE(address_->isEnabled());
    EXPECT_EQ(address_->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(place_->text(), qpath(folder_ / "T-A.mp3"));
    EXPECT_TRUE(place_->isEnabled());
    EXPECT_FALSE(progress_->isVisible());
    // Nothing is fetched before "下载".
    EXPECT_EQ(service_.server().request_count(), 0u);
}

// Drives the save dialog of one click on "打开文件夹": `answer` runs inside it.
void with_save_dialog(QFileDialog* dialog, std::function<void(QFileDialog&)> answer) {
    QTimer::singleShot(0, [dialog, answer = std::move(answer)] {
        ASSERT_TRUE(dialog->isVisible()) << "the save dialog is not open";
        answer(*dialog);
    });
}

TEST_F(DownloadWindowTest, SaveDialogOkTakesThePathAndCancelPutsBackTheLastChoice) {
    open();
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("保存文件到："));
    EXPECT_EQ(dialog_->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog_->defaultSuffix(), QStringLiteral("mp3"));
    EXPECT_FALSE(dialog_->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog_->nameFilters(), QStringList{QStringLiteral("*")});

    // Cancel before any choice: the dialog held nothing, so the place empties.
    QString first_directory;
    with_save_dialog(dialog_, [&](QFileDialog& d) {
        first_directory = d.directory().absolutePath();
        d.reject();
    });
    choose_->click();
    EXPECT_EQ(fs::path(first_directory.toStdString()), folder_);
    EXPECT_EQ(place_->text(), QString());

    // OK: the chosen path, with the default suffix added.
    with_save_dialog(dialog_, [&](QFileDialog& d) {
        // Typed into the name box, as a user does; then the dialog's own Save.
        auto* name_box = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name_box, nullptr);
        name_box->setText(qpath(folder_ / "chosen"));
        static_cast<QDialog&>(d).accept();
    });
    choose_->click();
    const QString chosen = qpath(folder_ / "chosen.mp3");
    EXPECT_EQ(place_->text(), chosen);

    // The user edits the box, then opens the dialog again and cancels: the earlier choice
    // comes back, and the dialog had opened on it.
    place_->setText(QStringLiteral("typed"));
    QStringList offered;
    with_save_dialog(dialog_, [&](QFileDialog& d) {
        offered = d.selectedFiles();
        d.reject();
    });
    choose_->click();
    EXPECT_EQ(offered, QStringList{chosen});
    EXPECT_EQ(place_->text(), chosen);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(notices_.notices().empty());
}

struct SavedCase {
    const char* song;
    std::string expected;
};

TEST_F(DownloadWindowTest, ASuccessfulDownloadSavesExactlyTheBodyAndCloses) {
    const SavedCase cases[] = {
        {"small.mp3", test::kSmallSong},
        {"large.mp3", test::LocalServer::generated_body(test::kLargeSongBytes)},
        {"chunked.mp3", test::LocalServer::generated_body(test::kLargeSongBytes)},
    };
    for (const SavedCase& c : cases) {
        SCOPED_TRACE(c.song);
        notices_.clear();
        write_file(target_, kOldContent);
        state_.pending_download_url = service_.song_url(c.song);
        open();

        download_to(target_);

        EXPECT_EQ(files_under(root_.path()),
                  (std::map<std::string, std::string>{{"songs/target.mp3", c.expected}}));
        ASSERT_EQ(notices_.notices().size(), 1u);
        const NoticeRecord& notice = notices_.notices().front();
        EXPECT_EQ(utf8(notice.text), "下载完毕");
        EXPECT_EQ(utf8(notice.title), "恭喜你");
        EXPECT_EQ(notice.timeout_ms, 1000);
        // Shown while the window is still up, so the window owns it.
        EXPECT_EQ(notice.owner, window_.get());
        EXPECT_FALSE(window_->isVisible());
        EXPECT_EQ(window_->result(), QDialog::Accepted);
    }
}

TEST_F(DownloadWindowTest, TheDefaultPlaceIsUsedAsItStands) {
    open();

    download_->click();

    EXPECT_EQ(read_file(folder_ / "T-A.mp3"), test::kSmallSong);
    EXPECT_FALSE(window_->isVisible());
}

// A title or author that looks like a path still saves inside the folder.
TEST_F(DownloadWindowTest, APathInTheTitleStaysInsideTheFolder) {
    const std::pair<const char*, const char*> names[] = {
        {"../../escape", "A"}, {"a/b", "c/../d"}, {"..", ".."}, {"/etc/passwd", ""}};
    for (const auto& [title, author] : names) {
        SCOPED_TRACE(std::string(title) + " / " + author);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        notices_.clear();
        state_.pending_file_name = song_file_name(utf8_to_ansi(title), utf8_to_ansi(author));
        open();

        download_->click();

        const auto files = files_under(root_.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(fs::path(files.begin()->first).parent_path(), "songs");
        EXPECT_EQ(files.begin()->second, test::kSmallSong);
        EXPECT_FALSE(window_->isVisible());
    }
}

struct FailureCase {
    const char* name;
    std::string address; // a song name on the stand-in, or a whole address
    std::function<fs::path(const fs::path& folder)> place;
};

TEST_F(DownloadWindowTest, AFailedDownloadKeepsTheOldFileAndTheWindow) {
    const auto target = [](const fs::path& folder) { return folder / "target.mp3"; };
    std::string gone_address;
    {
        test::LocalServer gone(test::Scheme::Https);
        ASSERT_TRUE(gone.ok());
        gone_address = gone.url("/song.mp3");
    }
    const FailureCase cases[] = {
        {"404", "missing.mp3", target},
        {"breaks off halfway", "halfway.mp3", target},
        {"unreachable", gone_address, target},
        {"not http", "ftp://127.0.0.1/song.mp3", target},
        {"empty address", "", target},
        {"folder missing", "small.mp3", [](const fs::path& f) { return f / "no" / "x.mp3"; }},
        {"place is a folder", "small.mp3", [](const fs::path& f) { return f; }},
        {"empty place", "small.mp3", [](const fs::path&) { return fs::path(); }},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.clear();
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        write_file(target_, kOldContent);
        const bool on_stand_in = c.address.find("://") == std::string::npos && !c.address.empty();
        state_.pending_download_url =
            utf8_to_ansi(on_stand_in ? service_.song_url(c.address) : c.address);
        open();

        download_to(c.place(folder_));

        expect_failure_reported();
        EXPECT_EQ(files_under(root_.path()),
                  (std::map<std::string, std::string>{{"songs/target.mp3", kOldContent}}));
    }
}

TEST_F(DownloadWindowTest, AfterAFailureAnotherTryCanSucceed) {
    open();
    download_to(folder_ / "missing-folder" / "x.mp3");
    expect_failure_reported();
    notices_.clear();

    download_to(target_);

    EXPECT_EQ(read_file(target_), test::kSmallSong);
    ASSERT_EQ(notices_.notices().size(), 1u);
    EXPECT_EQ(utf8(notices_.notices().front().text), "下载完毕");
    EXPECT_FALSE(window_->isVisible());
}

// How the user ends a download that is under way.
enum class Ending { ExitButton, CloseWindow, DestroyWindow };

class StoppedDownloadTest : public DownloadWindowTest,
                            public ::testing::WithParamInterface<Ending> {};

TEST_P(StoppedDownloadTest, StopsItAndLeavesNoTrace) {
    write_file(target_, kOldContent);
    state_.pending_download_url = service_.song_url("stalled.mp3");
    open();
    bool seen_running = false;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        // Once part of the body has arrived and the server waits.
        if (seen_running || window_ == nullptr || !progress_->isVisible() ||
            !progress_->format().contains(QStringLiteral("64.0 KB"))) {
            return;
        }
        seen_running = true;
        EXPECT_FALSE(download_->isEnabled());
        EXPECT_FALSE(choose_->isEnabled());
        EXPECT_TRUE(exit_->isEnabled());
        switch (GetParam()) {
        case Ending::ExitButton:
            exit_->click();
            // The window stays until the download has stopped.
            EXPECT_TRUE(window_->isVisible());
            break;
        case Ending::CloseWindow:
            window_->close();
            EXPECT_TRUE(window_->isVisible());
            break;
        case Ending::DestroyWindow:
            window_.reset();
            break;
        }
    });
    probe.start();

    download_to(target_);

    EXPECT_TRUE(seen_running);
    if (window_ != nullptr) {
        EXPECT_FALSE(window_->isVisible());
        EXPECT_EQ(window_->result(), QDialog::Rejected);
    }
    EXPECT_TRUE(notices_.notices().empty());
    EXPECT_EQ(files_under(root_.path()),
              (std::map<std::string, std::string>{{"songs/target.mp3", kOldContent}}));
}

INSTANTIATE_TEST_SUITE_P(Endings, StoppedDownloadTest,
                         ::testing::Values(Ending::ExitButton, Ending::CloseWindow,
                                           Ending::DestroyWindow));

TEST_F(DownloadWindowTest, ProgressShowsBytesAndPercent) {
    state_.pending_download_url = service_.song_url("stalled.mp3");
    open();
    QString shown;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (shown.isEmpty() && progress_->format().contains(QStringLiteral("64.0 KB"))) {
            shown = progress_->text();
            exit_->click();
        }
    });
    probe.start();

    download_to(target_);

    // serve_stall_mid_body announces 16 bytes more than it sends at first.
    EXPECT_EQ(shown, QStringLiteral("已下载 64.0 KB / 64.0 KB（99%）"));
}

} // namespace
} // namespace zorvik
