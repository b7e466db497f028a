#include "platform/ui/timed_notice.h"

#include "codepage/codepage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zorvik {
namespace {

Text gb(const char16_t* text) {
    return from_qstring(QString::fromUtf16(text));
}

QMessageBox* visible_box() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// What a shown box looked like.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::vector<std::pair<QMessageBox::StandardButton, QString>> buttons;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    QWidget* parent = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    Qt::TextFormat format = Qt::AutoText;
};

// Watches for the box while timed_notice runs its loop; records it and presses `press`
// (when given) after `delay_ms`.
class BoxDriver final {
public:
    explicit BoxDriver(std::optional<QMessageBox::StandardButton> press, int delay_ms = 0)
        : press_(press), delay_ms_(delay_ms) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(5);
    }

    const std::optional<SeenBox>& seen() const { return seen_; }

private:
    void poll() {
        QMessageBox* box = visible_box();
        if (box == nullptr) {
            return;
        }
        if (!seen_) {
            SeenBox seen;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            for (QAbstractButton* button : box->buttons()) {
                seen.buttons.emplace_back(box->standardButton(button), button->text());
            }
            std::sort(seen.buttons.begin(), seen.buttons.end());
            if (box->defaultButton() != nullptr) {
                seen.default_button = box->standardButton(box->defaultButton());
            }
            seen.parent = box->parentWidget();
            seen.modality = box->windowModality();
            seen.format = box->textFormat();
            seen_ = std::move(seen);
            since_seen_ = 0;
        }
        since_seen_ += 5;
        if (press_ && since_seen_ >= delay_ms_) {
            if (QAbstractButton* button = box->button(*press_)) {
                timer_.stop();
                button->click();
            }
        }
    }

    std::optional<QMessageBox::StandardButton> press_;
    int delay_ms_;
    int since_seen_ = 0;
    QTimer timer_;
    std::optional<SeenBox> seen_;
};

TEST(TimedNotice, ClosesItselfAfterTheTimeOut) {
    BoxDriver driver(std::nullopt);
    const int result = timed_notice(gb(u"不可为空"), std::nullopt, gb(u"警告："), nullptr, 50);
    EXPECT_EQ(result, kNoticeTimedOut);
    ASSERT_TRUE(driver.seen());
    EXPECT_EQ(driver.seen()->title, QStringLiteral("警告："));
    EXPECT_EQ(driver.seen()->text, QStringLiteral("不可为空"));
    ASSERT_EQ(driver.seen()->buttons.size(), 1u);
    EXPECT_EQ(driver.seen()->buttons[0].first, QMessageBox::Ok);
    EXPECT_EQ(visible_box(), nullptr);
}

TEST(TimedNotice, OkBeforeTheTimeOutGivesZeroUnderTheDefaultCaption) {
    BoxDriver driver(QMessageBox::Ok);
    const int result = timed_notice(gb(u"下载完毕"), std::nullopt, std::nullopt, nullptr);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(driver.seen());
    EXPECT_EQ(driver.seen()->title, QStringLiteral("友情提醒"));
    EXPECT_EQ(driver.seen()->icon, QMessageBox::NoIcon);
    EXPECT_EQ(driver.seen()->buttons[0].second, QStringLiteral("确定"));
}

TEST(TimedNotice, NoTimeOutWaitsForAButton) {
    // Pressed well after a 0 ms clock would have fired.
    BoxDriver driver(QMessageBox::Ok, 100);
    EXPECT_EQ(timed_notice("x", std::nullopt, std::nullopt, nullptr, 0), 0);
}

TEST(TimedNotice, TextIsNeverMarkup) {
    BoxDriver driver(QMessageBox::Ok);
    timed_notice("<b>bold</b> & <a href='x'>link</a>", std::nullopt, std::nullopt, nullptr, 2000);
    ASSERT_TRUE(driver.seen());
    EXPECT_EQ(driver.seen()->format, Qt::PlainText);
    EXPECT_EQ(driver.seen()->text, QStringLiteral("<b>bold</b> & <a href='x'>link</a>"));
}

struct StyleCase {
    int style;
    std::vector<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton press;
    int result;
    QMessageBox::Icon icon;
};

class TimedNoticeStyle : public ::testing::TestWithParam<StyleCase> {};

TEST_P(TimedNoticeStyle, ButtonsIconAndResult) {
    const StyleCase& c = GetParam();
    BoxDriver driver(c.press);
    EXPECT_EQ(timed_notice("?", c.style, std::nullopt, nullptr, 5000), c.result);
    ASSERT_TRUE(driver.seen());
    std::vector<QMessageBox::StandardButton> shown;
    for (const auto& button : driver.seen()->buttons) {
        shown.push_back(button.first);
    }
    std::vector<QMessageBox::StandardButton> expected = c.buttons;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(driver.seen()->icon, c.icon);
}

using B = QMessageBox;
INSTANTIATE_TEST_SUITE_P(
    ClassicFlags, TimedNoticeStyle,
    ::testing::Values(StyleCase{0, {B::Ok}, B::Ok, 0, B::NoIcon},
                      StyleCase{1, {B::Ok, B::Cancel}, B::Cancel, 1, B::NoIcon},
                      StyleCase{2, {B::Abort, B::Retry, B::Ignore}, B::Abort, 2, B::NoIcon},
                      StyleCase{2, {B::Abort, B::Retry, B::Ignore}, B::Retry, 3, B::NoIcon},
                      StyleCase{2, {B::Abort, B::Retry, B::Ignore}, B::Ignore, 4, B::NoIcon},
                      StyleCase{3, {B::Yes, B::No, B::Cancel}, B::Yes, 5, B::NoIcon},
                      StyleCase{0x14, {B::Yes, B::No}, B::No, 6, B::Critical},
                      StyleCase{0x25, {B::Retry, B::Cancel}, B::Retry, 3, B::Question},
                      StyleCase{0x30, {B::Ok}, B::Ok, 0, B::Warning},
                      StyleCase{0x41, {B::Ok, B::Cancel}, B::Ok, 0, B::Information},
                      // Unknown button sets fall back to one OK button.
                      StyleCase{0x0F, {B::Ok}, B::Ok, 0, B::NoIcon}));

