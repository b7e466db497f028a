// The baseline: the least a Qt Widgets program does to show a window.
#include "quit_after_first_paint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(378, 482);
    QuitAfterFirstPaint quit(&window);
    window.show();
    return QApplication::exec();
}
