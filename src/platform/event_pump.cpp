#include "platform/event_pump.h"

#include <QCoreApplication>

namespace zorvik {

EventPump::EventPump(std::chrono::milliseconds interval)
    : interval_(interval), last_(std::chrono::steady_clock::now()) {}

void EventPump::pump_if_due() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < interval_) {
        return;
    }
    process_pending_events();
    last_ = std::chrono::steady_clock::now();
}

void process_pending_events() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace zorvik
