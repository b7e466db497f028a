// Servers whose certificate is expired, self-signed or made out for another host: every
// network path refuses them before a request goes out, and the quote page keeps the clipboard.

#include "hostile/fetch_paths.h"

#include "codepage/codepage.h"
#include "platform/curl_transfer.h"
#include "platform/ui/clipboard.h"
#include "platform/ui/timed_notice.h"
#include "quote/quote_page.h"
#include "support/server/test_server.h"

#include <QPushButton>
#include <QString>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace zorvik::test {
namespace {

const char* cert_name(ServerCert cert) {
    switch (cert) {
    case ServerCert::Trusted:
        return "Trusted";
    case ServerCert::SelfSigned:
        return "SelfSigned";
    case ServerCert::Expired:
        return "Expired";
    case ServerCert::WrongHost:
        return "WrongHost";
    }
    return "?";
}

constexpr char kSecret[] = "the reply only a trusted server may give";

class CertificateTest : public ::testing::TestWithParam<ServerCert> {
protected:
    void SetUp() override {
        ASSERT_TRUE(test_certificates().ok) << test_certificates().error;
        // The test CA is trusted, so only the certificate itself can be at fault.
        set_ca_file_override(test_certificates().ca_file);
        ASSERT_TRUE(server_.ok());
        server_.serve_text("/song.mp3", 200, kSecret);
        server_.serve_text("/", 200, kSecret);
    }
    void TearDown() override { set_ca_file_override(""); }

    bool trusted() const { return GetParam() == ServerCert::Trusted; }

    LocalServer server_{Scheme::Https, GetParam()};
};

TEST_P(CertificateTest, EveryFetchPathTakesOnlyATrustedCertificate) {
    for (const FetchPath path : kFetchPaths) {
        SCOPED_TRACE(path_name(path));
        server_.clear_requests();
        const FetchOutcome out = fetch_through(path, server_.url("/song.mp3"));
        EXPECT_EQ(out.failed, !trusted()) << out.detail;
        EXPECT_EQ(out.body_bytes, trusted() ? sizeof kSecret - 1 : 0u);
        EXPECT_EQ(server_.request_count(), trusted() ? 1u : 0u)
            << "a request went out over a connection that was not verified";
        EXPECT_TRUE(out.user_file_intact);
    }
}

TEST_P(CertificateTest, TheQuotePageCopiesOnlyFromATrustedServer) {
    QuotePage page(QString::fromStdString(server_.url("/?")), QString());
    page.show();
    ASSERT_TRUE(set_clipboard_text("earlier"));
    ScopedNoticeRecorder notices;

    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("按钮6")), Qt::LeftButton);

    if (trusted()) {
        EXPECT_EQ(clipboard_text(), kSecret);
        EXPECT_TRUE(notices.notices().empty());
        return;
    }
    EXPECT_EQ(clipboard_text(), "earlier");
    ASSERT_EQ(notices.notices().size(), 1u);
    EXPECT_EQ(notices.notices()[0].text, utf8_to_ansi("获取失败：711 发送请求失败!"));
    EXPECT_EQ(server_.request_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Certificates, CertificateTest,
                         ::testing::Values(ServerCert::Trusted, ServerCert::SelfSigned,
                                           ServerCert::Expired, ServerCert::WrongHost),
                         [](const ::testing::TestParamInfo<ServerCert>& info) {
                             return cert_name(info.param);
                         });

} // namespace
} // namespace zorvik::test
