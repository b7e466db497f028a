#include "app/main_window.h"
#include "music/download_window.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace zorvik {
namespace {

struct ControlCase {
    const char16_t* name;
    QRect place;
    const char16_t* caption;
    int font;
};

const ControlCase kControls[] = {
    {u"标签1", {4, 0, 92, 40}, u"下载地址：", 20},     {u"编辑框1", {6, 38, 360, 34}, nullptr, 20},
    {u"标签2", {8, 80, 88, 32}, u"保存位置：", 20},    {u"编辑框2", {8, 110, 256, 40}, nullptr, 19},
    {u"按钮1", {280, 110, 88, 40}, u"打开文件夹", 16}, {u"按钮2", {23, 167, 150, 40}, u"下载", 20},
    {u"按钮3", {202, 167, 150, 40}, u"退出", 20},
};

// The layout tests need no song: empty pending values, no save folder.
const DownloadState kNoSong;

QString caption_of(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    return {};
}

TEST(DownloadWindowTest, ControlsSitWhereTheLayoutPutsThem) {
    DownloadWindow window(kNoSong, QString());
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_EQ(window.size(), QSize(380, 250));
    EXPECT_EQ(window.pos(), QPoint(50, 50));
    EXPECT_TRUE(window.isModal());
    for (const ControlCase& c : kControls) {
        const QString name = QString::fromUtf16(c.name);
        SCOPED_TRACE(name.toStdString());
        auto* widget = window.findChild<QWidget*>(name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), &window);
        EXPECT_EQ(widget->geometry(), c.place);
        EXPECT_EQ(widget->font().pixelSize(), c.font);
        if (c.caption != nullptr) {
            EXPECT_EQ(caption_of(widget), QString::fromUtf16(c.caption));
        }
    }
    EXPECT_NE(window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框1")), nullptr);
    EXPECT_NE(window.findChild<QLineEdit*>(QStringLiteral("编辑框2")), nullptr);
}

TEST(DownloadWindowTest, SaveDialogSettings) {
    DownloadWindow window(kNoSong, QString());
    auto* dialog = window.findChild<QFileDialog*>(QStringLiteral("通用对话框1"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("保存文件到："));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("*")});
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("mp3"));
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST(DownloadWindowTest, AddressBoxTakesNoFocusNorTyping) {
    DownloadWindow window(kNoSong, QString());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* address = window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框1"));
    auto* save_place = window.findChild<QLineEdit*>(QStringLiteral("编辑框2"));
    ASSERT_TRUE(address && save_place);
    address->setPlainText(QStringLiteral("https://example.invalid/song.mp3"));

    address->setFocus();
    EXPECT_FALSE(address->hasFocus());
    QTest::mouseClick(address->viewport(), Qt::LeftButton);
    QTest::keyClicks(address, QStringLiteral("typed"));
    EXPECT_EQ(address->toPlainText(), QStringLiteral("https://example.invalid/song.mp3"));

    save_place->setFocus();
    QTest::keyClicks(save_place, QStringLiteral("/tmp/a.mp3"));
    EXPECT_EQ(save_place->text(), QStringLiteral("/tmp/a.mp3"));
}

TEST(DownloadWindowTest, ExitClosesTheWindow) {
    DownloadWindow window(kNoSong, QString());
    window.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("按钮3")), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

// Clicks go through the window system, where modality is enforced.
void click_through_window(QWidget* target) {
    QWidget* top = target->window();
    const QPoint at = target->mapTo(top, target->rect().center());
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, at);
    QApplication::processEvents();
}

TEST(DownloadWindowTest, MainWindowTakesNoClicksWhileItIsOpen) {
    MainWindow main_window(Endpoints{QStringLiteral("https://127.0.0.1:1/music"),
                                     QStringLiteral("https://127.0.0.1:1/?"),
                                     QStringLiteral("https://127.0.0.1:1/?")});
    main_window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main_window));
    auto* plain = main_window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框2"));
    auto* cipher = main_window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"));
    auto* encrypt = main_window.findChild<QPushButton*>(QStringLiteral("按钮3"));
    plain->setPlainText(QStringLiteral("abc"));

    DownloadWindow download(kNoSong, QString(), &main_window);
    download.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&download));
    click_through_window(encrypt);
    EXPECT_EQ(cipher->toPlainText(), QString());

    QTest::mouseClick(download.findChild<QPushButton*>(QStringLiteral("按钮3")), Qt::LeftButton);
    EXPECT_FALSE(download.isVisible());
    click_through_window(encrypt);
    EXPECT_EQ(cipher->toPlainText(), QStringLiteral("YGFi"));
}

} // namespace
} // namespace zorvik
