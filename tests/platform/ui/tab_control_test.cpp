#include "platform/ui/tab_control.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

namespace zorvik {
namespace {

class TabControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_.resize(400, 480);
        tabs_ = new TabControl(27, &window_);
        tabs_->setGeometry(9, 7, 359, 433);
        for (const char* caption : {"one", "two", "three"}) {
            auto* page = new QWidget;
            auto* control = new QLabel(QString::fromLatin1(caption), page);
            control->setObjectName(QString::fromLatin1(caption));
            control->setGeometry(31, 45, 100, 30);
            tabs_->add_page(page, QString::fromLatin1(caption));
        }
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    QWidget window_;
    TabControl* tabs_ = nullptr;
};

TEST_F(TabControlTest, PagesShareTheControlsCoordinates) {
    for (int i = 0; i < tabs_->count(); ++i) {
        tabs_->set_current_index(i);
        const QWidget* control = tabs_->page(i)->findChild<QLabel*>();
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->mapTo(tabs_, QPoint(0, 0)), QPoint(31, 45));
        EXPECT_EQ(tabs_->page(i)->geometry(), tabs_->rect());
    }
    EXPECT_EQ(tabs_->tab_bar()->height(), 27);
    EXPECT_LE(tabs_->pane_rect().top(), 27);
}

TEST_F(TabControlTest, OnlyTheCurrentPageIsVisible) {
    EXPECT_EQ(tabs_->current_index(), 0);
    QSignalSpy changed(tabs_, &TabControl::current_changed);
    tabs_->set_current_index(2);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(tabs_->current_page(), tabs_->page(2));
    EXPECT_FALSE(tabs_->page(0)->isVisible());
    EXPECT_TRUE(tabs_->page(2)->isVisible());
    tabs_->set_current_index(7);
    tabs_->set_current_index(-1);
    EXPECT_EQ(tabs_->current_index(), 2);
    EXPECT_EQ(tabs_->page(7), nullptr);
}

TEST_F(TabControlTest, TheStripStaysClickableAbovePages) {
    const QRect second = tabs_->tab_bar()->tabRect(1);
    EXPECT_EQ(tabs_->childAt(second.center()), tabs_->tab_bar());
    QTest::mouseClick(tabs_->tab_bar(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(tabs_->current_index(), 1);
    EXPECT_EQ(tabs_->tab_text(1), QStringLiteral("two"));
}

TEST_F(TabControlTest, ControlTabCycles) {
    QTest::keyClick(tabs_, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs_->current_index(), 1);
    QTest::keyClick(tabs_, Qt::Key_PageUp, Qt::ControlModifier);
    QTest::keyClick(tabs_, Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(tabs_->current_index(), 2);
}

TEST_F(TabControlTest, ADeletedPageLeavesNoDanglingPointer) {
    QWidget* doomed = tabs_->page(1);
    delete doomed;
    EXPECT_EQ(tabs_->page(1), nullptr);
    tabs_->set_current_index(1);
    tabs_->set_current_index(0);
    EXPECT_EQ(tabs_->current_index(), 0);
}

} // namespace
} // namespace zorvik
