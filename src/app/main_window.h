#pragma once

// The main window: a tab control with the pages "文本加密", "音乐下载", "获取一言" and
// "关于". It owns the program-wide values and hands them to the page that uses them.

#include "music/download_state.h"

#include <QString>
#include <QWidget>

class QApplication;

namespace zorvik {

class TabControl;

struct Endpoints {
    QString music_search;
    QString quote_primary;
    QString quote_international;
};

// The endpoints the program ships with.
Endpoints default_endpoints();

// Qt's Fusion style and the program's font, for the whole application.
void apply_application_look(QApplication& app);

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(const Endpoints& endpoints, QWidget* parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

private:
    // Declared first: the pages hold references to it.
    DownloadState download_state_;
    TabControl* tabs_;
};

} // namespace zorvik
