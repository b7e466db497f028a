#pragma once

// The page "获取一言": four groups of radio buttons choose a quote's category, format,
// character set and endpoint; "获取" fetches one quote to the clipboard.

#include "text/text.h"

#include <QString>
#include <QWidget>

#include <array>

class QPushButton;
class QRadioButton;

namespace zorvik {

class QuotePage final : public QWidget {
    Q_OBJECT
public:
    // The quote service's two https endpoints, each ending in "/?".
    explicit QuotePage(QString primary_endpoint, QString international_endpoint,
                       QWidget* parent = nullptr);

    // The query piece (or, for the endpoint, the address) of the selected button of each
    // group; empty when none is selected.
    Text quote_category_param() const;
    Text quote_format_param() const;
    Text quote_charset_param() const;
    Text quote_endpoint() const;

private:
    // Click of 按钮6 "获取": fetches the quote and puts it on the clipboard. A failure leaves
    // the clipboard as it was and says why.
    void fetch_quote();

    QString primary_endpoint_;
    QString international_endpoint_;
    std::array<QRadioButton*, 8> category_buttons_{};
    std::array<QRadioButton*, 4> format_buttons_{};
    std::array<QRadioButton*, 2> charset_buttons_{};
    std::array<QRadioButton*, 2> endpoint_buttons_{};
    QPushButton* fetch_button_;
};

} // namespace zorvik
