#include "app/main_window.h"

#include "platform/ui/tab_control.h"
#include "platform/ui/widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace zorvik {
namespace {

const Endpoints kLocalEndpoints{QStringLiteral("https://127.0.0.1:1/music"),
                                QStringLiteral("https://127.0.0.1:1/?"),
                                QStringLiteral("https://127.0.0.1:2/?")};

QString caption_of(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
        return box->title();
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
        return line->text();
    }
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget)) {
        return text->toPlainText();
    }
    return {};
}

// Whether the caption is shown whole in its box with the fonts installed here.
bool caption_shown_whole(const QWidget* widget) {
    if (const auto* radio = qobject_cast<const WrappingRadioButton*>(widget)) {
        return radio->caption_fits();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text().isEmpty() || caption_fits(*label);
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        return caption_fits(*button);
    }
    if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
        return caption_fits(*box);
    }
    return true;
}

// A control of the main window: its page, the box its place is relative to (none: the tab
// control), place, caption and font height.
struct ControlCase {
    const char16_t* name;
    int page;
    const char16_t* relative_to;
    QRect place;
    const char16_t* caption;
    int font;
};

const ControlCase kControls[] = {
    {u"透明标签3", 0, nullptr, {31, 45, 152, 40}, u"未加密的数据：", 20},
    {u"编辑框2", 0, nullptr, {31, 85, 295, 108}, u"", 16},
    {u"按钮3", 0, nullptr, {139, 197, 88, 32}, u"加密", 19},
    {u"按钮4", 0, nullptr, {237, 197, 88, 32}, u"解密", 19},
    {u"透明标签4", 0, nullptr, {31, 230, 192, 40}, u"解密后的数据：", 20},
    {u"编辑框3", 0, nullptr, {31, 269, 295, 124}, u"", 16},

    {u"透明标签5", 1, nullptr, {23, 41, 312, 32}, u"目前仅支持网易云", 19},
    {u"透明标签6", 1, nullptr, {31, 90, 56, 32}, u"搜索：", 20},
    {u"编辑框4", 1, nullptr, {87, 90, 232, 40}, u"", 20},
    {u"单选框1", 1, nullptr, {31, 138, 72, 32}, u"网易云", 16},
    {u"单选框2", 1, nullptr, {107, 138, 92, 32}, u"酷我音乐", 16},
    {u"按钮5", 1, nullptr, {206, 138, 112, 40}, u"搜索", 19},
    {u"超级列表框1", 1, nullptr, {31, 186, 296, 223}, u"", 16},

    {u"分组框1", 2, nullptr, {8, 27, 167, 248}, u"一言分类（c）", 19},
    {u"分组框2", 2, nullptr, {173, 27, 177, 248}, u"格式设置（encode）", 19},
    {u"分组框3", 2, nullptr, {8, 274, 343, 57}, u"编码设置（charset）", 19},
    {u"分组框4", 2, nullptr, {7, 330, 152, 48}, u"", 16},
    {u"按钮6", 2, nullptr, {167, 336, 184, 40}, u"获取", 19},
    {u"透明标签7", 2, nullptr, {8, 388, 343, 32}, u"自动复制到剪切板", 20},
    {u"单选框3", 2, u"分组框1", {7, 24, 150, 30}, u"Anime - 动画", 16},
    {u"单选框4", 2, u"分组框1", {7, 46, 150, 30}, u"Comic \u2013 漫画", 16},
    {u"单选框5", 2, u"分组框1", {7, 69, 150, 30}, u"Game \u2013 游戏", 16},
    {u"单选框6", 2, u"分组框1", {7, 91, 150, 30}, u"Novel \u2013 小说", 16},
    {u"单选框7", 2, u"分组框1", {7, 117, 150, 30}, u"Myself \u2013 原创", 16},
    {u"单选框8", 2, u"分组框1", {7, 144, 150, 44}, u"Internet \u2013 来自网络", 16},
    {u"单选框9", 2, u"分组框1", {7, 183, 150, 30}, u"Other \u2013 其他", 16},
    {u"单选框10", 2, u"分组框1", {7, 209, 150, 30}, u"任意类型随机取得", 16},
    {u"单选框11", 2, u"分组框2", {10, 24, 150, 32}, u"纯净文本", 16},
    {u"单选框12", 2, u"分组框2", {10, 56, 150, 40}, u"不进行unicode转码的json文本", 16},
    {u"单选框13",
     2,
     u"分组框2",
     {10, 96, 150, 64},
     u"指定选择器(默认.hitokoto)的同步执行函数。",
     16},
    {u"单选框14", 2, u"分组框2", {10, 159, 150, 40}, u"unicode转码的json文本", 16},
    {u"单选框15", 2, u"分组框3", {17, 28, 128, 24}, u"UTF-8", 16},
    {u"单选框16", 2, u"分组框3", {193, 28, 120, 24}, u"GBK", 16},
    {u"单选框17", 2, u"分组框4", {8, 15, 60, 24}, u"v1", 16},
    {u"单选框18", 2, u"分组框4", {88, 15, 60, 24}, u"v2", 16},

    {u"图片框1", 3, nullptr, {7, 31, 340, 56}, u"", 16},
    {u"分组框5", 3, nullptr, {7, 89, 344, 88}, u"软件由来", 20},
    {u"透明标签8", 3, u"分组框5", {16, 35, 312, 32}, u"做这个软件的主要原因就是闲的蛋疼", 16},
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
        tabs_ = window_.findChild<TabControl*>(QStringLiteral("高级选择夹1"));
        ASSERT_NE(tabs_, nullptr);
    }

    template <typename T> T* control(const char16_t* name) {
        return window_.findChild<T*>(QString::fromUtf16(name));
    }

    MainWindow window_{kLocalEndpoints};
    TabControl* tabs_ = nullptr;
};

