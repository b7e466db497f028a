#include "music/music_page.h"

#include "codepage/codepage.h"
#include "music/busy_cursor.h"
#include "music/download_window.h"
#include "music/search_results.h"
#include "music/song_file_name.h"
#include "platform/ui/timed_notice.h"
#include "platform/ui/widgets.h"
#include "web/web_fetch_object.h"

#include <QAction>
#include <QCursor>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zorvik {

namespace {

// Messages are written here in UTF-8; the user sees Text.
Text say(std::string_view utf8) {
    return utf8_to_ansi(utf8);
}

// The pop-up opens just off the pointer, so the pointer does not rest on its first item.
constexpr QPoint kMenuOffset(3, 3);

} // namespace

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
    const Text keyword = line_text(*keyword_box_);
    if (keyword.empty()) {
        timed_notice(say("搜索内容不可为空"), std::nullopt, say("警告："), std::nullopt, 1000);
        return;
    }
    std::string_view type;
    if (netease_button_->isChecked()) {
        type = "netease";
    } else if (kugou_button_->isChecked()) {
        type = "kugou";
    } else {
        return;
    }

    ScopedDisable no_second_search(search_button_);
    const BusyCursor busy;
    // The old rows go now, so none of them can be picked while their addresses are replaced.
    result_list_->clear();
    state_.download_urls.clear();

    // Services of this kind answer JSON only to requests that say they come from a script.
    Text headers = "X-Requested-With: XMLHttpRequest";
    int status = 0;
    const QPointer<MusicPage> self(this);
    const Bytes reply = web_fetch_object({.url = from_qstring(search_endpoint_),
                                          .method = 1,
                                          .post_text = search_form_body(keyword, type),
                                          .extra_headers = &headers,
                                          .status_code = &status});
    if (self == nullptr) {
        return;
    }
    if (status == 0) {
        timed_notice(say("搜索失败：无法连接到音乐搜索服务，请检查网络后重试"));
        return;
    }
    if (status >= 400) {
        timed_notice(say("搜索失败：服务器返回 " + std::to_string(status)));
        return;
    }

    const SearchFill fill = fill_search_results(reply, *result_list_, state_.download_urls);
    switch (fill.reply) {
    case SearchReply::TooLarge:
        timed_notice(say("搜索失败：服务器的回复过大"));
        return;
    case SearchReply::NotJson:
        timed_notice(say("搜索失败：服务器的回复无法识别"));
        return;
    case SearchReply::Songs:
        break;
    }
    if (fill.rows < fill.songs) {
        timed_notice(say("搜索结果过多，只列出前 " + std::to_string(fill.rows) + " 首"));
    }
}

void MusicPage::show_list_menu(const QPoint& /*pos*/) {
    // At the pointer: a right click on the header or on empty space is a right click in the
    // list too, and their positions arrive in differing coordinates.
    list_menu_->popup(QCursor::pos() + kMenuOffset);
}

void MusicPage::download_chosen() {
    int row = -1;
    for (QTreeWidgetItem* item : result_list_->selectedItems()) {
        const int index = result_list_->indexOfTopLevelItem(item);
        if (index >= 0 && (row < 0 || index < row)) {
            row = index;
        }
    }
    if (row < 0) {
        timed_notice(say("请选择一首歌进行下载"), std::nullopt, say("警告："), std::nullopt, 1000);
        return;
    }
    const QTreeWidgetItem* item = result_list_->topLevelItem(row);
    state_.pending_file_name =
        song_file_name(from_qstring(item->text(0)), from_qstring(item->text(1)));
    // A row without an address of its own is refused like one whose address is empty.
    const auto entry = static_cast<std::size_t>(row);
    state_.pending_download_url =
        entry < state_.download_urls.size() ? state_.download_urls[entry] : Text();
    if (state_.pending_download_url.empty()) {
        timed_notice(say("下载链接获取失败，请换一首歌尝试"));
        return;
    }

    // Modal; it deletes itself once closed, after exec() has returned.
    auto* window = new DownloadWindow(state_, default_save_folder(), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->exec();
}

} // namespace zorvik
