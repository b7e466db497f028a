#include "cipher/cipher_page.h"

#include "cipher/base64.h"
#include "codepage/codepage.h"
#include "platform/ui/timed_notice.h"
#include "platform/ui/widgets.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

namespace zorvik {

namespace {

// The cipher's only key: every byte moves by one, with 8-bit wrap-around.
constexpr unsigned char kShift = 1;

void warn_empty() {
    timed_notice(from_qstring(QStringLiteral("不可为空")), std::nullopt,
                 from_qstring(QStringLiteral("警告：")), std::nullopt, 1000);
}

} // namespace

CipherPage::CipherPage(QWidget* parent) : QWidget(parent) {
    add_label(this, QStringLiteral("透明标签3"), QStringLiteral("未加密的数据："),
              QRect(31, 45, 152, 40), 20);
    plain_box_ = add_text_box(this, QStringLiteral("编辑框2"), QRect(31, 85, 295, 108), 16);
    encrypt_button_ = add_button(this, QStringLiteral("按钮3"), QStringLiteral("加密"),
                                 QRect(139, 197, 88, 32), 19);
    decrypt_button_ = add_button(this, QStringLiteral("按钮4"), QStringLiteral("解密"),
                                 QRect(237, 197, 88, 32), 19);
    add_label(this, QStringLiteral("透明标签4"), QStringLiteral("解密后的数据："),
              QRect(31, 230, 192, 40), 20);
    cipher_box_ = add_text_box(this, QStringLiteral("编辑框3"), QRect(31, 269, 295, 124), 16);

    connect(encrypt_button_, &QPushButton::clicked, this, &CipherPage::encrypt);
    connect(decrypt_button_, &QPushButton::clicked, this, &CipherPage::decrypt);
}

void CipherPage::encrypt() {
    const Text plain = box_text(*plain_box_);
    if (plain.empty()) {
        warn_empty();
        return;
    }
    Bytes bytes = bytes_of(plain);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(byte - kShift);
    }
    set_box_text(*cipher_box_, base64_encode(bytes));
}

void CipherPage::decrypt() {
    const Text cipher = box_text(*cipher_box_);
    if (cipher.empty()) {
        warn_empty();
        return;
    }
    // The decoder pumps events; a second click must not start a second decode meanwhile.
    const ScopedDisable busy(decrypt_button_);
    const QPointer<CipherPage> alive(this);
    Bytes bytes = base64_decode(cipher);
    if (alive == nullptr) {
        return;
    }
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(byte + kShift);
    }
    // The text ends at the first zero byte, as a byte 0xFF of the decoded data gives.
    set_box_text(*plain_box_, text_of(bytes));
}

} // namespace zorvik
