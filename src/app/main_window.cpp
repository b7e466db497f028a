#include "app/main_window.h"

#include "app/endpoints.h"
#include "cipher/cipher_page.h"
#include "music/music_page.h"
#include "platform/ui/tab_control.h"
#include "platform/ui/widgets.h"
#include "quote/quote_page.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>

// Resources of a static library are registered by hand; Q_INIT_RESOURCE must stand outside
// any namespace.
static void register_app_resources() {
    Q_INIT_RESOURCE(resources);
}

namespace zorvik {

namespace {

// The pages' topmost controls start 27 pixels below the tab control's top edge.
constexpr int kTabStripHeight = 27;

QWidget* make_about_page() {
    auto* page = new QWidget;
    QLabel* picture =
        add_label(page, QStringLiteral("图片框1"), QString(), QRect(7, 31, 340, 56), 16);
    QPixmap banner(QStringLiteral(":/banner.gif"));
    picture->setPixmap(banner);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QGroupBox* origin = add_group_box(page, QStringLiteral("分组框5"), QStringLiteral("软件由来"),
                                      QRect(7, 89, 344, 88), 20);
    add_label(origin, QStringLiteral("透明标签8"),
              QStringLiteral("做这个软件的主要原因就是闲的蛋疼"), QRect(16, 35, 312, 32), 16);
    return page;
}

} // namespace

Endpoints default_endpoints() {
    return Endpoints{QString::fromUtf16(kMusicSearchEndpoint),
                     QString::fromUtf16(kQuotePrimaryEndpoint),
                     QString::fromUtf16(kQuoteInternationalEndpoint)};
}

void apply_application_look(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
    }
    app.setFont(ui_font(16));
}

MainWindow::MainWindow(const Endpoints& endpoints, QWidget* parent) : QWidget(parent) {
    register_app_resources();
    setWindowTitle(QStringLiteral("Zorvik"));
    setFixedSize(378, 482);
    move(50, 50);

    tabs_ = new TabControl(kTabStripHeight, this);
    tabs_->setObjectName(QStringLiteral("高级选择夹1"));
    tabs_->setFont(ui_font(16));
    tabs_->setGeometry(9, 7, 359, 433);
    tabs_->add_page(new CipherPage, QStringLiteral("文本加密"));
    tabs_->add_page(new MusicPage(download_state_, endpoints.music_search),
                    QStringLiteral("音乐下载"));
    tabs_->add_page(new QuotePage(endpoints.quote_primary, endpoints.quote_international),
                    QStringLiteral("获取一言"));
    tabs_->add_page(make_about_page(), QStringLiteral("关于"));
    tabs_->set_current_index(0);
}

MainWindow::~MainWindow() {
    // The pages go before download_state_ does; QWidget would delete them only afterwards.
    delete tabs_;
}

} // namespace zorvik
