#pragma once

// Keeps the window painting while the GUI thread waits on the network, a file or a long
// decode. Cheap to call in a tight loop: it processes pending events at most once per interval.

#include <chrono>

namespace zorvik {

class EventPump final {
public:
    explicit EventPump(std::chrono::milliseconds interval = std::chrono::milliseconds(20));

    // Processes pending events when the interval has passed since the last time.
    void pump_if_due();

private:
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point last_;
};

// Processes every pending event now (no-op without an application object).
void process_pending_events();

} // namespace zorvik
