#include "platform/ui/clipboard.h"

#include "codepage/codepage.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>

namespace zorvik {

namespace {

// The clipboard belongs to the GUI thread of a GUI application; elsewhere there is none.
QClipboard* gui_clipboard() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        return nullptr;
    }
    return QGuiApplication::clipboard();
}

} // namespace

bool set_clipboard_text(const Text& text) {
    QClipboard* clipboard = gui_clipboard();
    if (clipboard == nullptr) {
        return false;
    }
    clipboard->setText(to_qstring(text), QClipboard::Clipboard);
    return true;
}

Text clipboard_text() {
    QClipboard* clipboard = gui_clipboard();
    if (clipboard == nullptr) {
        return {};
    }
    return from_qstring(clipboard->text(QClipboard::Clipboard));
}

} // namespace zorvik
