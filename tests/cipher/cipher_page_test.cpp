#include "cipher/cipher_page.h"

#include "codepage/codepage.h"
#include "platform/ui/timed_notice.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace zorvik {
namespace {

class CipherPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        page_.resize(359, 433);
        page_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page_));
        plain_ = page_.findChild<QPlainTextEdit*>(QStringLiteral("编辑框2"));
        cipher_ = page_.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"));
        encrypt_ = page_.findChild<QPushButton*>(QStringLiteral("按钮3"));
        decrypt_ = page_.findChild<QPushButton*>(QStringLiteral("按钮4"));
        ASSERT_TRUE(plain_ && cipher_ && encrypt_ && decrypt_);
    }

    QString encrypt(const QString& plain) {
        plain_->setPlainText(plain);
        QTest::mouseClick(encrypt_, Qt::LeftButton);
        return cipher_->toPlainText();
    }

    QString decrypt(const QString& cipher) {
        cipher_->setPlainText(cipher);
        QTest::mouseClick(decrypt_, Qt::LeftButton);
        return plain_->toPlainText();
    }

    CipherPage page_;
    QPlainTextEdit* plain_ = nullptr;
    QPlainTextEdit* cipher_ = nullptr;
    QPushButton* encrypt_ = nullptr;
    QPushButton* decrypt_ = nullptr;
};

TEST_F(CipherPageTest, EncryptsAndDecryptsBack) {
    const struct {
        const char16_t* plain;
        const char* cipher;
    } cases[] = {
        {u"abc", "YGFi"},
        {u"ab", "YGE="},
        {u"a", "YA=="},
        {u"中文", "1c/Nww=="},
        // Code 1 becomes a zero byte inside the encoded data.
        {u"\x01", "AA=="},
        // Spaces are text like any other.
        {u"   ", "Hx8f"},
        // Line breaks are CR LF in the box's Text.
        {u"a\nb", "YAwJYQ=="},
        // Beyond GBK: four-byte GB18030 sequences, not "?".
        {u"😀", "kzj7NQ=="},
        {u"中😀𠀀x", "1c+TOPs1lDGBNXc="},
    };
    for (const auto& c : cases) {
        const QString plain = QString::fromUtf16(c.plain);
        EXPECT_EQ(encrypt(plain), QString::fromLatin1(c.cipher)) << plain.toStdString();
        plain_->clear();
        EXPECT_EQ(decrypt(QString::fromLatin1(c.cipher)), plain) << c.cipher;
    }
}

TEST_F(CipherPageTest, DecryptFollowsTheDecoderOnOddInput) {
    const struct {
        const char* cipher;
        const char16_t* plain;
    } cases[] = {
        // The missing fourth character counts as "A": a byte 0 that the raise turns into 1.
        {"YGE", u"ab\x01"},
        {"YGE=", u"ab"},
        // A decoded 0xFF becomes a zero byte: the text ends just before it.
        {"YP9h", u"a"},
        // Spaces only: nothing to decode, an empty text.
        {"    ", u""},
        // Several lines of cipher text: CR LF pairs are dropped before decoding.
        {"YGFi\nYGFi", u"abcabc"},
    };
    for (const auto& c : cases) {
        plain_->setPlainText(QStringLiteral("old"));
        EXPECT_EQ(decrypt(QString::fromLatin1(c.cipher)), QString::fromUtf16(c.plain)) << c.cipher;
    }
}

TEST_F(CipherPageTest, EmptySourceBoxWarnsAndChangesNothing) {
    ScopedNoticeRecorder recorder;
    plain_->clear();
    cipher_->setPlainText(QStringLiteral("keep"));
    QTest::mouseClick(encrypt_, Qt::LeftButton);
    EXPECT_EQ(cipher_->toPlainText(), QStringLiteral("keep"));
    EXPECT_EQ(plain_->toPlainText(), QString());

    cipher_->clear();
    plain_->setPlainText(QStringLiteral("keep too"));
    QTest::mouseClick(decrypt_, Qt::LeftButton);
    EXPECT_EQ(plain_->toPlainText(), QStringLiteral("keep too"));
    EXPECT_EQ(cipher_->toPlainText(), QString());

    ASSERT_EQ(recorder.notices().size(), 2u);
    for (const NoticeRecord& notice : recorder.notices()) {
        EXPECT_EQ(notice.text, from_qstring(QStringLiteral("不可为空")));
        EXPECT_EQ(notice.title, from_qstring(QStringLiteral("警告：")));
        EXPECT_EQ(notice.timeout_ms, 1000);
        EXPECT_EQ(notice.style, 0);
        // Owner left out: the page's own window is found for it.
        EXPECT_EQ(notice.owner, &page_);
    }
}

TEST_F(CipherPageTest, ButtonsAreUsableAgainAfterADecode) {
    decrypt(QStringLiteral("YGFi"));
    EXPECT_TRUE(decrypt_->isEnabled());
    EXPECT_TRUE(encrypt_->isEnabled());
    // A large cipher text decodes in one click and leaves the button enabled.
    const QString big = QString(QStringLiteral("YGFi")).repeated(200000);
    EXPECT_EQ(decrypt(big), QString(QStringLiteral("abc")).repeated(200000));
    EXPECT_TRUE(decrypt_->isEnabled());
}

} // namespace
} // namespace zorvik
