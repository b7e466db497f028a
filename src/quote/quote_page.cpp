#include "quote/quote_page.h"

#include "codepage/codepage.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/timed_notice.h"
#include "platform/ui/widgets.h"
#include "web/web_fetch_api.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace zorvik {

namespace {

constexpr int kRadioFont = 16;

struct RadioSpec {
    const char16_t* name;
    const char16_t* caption;
    QRect place; // in its group box
};

// Captions 4 to 9 carry an en dash (U+2013) between blanks; the first one a plain hyphen.
constexpr RadioSpec kCategories[] = {
    {u"单选框3", u"Anime - 动画", {7, 24, 150, 30}},
    {u"单选框4", u"Comic \u2013 漫画", {7, 46, 150, 30}},
    {u"单选框5", u"Game \u2013 游戏", {7, 69, 150, 30}},
    {u"单选框6", u"Novel \u2013 小说", {7, 91, 150, 30}},
    {u"单选框7", u"Myself \u2013 原创", {7, 117, 150, 30}},
    {u"单选框8", u"Internet \u2013 来自网络", {7, 144, 150, 44}},
    {u"单选框9", u"Other \u2013 其他", {7, 183, 150, 30}},
    {u"单选框10", u"任意类型随机取得", {7, 209, 150, 30}},
};

constexpr RadioSpec kFormats[] = {
    {u"单选框11", u"纯净文本", {10, 24, 150, 32}},
    {u"单选框12", u"不进行unicode转码的json文本", {10, 56, 150, 40}},
    {u"单选框13", u"指定选择器(默认.hitokoto)的同步执行函数。", {10, 96, 150, 64}},
    {u"单选框14", u"unicode转码的json文本", {10, 159, 150, 40}},
};

constexpr RadioSpec kCharsets[] = {
    {u"单选框15", u"UTF-8", {17, 28, 128, 24}},
    {u"单选框16", u"GBK", {193, 28, 120, 24}},
};

constexpr RadioSpec kEndpoints[] = {
    {u"单选框17", u"v1", {8, 15, 60, 24}},
    {u"单选框18", u"v2", {88, 15, 60, 24}},
};

// The query pieces, in the order of each group's buttons.
constexpr std::array<const char*, 8> kCategoryPieces = {"c=a&", "c=b&", "c=c&", "c=d&",
                                                        "c=e&", "c=f&", "c=g&", ""};
constexpr std::array<const char*, 4> kFormatPieces = {"encode=text&", "encode=json&", "encode=js&",
                                                      ""};
constexpr std::array<const char*, 2> kCharsetPieces = {"charset=utf-8", "charset=gbk"};

// The piece of the first selected button; empty when none is.
template <std::size_t N>
Text selected_piece(const std::array<QRadioButton*, N>& buttons,
                    const std::array<Text, N>& pieces) {
    for (std::size_t i = 0; i < N; ++i) {
        if (buttons[i]->isChecked()) {
            return pieces[i];
        }
    }
    return {};
}

template <std::size_t N> std::array<Text, N> texts(const std::array<const char*, N>& pieces) {
    std::array<Text, N> out;
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = pieces[i];
    }
    return out;
}

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (s.size() - i <= extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

// A status of the 2xx family: the reply is the quote.
bool is_success_status(const Text& status) {
    return status.size() >= 3 && status[0] == '2' && status[1] >= '0' && status[1] <= '9' &&
           status[2] >= '0' && status[2] <= '9';
}

// Keeps the button disabled while its request runs, on every way out.
class DisabledWhileRunning final {
public:
    explicit DisabledWhileRunning(QWidget* widget) : widget_(widget) { widget_->setEnabled(false); }
    ~DisabledWhileRunning() { widget_->setEnabled(true); }
    DisabledWhileRunning(const DisabledWhileRunning&) = delete;
    DisabledWhileRunning& operator=(const DisabledWhileRunning&) = delete;

private:
    QWidget* widget_;
};

template <std::size_t N>
std::array<QRadioButton*, N> add_group(QGroupBox* box, const RadioSpec (&radios)[N],
                                       std::size_t initially_selected) {
    std::array<QRadioButton*, N> buttons{};
    for (std::size_t i = 0; i < N; ++i) {
        buttons[i] =
            add_radio_button(box, QString::fromUtf16(radios[i].name),
                             QString::fromUtf16(radios[i].caption), radios[i].place, kRadioFont);
    }
    buttons[initially_selected]->setChecked(true);
    return buttons;
}

} // namespace

