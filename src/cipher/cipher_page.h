#pragma once

// The page "文本加密": the text in the upper box becomes a Base64 text of its bytes, each
// lowered by one, in the lower box, and back.

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace zorvik {

class CipherPage final : public QWidget {
    Q_OBJECT
public:
    explicit CipherPage(QWidget* parent = nullptr);

private:
    // Click of 按钮3 "加密": 编辑框2 into 编辑框3.
    void encrypt();
    // Click of 按钮4 "解密": 编辑框3 into 编辑框2.
    void decrypt();

    QPlainTextEdit* plain_box_;
    QPlainTextEdit* cipher_box_;
    QPushButton* encrypt_button_;
    QPushButton* decrypt_button_;
};

} // namespace zorvik
