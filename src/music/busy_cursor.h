#pragma once

// Shows the busy cursor over the application for the guard's lifetime, while a handler
// waits on the network with the window still painting and taking clicks.

#include <QCursor>
#include <QGuiApplication>

namespace zorvik {

class BusyCursor final {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor)); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace zorvik
