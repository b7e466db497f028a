#include "music/music_page.h"

#include "platform/ui/widgets.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include <utility>

namespace zorvik {

MusicPage::MusicPage(DownloadState& state, QString search_endpoint, QWidget* parent)
    : QWidget(parent), state_(state), search_endpoint_(std::move(search_endpoint)) {
    add_label(this, QStringLiteral("透明标签5"), QStringLiteral("目前仅支持网易云"),
              QRect(23, 41, 312, 32), 19);
    add_label(this, QStringLiteral("透明标签6"), QStringLiteral("搜索："), QRect(31, 90, 56, 32),
              20);
    keyword_box_ = add_line_edit(this, QStringLiteral("编辑框4"), QRect(87, 90, 232, 40), 20);
    netease_button_ = add_radio_button(this, QStringLiteral("单选框1"), QStringLiteral("网易云"),
                                       QRect(31, 138, 72, 32), 16);
    netease_button_->setChecked(true);
    kugou_button_ = add_radio_button(this, QStringLiteral("单选框2"), QStringLiteral("酷我音乐"),
                                     QRect(107, 138, 92, 32), 16);
    kugou_button_->setEnabled(false);
    search_button_ = add_button(this, QStringLiteral("按钮5"), QStringLiteral("搜索"),
                                QRect(206, 138, 112, 40), 19);

    result_list_ = new QTreeWidget(this);
    result_list_->setObjectName(QStringLiteral("超级列表框1"));
    result_list_->setFont(ui_font(16));
    result_list_->setGeometry(31, 186, 296, 223);
    result_list_->setColumnCount(3);
    result_list_->setHeaderLabels(
        {QStringLiteral("音乐名称"), QStringLiteral("演唱者"), QStringLiteral("音乐ID")});
    // A report view: flat rows, whole-row selection, one row at a time, nothing editable.
    result_list_->setRootIsDecorated(false);
    result_list_->setItemsExpandable(false);
    result_list_->setUniformRowHeights(true);
    result_list_->setAllColumnsShowFocus(true);
    result_list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    result_list_->setSelectionMode(QAbstractItemView::SingleSelection);
    result_list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    result_list_->header()->setStretchLastSection(false);
    result_list_->header()->setSectionsMovable(false);
    result_list_->setColumnWidth(0, 100);
    result_list_->setColumnWidth(1, 100);
    result_list_->setColumnWidth(2, 80);
    result_list_->setContextMenuPolicy(Qt::CustomContextMenu);

    // The hidden menu "选择": never a menu bar, only the list's pop-up.
    list_menu_ = new QMenu(QStringLiteral("选择"), this);
    list_menu_->setObjectName(QStringLiteral("选择"));
    list_menu_->setFont(ui_font(16));
    download_action_ = list_menu_->addAction(QStringLiteral("下载"));

    connect(search_button_, &QPushButton::clicked, this, &MusicPage::search);
    connect(result_list_, &QTreeWidget::customContextMenuRequested, this,
            &MusicPage::show_list_menu);
    connect(download_action_, &QAction::triggered, this, &MusicPage::download_chosen);
}

void MusicPage::search() {
    // Not built yet: the search arrives with the music-search client.
}

void MusicPage::show_list_menu(const QPoint& /*pos*/) {
    // Not built yet: the pop-up arrives with the download.
}

void MusicPage::download_chosen() {
    // Not built yet: the download window opens once the download is built.
}

} // namespace zorvik
