#pragma once

// The quote page aimed at one server, shown, with "earlier" on the clipboard, after one press
// of "获取"; the notices of that press are recorded. The press happens only when the clipboard
// took "earlier", which a test asserts first.

#include "platform/ui/clipboard.h"
#include "platform/ui/timed_notice.h"
#include "quote/quote_page.h"

#include <QPushButton>
#include <QString>
#include <QTest>

#include <optional>
#include <string>
#include <vector>

namespace zorvik::test {

class QuotePress final {
public:
    explicit QuotePress(const std::string& url) : page_(QString::fromStdString(url), QString()) {
        page_.show();
        clipboard_set_ = set_clipboard_text("earlier");
        if (clipboard_set_) {
            notices_.emplace();
            QTest::mouseClick(button(), Qt::LeftButton);
        }
    }
    QuotePress(const QuotePress&) = delete;
    QuotePress& operator=(const QuotePress&) = delete;

    bool clipboard_set() const { return clipboard_set_; }
    const std::vector<NoticeRecord>& notices() const {
        static const std::vector<NoticeRecord> none;
        return notices_ ? notices_->notices() : none;
    }
    QPushButton* button() const { return page_.findChild<QPushButton*>(QStringLiteral("按钮6")); }

private:
    QuotePage page_;
    bool clipboard_set_ = false;
    std::optional<ScopedNoticeRecorder> notices_;
};

} // namespace zorvik::test
