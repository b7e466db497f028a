#include "quote/quote_page.h"

#include "platform/ui/clipboard.h"
#include "platform/ui/timed_notice.h"
#include "support/server/test_server.h"
#include "support/test_text.h"
#include "support/trust_test_ca.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace zorvik {
namespace {

using test::gb;
using test::LocalServer;
using test::Scheme;

// "人生若只如初见。"
const std::string kQuoteUtf8 = "\xE4\xBA\xBA\xE7\x94\x9F\xE8\x8B\xA5\xE5\x8F\xAA\xE5\xA6\x82"
                               "\xE5\x88\x9D\xE8\xA7\x81\xE3\x80\x82";

// The page against two local HTTPS endpoints that answer like the quote service: UTF-8, or
// GBK when charset=gbk is asked for.
class QuotePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::test_certificates().ok) << test::test_certificates().error;
        for (LocalServer* server : {&primary_, &international_}) {
            ASSERT_TRUE(server->ok());
            server->on("", "/", [](const httplib::Request& req, httplib::Response& res) {
                const bool gbk = req.target.find("charset=gbk") != std::string::npos;
                res.set_content(gbk ? gb("人生若只如初见。") : kQuoteUtf8, "text/plain");
            });
        }
        page_ = std::make_unique<QuotePage>(QString::fromStdString(primary_.url("/?")),
                                            QString::fromStdString(international_.url("/?")));
        page_->show();
        ASSERT_TRUE(set_clipboard_text("earlier"));
    }

    void select(const char* name) {
        auto* button = page_->findChild<QRadioButton*>(QString::fromUtf8(name));
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(button->isChecked()) << name;
    }

    QPushButton* fetch_button() const {
        return page_->findChild<QPushButton*>(QStringLiteral("按钮6"));
    }

    void fetch() { QTest::mouseClick(fetch_button(), Qt::LeftButton); }

    test::TrustTestCa trust_ca_;
    LocalServer primary_{Scheme::Https};
    LocalServer international_{Scheme::Https};
    std::unique_ptr<QuotePage> page_;
};

struct QueryCase final {
    const char* what;
    std::vector<const char*> selected;
    bool international;
    const char* query;
};

TEST_F(QuotePageTest, SendsTheChosenQueryToTheChosenEndpointAndCopiesTheQuote) {
    const std::vector<QueryCase> cases = {
        {"the initial choices", {}, false, "encode=text&charset=utf-8"},
        {"game, json, gbk, v2",
         {"单选框5", "单选框12", "单选框16", "单选框18"},
         true,
         "c=c&encode=json&charset=gbk"},
        {"any category, unicode json, v1",
         {"单选框10", "单选框14", "单选框17"},
         false,
         "charset=gbk"},
        {"anime, js, utf-8",
         {"单选框3", "单选框13", "单选框15"},
         false,
         "c=a&encode=js&charset=utf-8"},
    };
    for (const QueryCase& c : cases) {
        for (const char* name : c.selected) {
            select(name);
        }
        ScopedNoticeRecorder notices;
        ASSERT_TRUE(set_clipboard_text("earlier"));
        fetch();
        const LocalServer& hit = c.international ? international_ : primary_;
        const LocalServer& missed = c.international ? primary_ : international_;
        const auto request = hit.last_request();
        ASSERT_TRUE(request) << c.what;
        EXPECT_EQ(request->target, std::string("/?") + c.query) << c.what;
        EXPECT_EQ(request->method, "GET") << c.what;
        EXPECT_EQ(missed.request_count(), 0u) << c.what;
        EXPECT_EQ(clipboard_text(), gb("人生若只如初见。"))
            << c.what << ": the quote in the program's code page, GBK replies too";
        EXPECT_TRUE(notices.notices().empty()) << c.what;
        primary_.clear_requests();
        international_.clear_requests();
    }
}

TEST_F(QuotePageTest, EachGroupGivesThePieceOfItsSelectedButton) {
    EXPECT_EQ(page_->quote_category_param(), "");
    EXPECT_EQ(page_->quote_format_param(), "encode=text&");
    EXPECT_EQ(page_->quote_charset_param(), "charset=utf-8");
    EXPECT_EQ(page_->quote_endpoint(), primary_.url("/?"));
    select("单选框8");
    select("单选框12");
    select("单选框16");
    select("单选框18");
    EXPECT_EQ(page_->quote_category_param(), "c=f&");
    EXPECT_EQ(page_->quote_format_param(), "encode=json&");
    EXPECT_EQ(page_->quote_charset_param(), "charset=gbk");
    EXPECT_EQ(page_->quote_endpoint(), international_.url("/?"));
}

struct FailureCase final {
    const char* what;
    int status;
    std::string body;
    const char* notice;
};

TEST_F(QuotePageTest, AFailedFetchKeepsTheClipboardAndSaysWhy) {
    const std::vector<FailureCase> cases = {
        {"a server error", 500, "oops", "获取失败：500 Internal Server Error"},
        {"not found", 404, "", "获取失败：404 Not Found"},
        {"an empty quote", 200, "", "获取失败：服务器没有返回内容"},
    };
    for (const FailureCase& c : cases) {
        primary_.serve_text("/", c.status, c.body);
        ScopedNoticeRecorder notices;
        fetch();
        EXPECT_EQ(clipboard_text(), "earlier") << c.what;
        ASSERT_EQ(notices.notices().size(), 1u) << c.what;
        EXPECT_EQ(notices.notices()[0].text, gb(c.notice)) << c.what;
    }
}

TEST_F(QuotePageTest, AnUnreachableEndpointKeepsTheClipboardAndSaysWhy) {
    int closed_port = 0;
    {
        LocalServer gone;
        closed_port = gone.port();
    }
    QuotePage page(
        QString::fromStdString("https://127.0.0.1:" + std::to_string(closed_port) + "/?"),
        QString());
    page.show();
    ScopedNoticeRecorder notices;
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("按钮6")), Qt::LeftButton);
    EXPECT_EQ(clipboard_text(), "earlier");
    ASSERT_EQ(notices.notices().size(), 1u);
    EXPECT_EQ(notices.notices()[0].text, gb("获取失败：711 发送请求失败!"));
}

TEST_F(QuotePageTest, TheButtonIsDisabledWhileTheRequestWaitsAndTheWindowKeepsWorking) {
    primary_.serve_stall("/", std::chrono::milliseconds(400), kQuoteUtf8);
    bool enabled_while_waiting = true;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        enabled_while_waiting = enabled_while_waiting && fetch_button()->isEnabled();
    });
    timer.start(50);
    fetch();
    timer.stop();
    EXPECT_GT(ticks, 2) << "events ran while the request waited";
    EXPECT_FALSE(enabled_while_waiting);
    EXPECT_TRUE(fetch_button()->isEnabled());
    EXPECT_EQ(clipboard_text(), gb("人生若只如初见。"));
}

} // namespace
} // namespace zorvik