TEST(TimedNotice, DefaultButtonFlagsPickTheButton) {
    const struct {
        int style;
        QMessageBox::StandardButton expected;
    } cases[] = {{3, B::Yes}, {0x103, B::No}, {0x203, B::Cancel}, {0x301, B::Ok}};
    for (const auto& c : cases) {
        BoxDriver driver(B::Cancel);
        timed_notice("?", c.style, std::nullopt, nullptr, 5000);
        ASSERT_TRUE(driver.seen());
        EXPECT_EQ(driver.seen()->default_button, c.expected) << "style " << c.style;
    }
}

TEST(TimedNotice, ObserverRecordsWithoutShowing) {
    ScopedNoticeRecorder recorder(5);
    BoxDriver driver(B::Ok);
    EXPECT_EQ(
        timed_notice(gb(u"搜索内容不可为空"), std::nullopt, gb(u"警告："), std::nullopt, 1000), 5);
    EXPECT_EQ(timed_notice(gb(u"下载链接获取失败，请换一首歌尝试")), 5);
    EXPECT_FALSE(driver.seen());
    ASSERT_EQ(recorder.notices().size(), 2u);
    const NoticeRecord& first = recorder.notices()[0];
    EXPECT_EQ(first.text, gb(u"搜索内容不可为空"));
    EXPECT_EQ(first.title, gb(u"警告："));
    EXPECT_EQ(first.style, 0);
    EXPECT_EQ(first.timeout_ms, 1000);
    const NoticeRecord& second = recorder.notices()[1];
    EXPECT_EQ(second.title, gb(u"友情提醒"));
    EXPECT_EQ(second.timeout_ms, 5000);
    EXPECT_EQ(second.owner, nullptr);
}

TEST(TimedNotice, RecorderGoneMeansBoxesShowAgain) {
    {
        ScopedNoticeRecorder recorder;
        EXPECT_EQ(timed_notice("x"), kNoticeTimedOut);
    }
    BoxDriver driver(B::Ok);
    EXPECT_EQ(timed_notice("x", std::nullopt, std::nullopt, nullptr, 2000), 0);
    EXPECT_TRUE(driver.seen());
}

class NoticeOwner : public ::testing::Test {
protected:
    void SetUp() override {
        main_window_.setWindowTitle(QStringLiteral("main"));
        main_window_.resize(200, 100);
        main_window_.show();
        QApplication::processEvents();
    }
    void TearDown() override { main_window_.hide(); }

    QWidget main_window_;
};

TEST_F(NoticeOwner, TheVisibleMainWindowOwnsTheBox) {
    ScopedNoticeRecorder recorder;
    timed_notice("x");
    ASSERT_EQ(recorder.notices().size(), 1u);
    EXPECT_EQ(recorder.notices()[0].owner, &main_window_);
}

TEST_F(NoticeOwner, AnOpenModalDialogWinsOverTheMainWindow) {
    QDialog dialog(&main_window_);
    dialog.open();
    QApplication::processEvents();
    ScopedNoticeRecorder recorder;
    timed_notice("x");
    ASSERT_EQ(recorder.notices().size(), 1u);
    EXPECT_EQ(recorder.notices()[0].owner, &dialog);
    dialog.reject();
}

TEST_F(NoticeOwner, AGivenNullOwnerMeansNone) {
    ScopedNoticeRecorder recorder;
    timed_notice("x", std::nullopt, std::nullopt, nullptr);
    ASSERT_EQ(recorder.notices().size(), 1u);
    EXPECT_EQ(recorder.notices()[0].owner, nullptr);
}

TEST_F(NoticeOwner, TheRealBoxIsModalOverItsOwner) {
    BoxDriver driver(B::Ok);
    EXPECT_EQ(timed_notice("x", std::nullopt, std::nullopt, std::nullopt, 2000), 0);
    ASSERT_TRUE(driver.seen());
    EXPECT_EQ(driver.seen()->parent, &main_window_);
    EXPECT_EQ(driver.seen()->modality, Qt::WindowModal);
}

TEST_F(NoticeOwner, OwnerDestroyedWhileTheBoxIsShown) {
    auto* owner = new QWidget;
    owner->resize(100, 50);
    owner->show();
    QPointer<QWidget> watch(owner);
    QTimer::singleShot(30, owner, [owner] { owner->deleteLater(); });
    EXPECT_EQ(timed_notice("x", std::nullopt, std::nullopt, owner, 3000), kNoticeTimedOut);
    QApplication::processEvents();
    EXPECT_TRUE(watch.isNull());
    EXPECT_EQ(visible_box(), nullptr);
}

TEST(FindProcessWindow, NothingVisibleGivesNone) {
    EXPECT_EQ(find_process_window(QCoreApplication::applicationPid(), 30), nullptr);
    EXPECT_EQ(find_process_window(QCoreApplication::applicationPid() + 1, 1000), nullptr);
}

TEST(FindProcessWindow, AWindowShownDuringTheSearchIsFound) {
    QWidget late;
    late.resize(100, 50);
    QTimer::singleShot(30, &late, [&late] { late.show(); });
    EXPECT_EQ(find_process_window(QCoreApplication::applicationPid(), 5000), &late);
}

} // namespace
} // namespace zorvik
