// Servers whose certificate is expired, self-signed or made out for another host: every
// network path refuses them before a request goes out, and the quote page keeps the clipboard.

#include "hostile/fetch_paths.h"
#include "hostile/quote_press.h"

#include "codepage/codepage.h"
#include "platform/ui/clipboard.h"
#include "support/server/test_server.h"
#include "support/trust_test_ca.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvik::test {
namespace {

constexpr char kSecret[] = "the reply only a trusted server may give";

class CertificateTest : public ::testing::TestWithParam<ServerCert> {
protected:
    void SetUp() override {
        ASSERT_TRUE(test_certificates().ok) << test_certificates().error;
        ASSERT_TRUE(server_.ok());
        server_.serve_text("/song.mp3", 200, kSecret);
        server_.serve_text("/", 200, kSecret);
    }

    bool trusted() const { return GetParam() == ServerCert::Trusted; }

    // The test CA is trusted, so only the certificate itself can be at fault.
    TrustTestCa trust_ca_;
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
    const QuotePress press(server_.url("/?"));
    ASSERT_TRUE(press.clipboard_set());

    if (trusted()) {
        EXPECT_EQ(clipboard_text(), kSecret);
        EXPECT_TRUE(press.notices().empty());
        return;
    }
    EXPECT_EQ(clipboard_text(), "earlier");
    ASSERT_EQ(press.notices().size(), 1u);
    EXPECT_EQ(press.notices()[0].text, utf8_to_ansi("获取失败：711 发送请求失败!"));
    EXPECT_EQ(server_.request_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Certificates, CertificateTest,
                         ::testing::Values(ServerCert::Trusted, ServerCert::SelfSigned,
                                           ServerCert::Expired, ServerCert::WrongHost),
                         [](const ::testing::TestParamInfo<ServerCert>& info) {
                             return server_cert_name(info.param);
                         });

} // namespace
} // namespace zorvik::test
