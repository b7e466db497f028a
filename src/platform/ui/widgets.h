#pragma once

// Small building blocks shared by the pages: the program's font, controls made at a fixed place
// with their control name, a radio button whose caption wraps, and the Text boundary of the
// edit boxes.

#include "text/text.h"

#include <QPointer>
#include <QRadioButton>
#include <QRect>
#include <QString>

class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPaintEvent;
class QPlainTextEdit;
class QPushButton;

namespace zorvik {

// The program's face list at a character height in pixels, regular weight.
QFont ui_font(int pixel_size);

// A radio button whose caption wraps inside its box instead of running past it, and which
// takes a click anywhere in its box. The indicator and the caption are centred vertically.
class WrappingRadioButton final : public QRadioButton {
    Q_OBJECT
public:
    explicit WrappingRadioButton(const QString& caption, QWidget* parent = nullptr);

    // Where the caption is drawn, in the button's coordinates.
    QRect caption_rect() const;
    // Whether the wrapped caption fits in caption_rect() with the current font.
    bool caption_fits() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

// Controls made as children of `parent` at `place` (the parent's coordinates), named `name`
// and using ui_font(font_pixels). The parent owns them.
QLabel* add_label(QWidget* parent, const QString& name, const QString& caption, const QRect& place,
                  int font_pixels);
QPushButton* add_button(QWidget* parent, const QString& name, const QString& caption,
                        const QRect& place, int font_pixels);
WrappingRadioButton* add_radio_button(QWidget* parent, const QString& name, const QString& caption,
                                      const QRect& place, int font_pixels);
QGroupBox* add_group_box(QWidget* parent, const QString& name, const QString& title,
                         const QRect& place, int font_pixels);
QLineEdit* add_line_edit(QWidget* parent, const QString& name, const QRect& place, int font_pixels);
// Multi-line, wrapping anywhere at the box's width, with a vertical scroll bar.
QPlainTextEdit* add_text_box(QWidget* parent, const QString& name, const QRect& place,
                             int font_pixels);

// Whether a label's or button's caption fits its box at the current font: on one line while
// its ink fits, wrapped (labels) otherwise.
bool caption_fits(const QLabel& label);
bool caption_fits(const QPushButton& button);
bool caption_fits(const QGroupBox& box);

// The Text of a multi-line box breaks lines with CR LF, as the edit controls this program
// was first written for did, so texts keep the same bytes (and ciphers) they had there.
Text box_text(const QPlainTextEdit& box);
void set_box_text(QPlainTextEdit& box, const Text& text);
Text line_text(const QLineEdit& line);
void set_line_text(QLineEdit& line, const Text& text);

// Disables a control for the guard's lifetime, so a handler that pumps events cannot be
// started again from the same control; gives the focus back if the control had it.
class ScopedDisable final {
public:
    explicit ScopedDisable(QWidget* control);
    ~ScopedDisable();
    ScopedDisable(const ScopedDisable&) = delete;
    ScopedDisable& operator=(const ScopedDisable&) = delete;

private:
    QPointer<QWidget> control_;
    bool was_enabled_ = false;
    bool had_focus_ = false;
};

} // namespace zorvik
