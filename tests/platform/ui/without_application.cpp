// No QApplication exists in this executable: the notice and the clipboard must refuse cleanly.
#include "codepage/codepage.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/timed_notice.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace zorvik {
namespace {

TEST(WithoutApplication, NoticeCannotBeShown) {
    EXPECT_EQ(timed_notice("x"), kNoticeCannotShow);
    EXPECT_EQ(timed_notice("x", 4, Text("t"), nullptr, 10), kNoticeCannotShow);
    EXPECT_EQ(find_process_window(QCoreApplication::applicationPid(), 50), nullptr);
}

TEST(WithoutApplication, ObserverStillSeesTheNotice) {
    ScopedNoticeRecorder recorder(7);
    EXPECT_EQ(timed_notice("x"), 7);
    ASSERT_EQ(recorder.notices().size(), 1u);
    EXPECT_EQ(recorder.notices()[0].owner, nullptr);
}

TEST(WithoutApplication, NoClipboard) {
    EXPECT_FALSE(set_clipboard_text("abc"));
    EXPECT_EQ(clipboard_text(), "");
}

TEST(WithoutApplication, CoreApplicationIsNotEnough) {
    int argc = 1;
    char name[] = "without_application";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    EXPECT_EQ(timed_notice("x", std::nullopt, std::nullopt, std::nullopt, 10), kNoticeCannotShow);
    EXPECT_FALSE(set_clipboard_text("abc"));
}

} // namespace
} // namespace zorvik
