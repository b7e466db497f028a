#pragma once

// A message box that closes itself after a time-out. Every message this program shows to the
// user goes through timed_notice.

#include "text/text.h"

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace zorvik {

inline constexpr int kNoticeTimedOut = 31999;
inline constexpr int kNoticeCannotShow = -1;

// Result codes: the button's identifier minus 1 (OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4,
// Yes 5, No 6); 31999 when the time-out closed the box; -1 when it cannot be shown.
// `style` takes the classic message-box flags (0: one OK button, no icon). When `owner` is
// not given, the topmost visible window of the process owns the box (the active modal one
// first); a given nullptr means no owner. Title defaults to "友情提醒", time-out to 5000 ms.
int timed_notice(const Text& text, std::optional<int> style = std::nullopt,
                 std::optional<Text> title = std::nullopt,
                 std::optional<QWidget*> owner = std::nullopt,
                 std::optional<int> timeout_ms = std::nullopt);

// The first visible top-level window of this process, searching for at most `time_limit_ms`
// while processing events; nullptr when none was found. Only this process's windows exist
// to Qt, so `process_id` other than this process's finds nothing.
QWidget* find_process_window(long long process_id, int time_limit_ms);

// What a notice looked like, for observers.
struct NoticeRecord final {
    Text text;
    int style = 0;
    Text title;
    QWidget* owner = nullptr;
    int timeout_ms = 0;
};

// Tests install an observer to see notices without waiting for them: while one is installed,
// timed_notice records the call, does not show a box, and returns what the observer returns.
using NoticeObserver = std::function<int(const NoticeRecord&)>;
void set_notice_observer(NoticeObserver observer);

// Installs an observer for the guard's lifetime and keeps every notice it saw.
class ScopedNoticeRecorder final {
public:
    explicit ScopedNoticeRecorder(int result = kNoticeTimedOut);
    ~ScopedNoticeRecorder();
    ScopedNoticeRecorder(const ScopedNoticeRecorder&) = delete;
    ScopedNoticeRecorder& operator=(const ScopedNoticeRecorder&) = delete;

    const std::vector<NoticeRecord>& notices() const { return notices_; }
    void clear() { notices_.clear(); }

private:
    std::vector<NoticeRecord> notices_;
};

} // namespace zorvik
