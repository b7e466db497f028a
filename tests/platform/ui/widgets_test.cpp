#include "platform/ui/widgets.h"

#include "codepage/codepage.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace zorvik {
namespace {

class Widgets : public ::testing::Test {
protected:
    void SetUp() override {
        parent_.resize(400, 300);
        parent_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent_));
    }
    QWidget parent_;
};

TEST_F(Widgets, FontIsTheFaceListAtAPixelHeight) {
    const QFont font = ui_font(19);
    EXPECT_EQ(font.pixelSize(), 19);
    EXPECT_EQ(font.weight(), QFont::Normal);
    ASSERT_GE(font.families().size(), 3);
    EXPECT_EQ(font.families().front(), QStringLiteral("微软雅黑"));
    EXPECT_TRUE(font.families().contains(QStringLiteral("WenQuanYi Micro Hei")));
}

TEST_F(Widgets, ControlsGetNamePlaceAndFont) {
    QPushButton* button = add_button(&parent_, QStringLiteral("按钮9"), QStringLiteral("获取"),
                                     QRect(10, 20, 88, 32), 19);
    EXPECT_EQ(button->parent(), &parent_);
    EXPECT_EQ(parent_.findChild<QPushButton*>(QStringLiteral("按钮9")), button);
    EXPECT_EQ(button->geometry(), QRect(10, 20, 88, 32));
    EXPECT_EQ(button->font().pixelSize(), 19);
    EXPECT_TRUE(caption_fits(*button));
}

TEST_F(Widgets, RadioCaptionWrapsInsideItsBox) {
    const QString caption = QStringLiteral("指定选择器(默认.hitokoto)的同步执行函数。");
    WrappingRadioButton* tall =
        add_radio_button(&parent_, QStringLiteral("tall"), caption, QRect(0, 0, 150, 64), 16);
    WrappingRadioButton* flat =
        add_radio_button(&parent_, QStringLiteral("flat"), caption, QRect(0, 100, 150, 24), 16);
    EXPECT_TRUE(tall->caption_fits());
    EXPECT_FALSE(flat->caption_fits());
    // The caption lies right of the indicator, inside the box.
    EXPECT_GT(tall->caption_rect().left(), 10);
    EXPECT_LE(tall->caption_rect().right(), tall->rect().right());
}

TEST_F(Widgets, RadioTakesAClickAnywhereInItsBox) {
    WrappingRadioButton* first =
        add_radio_button(&parent_, QStringLiteral("a"),
                         QStringLiteral("不进行unicode转码的json文本"), QRect(0, 0, 150, 40), 16);
    WrappingRadioButton* second = add_radio_button(
        &parent_, QStringLiteral("b"), QStringLiteral("纯净文本"), QRect(0, 50, 150, 32), 16);
    second->setChecked(true);
    // Far right, on the wrapped second line: a plain QRadioButton would ignore this click.
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(145, 35));
    EXPECT_TRUE(first->isChecked());
    EXPECT_FALSE(second->isChecked());
    first->setEnabled(false);
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(140, 16));
    EXPECT_TRUE(second->isChecked());
}

TEST_F(Widgets, LabelsStayOnOneLineWhileTheirInkFits) {
    // A full-width colon's blank half may run past the box; its ink does not.
    QLabel* colon =
        add_label(&parent_, QStringLiteral("c"), QStringLiteral("搜索："), QRect(0, 0, 56, 32), 20);
    EXPECT_FALSE(colon->wordWrap());
    EXPECT_TRUE(caption_fits(*colon));

    QLabel* longer =
        add_label(&parent_, QStringLiteral("l"), QStringLiteral("做这个软件的主要原因就是闲的蛋疼"),
                  QRect(0, 40, 120, 100), 16);
    EXPECT_TRUE(longer->wordWrap());
    EXPECT_TRUE(caption_fits(*longer));
    longer->resize(120, 20);
    EXPECT_FALSE(caption_fits(*longer));
    EXPECT_EQ(longer->textFormat(), Qt::PlainText);
}

TEST_F(Widgets, BoxTextUsesCrLfAndKeepsEveryCharacter) {
    QPlainTextEdit* box = add_text_box(&parent_, QStringLiteral("box"), QRect(0, 0, 200, 100), 16);
    box->setPlainText(QStringLiteral("第一行\n第二行 😀"));
    const Text text = box_text(*box);
    EXPECT_EQ(text, from_qstring(QStringLiteral("第一行\r\n第二行 😀")));
    set_box_text(*box, text);
    EXPECT_EQ(box->toPlainText(), QStringLiteral("第一行\n第二行 😀"));

    QLineEdit* line = add_line_edit(&parent_, QStringLiteral("line"), QRect(0, 0, 200, 30), 16);
    set_line_text(*line, from_qstring(QStringLiteral("音乐 𠀀")));
    EXPECT_EQ(line->text(), QStringLiteral("音乐 𠀀"));
    EXPECT_EQ(line_text(*line), from_qstring(QStringLiteral("音乐 𠀀")));
}

TEST_F(Widgets, ScopedDisableRestoresStateAndFocus) {
    QPushButton* button =
        add_button(&parent_, QStringLiteral("b"), QStringLiteral("解密"), QRect(0, 0, 88, 32), 19);
    add_button(&parent_, QStringLiteral("other"), QStringLiteral("x"), QRect(0, 40, 88, 32), 19);
    parent_.activateWindow();
    button->setFocus();
    QApplication::processEvents();
    const bool focus_before = button->hasFocus();
    {
        const ScopedDisable busy(button);
        EXPECT_FALSE(button->isEnabled());
    }
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->hasFocus(), focus_before);

    button->setEnabled(false);
    { const ScopedDisable busy(button); }
    EXPECT_FALSE(button->isEnabled());

    auto* doomed = new QPushButton(&parent_);
    {
        const ScopedDisable busy(doomed);
        delete doomed;
    }
    SUCCEED();
}

} // namespace
} // namespace zorvik