TEST_F(MainWindowTest, OpensOnTheCipherPage) {
    EXPECT_EQ(window_.windowTitle(), QStringLiteral("Zorvik"));
    EXPECT_EQ(window_.pos(), QPoint(50, 50));
    EXPECT_EQ(window_.size(), QSize(378, 482));
    EXPECT_EQ(window_.minimumSize(), window_.maximumSize());

    EXPECT_EQ(tabs_->geometry(), QRect(9, 7, 359, 433));
    EXPECT_EQ(tabs_->font().pixelSize(), 16);
    ASSERT_EQ(tabs_->count(), 4);
    const QStringList captions = {QStringLiteral("文本加密"), QStringLiteral("音乐下载"),
                                  QStringLiteral("获取一言"), QStringLiteral("关于")};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tabs_->tab_text(i), captions[i]);
    }
    EXPECT_EQ(tabs_->current_index(), 0);
    EXPECT_TRUE(control<QWidget>(u"编辑框2")->isVisible());
    EXPECT_FALSE(control<QWidget>(u"编辑框4")->isVisible());
}

TEST_F(MainWindowTest, EveryControlSitsWhereTheLayoutPutsIt) {
    for (const ControlCase& c : kControls) {
        const QString name = QString::fromUtf16(c.name);
        SCOPED_TRACE(name.toStdString());
        QWidget* widget = control<QWidget>(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(tabs_->page(c.page)->isAncestorOf(widget));

        QPoint origin(0, 0); // the reference box's place in the tab control
        if (c.relative_to != nullptr) {
            QWidget* box = control<QWidget>(c.relative_to);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(widget->parentWidget(), box);
            EXPECT_EQ(widget->geometry(), c.place);
            origin = box->mapTo(tabs_, QPoint(0, 0));
        }
        EXPECT_EQ(QRect(widget->mapTo(tabs_, QPoint(0, 0)), widget->size()),
                  c.place.translated(origin));
        EXPECT_EQ(caption_of(widget), QString::fromUtf16(c.caption));
        EXPECT_EQ(widget->font().pixelSize(), c.font);
        EXPECT_TRUE(caption_shown_whole(widget));
    }
}

TEST_F(MainWindowTest, RadioButtonsStartAsTheLayoutSays) {
    const QStringList selected = {QStringLiteral("单选框1"), QStringLiteral("单选框10"),
                                  QStringLiteral("单选框11"), QStringLiteral("单选框15"),
                                  QStringLiteral("单选框17")};
    const QList<QRadioButton*> radios = window_.findChildren<QRadioButton*>();
    EXPECT_EQ(radios.size(), 18);
    for (const QRadioButton* radio : radios) {
        SCOPED_TRACE(radio->objectName().toStdString());
        EXPECT_EQ(radio->isChecked(), selected.contains(radio->objectName()));
        EXPECT_EQ(radio->isEnabled(), radio->objectName() != QStringLiteral("单选框2"));
    }
}

TEST_F(MainWindowTest, RadioGroupsFollowTheirBoxes) {
    tabs_->set_current_index(2);
    QTest::mouseClick(control<QRadioButton>(u"单选框5"), Qt::LeftButton);
    QTest::mouseClick(control<QRadioButton>(u"单选框13"), Qt::LeftButton);
    QTest::mouseClick(control<QRadioButton>(u"单选框18"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>(u"单选框5")->isChecked());
    EXPECT_FALSE(control<QRadioButton>(u"单选框10")->isChecked());
    EXPECT_TRUE(control<QRadioButton>(u"单选框13")->isChecked());
    EXPECT_FALSE(control<QRadioButton>(u"单选框11")->isChecked());
    EXPECT_TRUE(control<QRadioButton>(u"单选框15")->isChecked());
    EXPECT_TRUE(control<QRadioButton>(u"单选框18")->isChecked());
    EXPECT_FALSE(control<QRadioButton>(u"单选框17")->isChecked());

    tabs_->set_current_index(1);
    QTest::mouseClick(control<QRadioButton>(u"单选框2"), Qt::LeftButton);
    EXPECT_TRUE(control<QRadioButton>(u"单选框1")->isChecked());
}

TEST_F(MainWindowTest, ResultListIsAnEmptyReportView) {
    auto* list = control<QTreeWidget>(u"超级列表框1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    ASSERT_EQ(list->columnCount(), 3);
    const struct {
        const char16_t* heading;
        int width;
    } columns[] = {{u"音乐名称", 100}, {u"演唱者", 100}, {u"音乐ID", 80}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list->headerItem()->text(i), QString::fromUtf16(columns[i].heading));
        EXPECT_EQ(list->columnWidth(i), columns[i].width);
    }
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(MainWindowTest, NoMenuBarOnlyTheHiddenPopUp) {
    EXPECT_TRUE(window_.findChildren<QMenuBar*>().isEmpty());
    auto* menu = control<QMenu>(u"选择");
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->isVisible());
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), QStringLiteral("下载"));
}

