#include "platform/ui/widgets.h"

#include "codepage/codepage.h"

#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QTextOption>

namespace zorvik {

namespace {

constexpr int kOneLine = Qt::AlignLeft | Qt::AlignVCenter;
constexpr int kWrapped = kOneLine | Qt::TextWordWrap;

// A caption stays on one line while its ink fits the box. A full-width colon's blank right half
// may run past the edge, as it did in the layout this program was first drawn with ("搜索："
// at 20 px in a 56 px label); wrapping there would split a caption that is plainly readable.
bool ink_fits_one_line(const QFontMetrics& metrics, const QString& text, int width) {
    const QRect ink = metrics.tightBoundingRect(text);
    return ink.isEmpty() || ink.x() + ink.width() <= width;
}

int caption_flags(const QFontMetrics& metrics, const QString& text, int width) {
    return ink_fits_one_line(metrics, text, width) ? kOneLine : kWrapped;
}

void place_control(QWidget* control, const QString& name, const QRect& place, int font_pixels) {
    control->setObjectName(name);
    control->setFont(ui_font(font_pixels));
    control->setGeometry(place);
}

// For the controls that take their caption when they are made.
template <typename Control>
Control* add_captioned(QWidget* parent, const QString& name, const QString& caption,
                       const QRect& place, int font_pixels) {
    auto* control = new Control(caption, parent);
    place_control(control, name, place, font_pixels);
    return control;
}

bool text_fits(const QFontMetrics& metrics, const QRect& box, int flags, const QString& text) {
    if ((flags & Qt::TextWordWrap) == 0) {
        return ink_fits_one_line(metrics, text, box.width()) && metrics.height() <= box.height();
    }
    const QRect needed = metrics.boundingRect(box, flags, text);
    return needed.width() <= box.width() && needed.height() <= box.height();
}

} // namespace

QFont ui_font(int pixel_size) {
    QFont font;
    // The first face is the one the layout was drawn with; the others stand in for it on Linux.
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(pixel_size > 0 ? pixel_size : 16);
    font.setWeight(QFont::Normal);
    return font;
}

WrappingRadioButton::WrappingRadioButton(const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent) {}

QRect WrappingRadioButton::caption_rect() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
}

bool WrappingRadioButton::caption_fits() const {
    const QRect caption = caption_rect();
    return text_fits(fontMetrics(), caption, caption_flags(fontMetrics(), text(), caption.width()),
                     text());
}

void WrappingRadioButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);

    QStyleOptionButton indicator = option;
    indicator.rect = style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, this);
    painter.drawPrimitive(QStyle::PE_IndicatorRadioButton, indicator);

    const QRect caption = caption_rect();
    const int flags = caption_flags(fontMetrics(), text(), caption.width());
    style()->drawItemText(&painter, caption, flags, option.palette,
                          option.state & QStyle::State_Enabled, text(), QPalette::WindowText);

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect =
            fontMetrics().boundingRect(caption, flags, text()).adjusted(-1, 0, 1, 0) & rect();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool WrappingRadioButton::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

QLabel* add_label(QWidget* parent, const QString& name, const QString& caption, const QRect& place,
                  int font_pixels) {
    auto* label = new QLabel(parent);
    // Captions are plain text: nothing in them is markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Drawn over whatever is behind it, like the transparent labels of the original layout.
    label->setAutoFillBackground(false);
    place_control(label, name, place, font_pixels);
    label->setWordWrap(!ink_fits_one_line(label->fontMetrics(), caption, place.width()));
    return label;
}

QPushButton* add_button(QWidget* parent, const QString& name, const QString& caption,
                        const QRect& place, int font_pixels) {
    return add_captioned<QPushButton>(parent, name, caption, place, font_pixels);
}

WrappingRadioButton* add_radio_button(QWidget* parent, const QString& name, const QString& caption,
                                      const QRect& place, int font_pixels) {
    return add_captioned<WrappingRadioButton>(parent, name, caption, place, font_pixels);
}

QGroupBox* add_group_box(QWidget* parent, const QString& name, const QString& title,
                         const QRect& place, int font_pixels) {
    return add_captioned<QGroupBox>(parent, name, title, place, font_pixels);
}

QLineEdit* add_line_edit(QWidget* parent, const QString& name, const QRect& place,
                         int font_pixels) {
    auto* line = new QLineEdit(parent);
    place_control(line, name, place, font_pixels);
    return line;
}

QPlainTextEdit* add_text_box(QWidget* parent, const QString& name, const QRect& place,
                             int font_pixels) {
    auto* box = new QPlainTextEdit(parent);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Anywhere, not at word boundaries: Qt lays out a long run without a break opportunity (a
    // cipher text, an address) in quadratic time when it looks for word boundaries first, and
    // a pasted 300 KB run would freeze the window for seconds.
    box->setWordWrapMode(QTextOption::WrapAnywhere);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    place_control(box, name, place, font_pixels);
    return box;
}

bool caption_fits(const QLabel& label) {
    return text_fits(label.fontMetrics(), label.contentsRect(),
                     label.wordWrap() ? kWrapped : kOneLine, label.text());
}

bool caption_fits(const QPushButton& button) {
    // A push button keeps a few pixels of bevel on each side of its one-line caption.
    const QFontMetrics metrics = button.fontMetrics();
    return ink_fits_one_line(metrics, button.text(), button.width() - 8) &&
           metrics.height() <= button.height();
}

bool caption_fits(const QGroupBox& box) {
    QStyleOptionGroupBox option;
    option.initFrom(&box);
    option.text = box.title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const QRect label =
        box.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &box);
    return ink_fits_one_line(box.fontMetrics(), box.title(), box.width() - label.left());
}

Text box_text(const QPlainTextEdit& box) {
    return replace_all(from_qstring(box.toPlainText()), "\n", "\r\n");
}

void set_box_text(QPlainTextEdit& box, const Text& text) {
    box.setPlainText(to_qstring(replace_all(text, "\r\n", "\n")));
}

Text line_text(const QLineEdit& line) {
    return from_qstring(line.text());
}

void set_line_text(QLineEdit& line, const Text& text) {
    line.setText(to_qstring(text));
}

ScopedDisable::ScopedDisable(QWidget* control) : control_(control) {
    if (control_ != nullptr) {
        was_enabled_ = control_->isEnabled();
        had_focus_ = control_->hasFocus();
        control_->setEnabled(false);
    }
}

ScopedDisable::~ScopedDisable() {
    if (control_ == nullptr) {
        return;
    }
    control_->setEnabled(was_enabled_);
    if (had_focus_ && was_enabled_) {
        control_->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace zorvik
