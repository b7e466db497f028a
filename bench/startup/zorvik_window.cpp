// What zorvik's main() does, ending after the first paint.
#include "app/main_window.h"
#include "quit_after_first_paint.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvik::apply_application_look(app);
    zorvik::MainWindow window(zorvik::default_endpoints());
    QuitAfterFirstPaint quit(&window);
    window.show();
    return QApplication::exec();
}
