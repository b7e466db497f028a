#pragma once

// The page "音乐下载": a keyword search on a music-search service, its result list and the
// pop-up menu that opens the download window.

#include "music/download_state.h"

#include <QString>
#include <QWidget>

class QAction;
class QLineEdit;
class QMenu;
class QPoint;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace zorvik {

class MusicPage final : public QWidget {
    Q_OBJECT
public:
    // `state` outlives the page; `search_endpoint` is the service's https address ending in
    // "/music".
    explicit MusicPage(DownloadState& state, QString search_endpoint, QWidget* parent = nullptr);

private:
    // Click of 按钮5 "搜索": one POST to the service; its songs replace the list's rows and
    // download_urls. A failed search says why and leaves the list empty.
    void search();
    // Right click anywhere in 超级列表框1: the menu "选择" pops up beside the pointer.
    void show_list_menu(const QPoint& pos);
    // The menu item "下载": the selected song's address and file name become the pending
    // values, and the download window opens for them.
    void download_chosen();

    DownloadState& state_;
    QString search_endpoint_;
    QLineEdit* keyword_box_;
    QRadioButton* netease_button_;
    QRadioButton* kugou_button_;
    QPushButton* search_button_;
    QTreeWidget* result_list_;
    QMenu* list_menu_;
    QAction* download_action_;
};

} // namespace zorvik
