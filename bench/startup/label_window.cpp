// A second baseline: one window with one line of Chinese text in the program's face list, so
// the cost of bringing up fonts shows apart from the program's own.
#include "quit_after_first_paint.h"

#include <QApplication>
#include <QFont>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("未加密的数据："));
    QFont font;
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(20);
    window.setFont(font);
    window.resize(378, 482);
    QuitAfterFirstPaint quit(&window);
    window.show();
    return QApplication::exec();
}
