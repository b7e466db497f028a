#include "platform/ui/tab_control.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

#include <algorithm>

namespace zorvik {

namespace {

// Tabs as high as the strip, so the strip never grows into the pages' controls.
class StripTabBar final : public QTabBar {
public:
    StripTabBar(int height, QWidget* parent) : QTabBar(parent), height_(height) {}

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        size.setHeight(height_);
        return size;
    }
    QSize minimumTabSizeHint(int index) const override {
        QSize size = QTabBar::minimumTabSizeHint(index);
        size.setHeight(height_);
        return size;
    }

private:
    int height_;
};

} // namespace

TabControl::TabControl(int strip_height, QWidget* parent)
    : QWidget(parent), strip_height_(std::max(strip_height, 1)),
      tab_bar_(new StripTabBar(strip_height_, this)) {
    tab_bar_->setDrawBase(false);
    tab_bar_->setExpanding(false);
    tab_bar_->setUsesScrollButtons(true);
    connect(tab_bar_, &QTabBar::currentChanged, this, &TabControl::show_current);
}

int TabControl::add_page(QWidget* page, const QString& caption) {
    if (page == nullptr) {
        return -1;
    }
    page->setParent(this);
    page->setGeometry(rect());
    page->setVisible(false);
    pages_.append(page);
    const int index = tab_bar_->addTab(caption);
    tab_bar_->raise();
    lay_out();
    show_current(tab_bar_->currentIndex());
    return index;
}

int TabControl::count() const {
    return tab_bar_->count();
}

int TabControl::current_index() const {
    return tab_bar_->currentIndex();
}

void TabControl::set_current_index(int index) {
    if (index >= 0 && index < count()) {
        tab_bar_->setCurrentIndex(index);
    }
}

QWidget* TabControl::page(int index) const {
    return index >= 0 && index < pages_.size() ? pages_.at(index).data() : nullptr;
}

QWidget* TabControl::current_page() const {
    return page(current_index());
}

QString TabControl::tab_text(int index) const {
    return tab_bar_->tabText(index);
}

QRect TabControl::pane_rect() const {
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    return rect().adjusted(0, std::max(strip_height_ - overlap, 0), 0, 0);
}

void TabControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    lay_out();
}

void TabControl::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.shape = QTabBar::RoundedNorth;
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    option.rect = pane_rect();
    option.tabBarSize = tab_bar_->size();
    option.tabBarRect = tab_bar_->geometry();
    const int current = current_index();
    if (current >= 0) {
        option.selectedTabRect = tab_bar_->tabRect(current).translated(tab_bar_->pos());
    }
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}

void TabControl::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    const bool forward =
        (event->key() == Qt::Key_Tab && control) || (event->key() == Qt::Key_PageDown && control);
    const bool backward =
        (event->key() == Qt::Key_Backtab && control) || (event->key() == Qt::Key_PageUp && control);
    if ((forward || backward) && count() > 1) {
        set_current_index((current_index() + (forward ? 1 : count() - 1)) % count());
        return;
    }
    QWidget::keyPressEvent(event);
}

void TabControl::show_current(int index) {
    for (int i = 0; i < pages_.size(); ++i) {
        if (QWidget* page = pages_.at(i).data()) {
            page->setVisible(i == index);
        }
    }
    update();
    Q_EMIT current_changed(index);
}

void TabControl::lay_out() {
    const int width = std::min(tab_bar_->sizeHint().width(), this->width());
    tab_bar_->setGeometry(0, 0, std::max(width, 0), strip_height_);
    for (const QPointer<QWidget>& page : pages_) {
        if (page != nullptr) {
            page->setGeometry(rect());
        }
    }
}

} // namespace zorvik
