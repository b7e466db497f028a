#include "app/main_window.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvik::apply_application_look(app);
    zorvik::MainWindow window(zorvik::default_endpoints());
    window.show();
    return QApplication::exec();
}