TEST_F(MainWindowTest, AboutPageShowsTheBanner) {
    auto* picture = control<QLabel>(u"图片框1");
    ASSERT_NE(picture, nullptr);
    const QPixmap banner = picture->pixmap();
    ASSERT_FALSE(banner.isNull());
    EXPECT_EQ(banner.size(), QSize(340, 56));
}

TEST_F(MainWindowTest, ClickingATabShowsItsPage) {
    const QRect tab = tabs_->tab_bar()->tabRect(2);
    QTest::mouseClick(tabs_->tab_bar(), Qt::LeftButton, {}, tab.center());
    EXPECT_EQ(tabs_->current_index(), 2);
    EXPECT_TRUE(control<QWidget>(u"按钮6")->isVisible());
    EXPECT_FALSE(control<QWidget>(u"按钮3")->isVisible());
}

TEST_F(MainWindowTest, CipherButtonsWorkInTheWindow) {
    control<QPlainTextEdit>(u"编辑框2")->setPlainText(QStringLiteral("abc"));
    QTest::mouseClick(control<QPushButton>(u"按钮3"), Qt::LeftButton);
    EXPECT_EQ(control<QPlainTextEdit>(u"编辑框3")->toPlainText(), QStringLiteral("YGFi"));
}

} // namespace
} // namespace zorvik
