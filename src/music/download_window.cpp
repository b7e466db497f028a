#include "music/download_window.h"

#include "codepage/codepage.h"
#include "music/busy_cursor.h"
#include "music/song_file_name.h"
#include "platform/download.h"
#include "platform/ui/timed_notice.h"
#include "platform/ui/widgets.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

namespace zorvik {

namespace {

Text say(std::string_view utf8) {
    return utf8_to_ansi(utf8);
}

// What goes on the wire: an ASCII address exactly as the service gave it (a signed address
// breaks when re-escaped); anything else with its non-ASCII characters percent-encoded.
std::string request_address(const QString& address) {
    const bool ascii =
        std::all_of(address.cbegin(), address.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        return address.toStdString();
    }
    const QUrl url(address, QUrl::TolerantMode);
    return url.isValid() ? url.toEncoded().toStdString() : address.toStdString();
}

QString size_text(std::uint64_t bytes) {
    if (bytes < 1024) {
        return QStringLiteral("%1 B").arg(bytes);
    }
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    value /= 1024.0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}

} // namespace

DownloadWindow::DownloadWindow(const DownloadState& state, QString save_folder, QWidget* parent)
    : QDialog(parent), save_folder_(std::move(save_folder)) {
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

    // Below the buttons, in space the layout leaves free; shown once a download starts.
    progress_bar_ = new QProgressBar(this);
    progress_bar_->setObjectName(QStringLiteral("进度条1"));
    progress_bar_->setFont(ui_font(16));
    progress_bar_->setGeometry(23, 213, 329, 28);
    progress_bar_->setTextVisible(true);
    progress_bar_->setAlignment(Qt::AlignCenter);
    progress_bar_->hide();

    // The window's creation handler.
    set_box_text(*address_box_, state.pending_download_url);
    save_place_box_->setText(default_save_place(state.pending_file_name, save_folder_));

    connect(choose_button_, &QPushButton::clicked, this, &DownloadWindow::choose_save_place);
    connect(download_button_, &QPushButton::clicked, this, &DownloadWindow::download);
    connect(exit_button_, &QPushButton::clicked, this, &DownloadWindow::reject);
}

void DownloadWindow::reject() {
    if (handler_running_) {
        close_asked_ = true;
        cancel_asked_ = downloading_;
        return;
    }
    QDialog::reject();
}

void DownloadWindow::close_if_asked() {
    if (close_asked_ && !handler_running_) {
        close_asked_ = false;
        QDialog::reject();
    }
}

void DownloadWindow::choose_save_place() {
    if (handler_running_) {
        return;
    }
    const QPointer<DownloadWindow> self(this);
    handler_running_ = true;
    save_dialog_->setDirectory(save_folder_);
    // Reopens on the earlier choice; before any, on an empty name.
    save_dialog_->selectFile(chosen_path_);
    const int answer = save_dialog_->exec();
    if (self == nullptr) {
        return;
    }
    if (answer == QDialog::Accepted) {
        const QStringList files = save_dialog_->selectedFiles();
        if (!files.isEmpty()) {
            chosen_path_ = files.constFirst();
        }
    }
    // Cancel puts back what the dialog held: nothing before a first choice.
    save_place_box_->setText(chosen_path_);
    handler_running_ = false;
    close_if_asked();
}

void DownloadWindow::show_progress(std::uint64_t received, std::optional<std::uint64_t> total) {
    if (total && *total > 0) {
        constexpr int kSteps = 1000;
        const std::uint64_t done = std::min<std::uint64_t>(received, *total);
        progress_bar_->setRange(0, kSteps);
        progress_bar_->setValue(static_cast<int>(done * kSteps / *total));
        // %p is the bar's own percentage.
        progress_bar_->setFormat(
            QStringLiteral("已下载 %1 / %2（%p%）").arg(size_text(received), size_text(*total)));
    } else {
        progress_bar_->setRange(0, 1);
        progress_bar_->setValue(0);
        progress_bar_->setFormat(QStringLiteral("已下载 %1").arg(size_text(received)));
    }
}

void DownloadWindow::download() {
    if (handler_running_) {
        return;
    }
    const QPointer<DownloadWindow> self(this);
    const QString address = address_box_->toPlainText();
    const QString path = save_place_box_->text();
    handler_running_ = true;
    downloading_ = true;
    cancel_asked_ = false;

    DownloadResult result;
    {
        ScopedDisable no_second_download(download_button_);
        ScopedDisable no_new_place(choose_button_);
        const BusyCursor busy;
        show_progress(0, std::nullopt);
        progress_bar_->show();
        DownloadOptions options;
        // The window can go while events are pumped; then the download stops.
        options.progress = [self](std::uint64_t received, std::optional<std::uint64_t> total) {
            if (self != nullptr) {
                self->show_progress(received, total);
            }
        };
        options.cancelled = [self] { return self == nullptr || self->cancel_asked_; };
        result = download_to_file(request_address(address), path, options);
    }
    if (self == nullptr) {
        return;
    }
    downloading_ = false;

    if (result.ok) {
        timed_notice(say("下载完毕"), std::nullopt, say("恭喜你"), std::nullopt, 1000);
        if (self == nullptr) {
            return;
        }
        handler_running_ = false;
        accept();
        return;
    }
    progress_bar_->hide();
    // A download stopped by closing the window needs no word; any other failure does, and
    // the window stays for another try.
    if (!close_asked_) {
        timed_notice(result.message);
        if (self == nullptr) {
            return;
        }
    }
    handler_running_ = false;
    close_if_asked();
}

} // namespace zorvik
