#pragma once

// The download window: shows a song's address, proposes where to save it, and downloads it.
// Opened modally from the result list's menu item "下载".

#include <QDialog>

class QFileDialog;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zorvik {

class DownloadWindow final : public QDialog {
    Q_OBJECT
public:
    explicit DownloadWindow(QWidget* parent = nullptr);

private:
    // Click of 按钮1 "打开文件夹". Not built yet: no dialog opens.
    void choose_save_place();
    // Click of 按钮2 "下载". Not built yet: nothing is fetched or written.
    void download();

    QPlainTextEdit* address_box_;
    QLineEdit* save_place_box_;
    QPushButton* choose_button_;
    QPushButton* download_button_;
    QPushButton* exit_button_;
    QFileDialog* save_dialog_;
};

} // namespace zorvik