QuotePage::QuotePage(QString primary_endpoint, QString international_endpoint, QWidget* parent)
    : QWidget(parent), primary_endpoint_(std::move(primary_endpoint)),
      international_endpoint_(std::move(international_endpoint)) {
    QGroupBox* category_box =
        add_group_box(this, QStringLiteral("分组框1"), QStringLiteral("一言分类（c）"),
                      QRect(8, 27, 167, 248), 19);
    QGroupBox* format_box =
        add_group_box(this, QStringLiteral("分组框2"), QStringLiteral("格式设置（encode）"),
                      QRect(173, 27, 177, 248), 19);
    QGroupBox* charset_box =
        add_group_box(this, QStringLiteral("分组框3"), QStringLiteral("编码设置（charset）"),
                      QRect(8, 274, 343, 57), 19);
    QGroupBox* endpoint_box = add_group_box(this, QStringLiteral("分组框4"), QString(),
                                            QRect(7, 330, 152, 48), kRadioFont);

    category_buttons_ = add_group(category_box, kCategories, 7);
    format_buttons_ = add_group(format_box, kFormats, 0);
    charset_buttons_ = add_group(charset_box, kCharsets, 0);
    endpoint_buttons_ = add_group(endpoint_box, kEndpoints, 0);

    fetch_button_ = add_button(this, QStringLiteral("按钮6"), QStringLiteral("获取"),
                               QRect(167, 336, 184, 40), 19);
    add_label(this, QStringLiteral("透明标签7"), QStringLiteral("自动复制到剪切板"),
              QRect(8, 388, 343, 32), 20);

    connect(fetch_button_, &QPushButton::clicked, this, &QuotePage::fetch_quote);
}

Text QuotePage::quote_category_param() const {
    return selected_piece(category_buttons_, texts(kCategoryPieces));
}

Text QuotePage::quote_format_param() const {
    return selected_piece(format_buttons_, texts(kFormatPieces));
}

Text QuotePage::quote_charset_param() const {
    return selected_piece(charset_buttons_, texts(kCharsetPieces));
}

Text QuotePage::quote_endpoint() const {
    return selected_piece(endpoint_buttons_,
                          std::array<Text, 2>{from_qstring(primary_endpoint_),
                                              from_qstring(international_endpoint_)});
}

void QuotePage::fetch_quote() {
    const Text url =
        quote_endpoint() + quote_category_param() + quote_format_param() + quote_charset_param();
    Text status;
    Text reply;
    {
        DisabledWhileRunning busy(fetch_button_);
        reply = web_fetch_api(url, 0, std::nullopt, nullptr, nullptr, std::nullopt, nullptr,
                              std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                              std::nullopt, std::nullopt, nullptr, &status);
    }
    // The reply is UTF-8 text; one that is not (the service's GBK answer) is already in the
    // program's code page, and decoding it as UTF-8 would garble it.
    const Text quote = is_utf8(reply) ? utf8_to_ansi(reply) : reply;
    if (!is_success_status(status)) {
        timed_notice(from_qstring(QStringLiteral("获取失败：")) + status);
        return;
    }
    if (quote.empty()) {
        timed_notice(from_qstring(QStringLiteral("获取失败：服务器没有返回内容")));
        return;
    }
    if (!set_clipboard_text(quote)) {
        timed_notice(from_qstring(QStringLiteral("无法写入剪切板")));
    }
}

} // namespace zorvik
