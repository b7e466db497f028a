#pragma once

// The download window: shows a song's address, proposes where to save it, and downloads it.
// Opened modally from the result list's menu item "下载".

#include "music/download_state.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>

class QFileDialog;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace zorvik {

class DownloadWindow final : public QDialog {
    Q_OBJECT
public:
    // Filled in from the pending values of `state` as it is created; `save_folder` is where the
    // song goes unless the user picks another place (song_file_name's default_save_folder()).
    DownloadWindow(const DownloadState& state, QString save_folder, QWidget* parent = nullptr);

    // "退出", Escape and the window's close button. While a download runs, it is stopped and
    // the window closes once the handler that runs it has returned.
    void reject() override;

private:
    // Click of 按钮1 "打开文件夹": the save dialog 通用对话框1 picks the save place.
    void choose_save_place();
    // Click of 按钮2 "下载": fetches the address in 编辑框1 to the file in 编辑框2. Closes the
    // window only when the song was saved.
    void download();
    void show_progress(std::uint64_t received, std::optional<std::uint64_t> total);
    // Runs the close that reject() put off while a handler ran.
    void close_if_asked();

    QPlainTextEdit* address_box_;
    QLineEdit* save_place_box_;
    QPushButton* choose_button_;
    QPushButton* download_button_;
    QPushButton* exit_button_;
    QFileDialog* save_dialog_;
    QProgressBar* progress_bar_;

    QString save_folder_;
    // The path the save dialog holds: empty until the user first chooses one.
    QString chosen_path_;
    // A handler that pumps events is running; closing now would pull the window from under it.
    bool handler_running_ = false;
    bool downloading_ = false;
    bool cancel_asked_ = false;
    bool close_asked_ = false;
};

} // namespace zorvik
