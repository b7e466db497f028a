#pragma once

// A tab control whose pages share its own coordinates: a page covers the whole control, tab
// strip included, so a control placed at (x, y) on a page sits at (x, y) from the tab
// control's top-left corner whatever the style makes of the strip. QTabWidget starts its pages
// below a strip of style-dependent height, which would shift every page control.

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QTabBar;

namespace zorvik {

class TabControl final : public QWidget {
    Q_OBJECT
public:
    // `strip_height`: the tab strip's height; pages keep their controls below it.
    explicit TabControl(int strip_height, QWidget* parent = nullptr);

    // Takes ownership of `page`; returns its index. The first page added becomes current.
    int add_page(QWidget* page, const QString& caption);
    int count() const;
    int current_index() const;
    void set_current_index(int index);
    QWidget* page(int index) const;
    QWidget* current_page() const;
    QString tab_text(int index) const;
    QTabBar* tab_bar() const { return tab_bar_; }
    // The framed area below the strip.
    QRect pane_rect() const;

Q_SIGNALS:
    void current_changed(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void show_current(int index);
    void lay_out();

    int strip_height_;
    QTabBar* tab_bar_;
    QList<QPointer<QWidget>> pages_;
};

} // namespace zorvik
