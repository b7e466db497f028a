#include "music/download_window.h"

#include "platform/ui/widgets.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace zorvik {

DownloadWindow::DownloadWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString());
    setModal(true);
    setFixedSize(380, 250);
    move(50, 50);

    add_label(this, QStringLiteral("标签1"), QStringLiteral("下载地址："), QRect(4, 0, 92, 40), 20);
    address_box_ = add_text_box(this, QStringLiteral("编辑框1"), QRect(6, 38, 360, 34), 20);
    // Shows the address only: it can be neither edited nor given the focus.
    address_box_->setReadOnly(true);
    address_box_->setFocusPolicy(Qt::NoFocus);
    address_box_->setEnabled(false);
    add_label(this, QStringLiteral("标签2"), QStringLiteral("保存位置："), QRect(8, 80, 88, 32),
              20);
    save_place_box_ = add_line_edit(this, QStringLiteral("编辑框2"), QRect(8, 110, 256, 40), 19);
    choose_button_ = add_button(this, QStringLiteral("按钮1"), QStringLiteral("打开文件夹"),
                                QRect(280, 110, 88, 40), 16);
    download_button_ = add_button(this, QStringLiteral("按钮2"), QStringLiteral("下载"),
                                  QRect(23, 167, 150, 40), 20);
    exit_button_ = add_button(this, QStringLiteral("按钮3"), QStringLiteral("退出"),
                              QRect(202, 167, 150, 40), 20);

    // Qt's own dialog, so it looks the same everywhere and tests can drive it.
    save_dialog_ = new QFileDialog(this);
    save_dialog_->setObjectName(QStringLiteral("通用对话框1"));
    save_dialog_->setOption(QFileDialog::DontUseNativeDialog, true);
    save_dialog_->setOption(QFileDialog::DontConfirmOverwrite, false);
    save_dialog_->setAcceptMode(QFileDialog::AcceptSave);
    save_dialog_->setFileMode(QFileDialog::AnyFile);
    save_dialog_->setWindowTitle(QStringLiteral("保存文件到："));
    save_dialog_->setNameFilter(QStringLiteral("*"));
    save_dialog_->setDefaultSuffix(QStringLiteral("mp3"));

    connect(choose_button_, &QPushButton::clicked, this, &DownloadWindow::choose_save_place);
    connect(download_button_, &QPushButton::clicked, this, &DownloadWindow::download);
    connect(exit_button_, &QPushButton::clicked, this, &DownloadWindow::reject);
}

void DownloadWindow::choose_save_place() {
    // Not built yet: the save-place choice arrives with the download.
}

void DownloadWindow::download() {
    // Not built yet: the download arrives with the song download.
}

} // namespace zorvik
