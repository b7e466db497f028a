#include "platform/ui/timed_notice.h"

#include "codepage/codepage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <utility>
#include <vector>

namespace zorvik {

namespace {

constexpr int kDefaultTimeoutMs = 5000;
constexpr int kOwnerSearchLimitMs = 1000;

// Classic message-box style flags.
constexpr int kButtonsMask = 0x0000F;
constexpr int kIconMask = 0x000F0;
constexpr int kDefaultButtonMask = 0x00F00;
constexpr int kSystemModal = 0x01000;
constexpr int kTaskModal = 0x02000;
constexpr int kTopmost = 0x40000;

NoticeObserver& observer_slot() {
    static NoticeObserver observer;
    return observer;
}

QApplication* gui_application() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        return nullptr;
    }
    return app;
}

struct ButtonSpec {
    QMessageBox::StandardButton button;
    const char16_t* caption;
    int result; // the classic button identifier minus 1
};

constexpr ButtonSpec kOk{QMessageBox::Ok, u"确定", 0};
constexpr ButtonSpec kCancel{QMessageBox::Cancel, u"取消", 1};
constexpr ButtonSpec kAbort{QMessageBox::Abort, u"中止", 2};
constexpr ButtonSpec kRetry{QMessageBox::Retry, u"重试", 3};
constexpr ButtonSpec kIgnore{QMessageBox::Ignore, u"忽略", 4};
constexpr ButtonSpec kYes{QMessageBox::Yes, u"是", 5};
constexpr ButtonSpec kNo{QMessageBox::No, u"否", 6};

// The buttons of a style, left to right; unknown button sets fall back to a single OK.
std::vector<ButtonSpec> buttons_of(int style) {
    switch (style & kButtonsMask) {
    case 1:
        return {kOk, kCancel};
    case 2:
        return {kAbort, kRetry, kIgnore};
    case 3:
        return {kYes, kNo, kCancel};
    case 4:
        return {kYes, kNo};
    case 5:
        return {kRetry, kCancel};
    default:
        return {kOk};
    }
}

QMessageBox::Icon icon_of(int style) {
    switch (style & kIconMask) {
    case 0x10:
        return QMessageBox::Critical;
    case 0x20:
        return QMessageBox::Question;
    case 0x30:
        return QMessageBox::Warning;
    case 0x40:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

bool can_own(const QWidget* window) {
    if (window == nullptr || !window->isWindow() || !window->isVisible() || window->isMinimized()) {
        return false;
    }
    switch (window->windowType()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::Desktop:
        return false;
    default:
        return true;
    }
}

// The topmost visible window of this process. Qt does not expose the stacking order, so the
// active modal window comes first, then the active window, then (with no window active, as
// without a window manager) a modal window, then one that stands above a parent window.
QWidget* topmost_window() {
    if (QWidget* modal = QApplication::activeModalWidget(); can_own(modal)) {
        return modal;
    }
    if (QWidget* active = QApplication::activeWindow(); can_own(active)) {
        return active;
    }
    QWidget* best = nullptr;
    int best_rank = -1;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (!can_own(window)) {
            continue;
        }
        const int rank = (window->isModal() ? 2 : 0) + (window->parentWidget() != nullptr ? 1 : 0);
        if (rank > best_rank) {
            best = window;
            best_rank = rank;
        }
    }
    return best;
}

// Deletes the box when the call ends, unless its owner window took it along already.
class BoxGuard final {
public:
    explicit BoxGuard(QMessageBox* box) : box_(box) {}
    ~BoxGuard() { delete box_.data(); }
    BoxGuard(const BoxGuard&) = delete;
    BoxGuard& operator=(const BoxGuard&) = delete;
    QMessageBox* get() const { return box_.data(); }

private:
    QPointer<QMessageBox> box_;
};

int show_box(const NoticeRecord& notice) {
    QWidget* owner = notice.owner != nullptr ? notice.owner->window() : nullptr;
    BoxGuard guard(new QMessageBox(owner));
    QMessageBox* box = guard.get();
    box->setObjectName(QStringLiteral("timed_notice"));
    // A message may carry text from the network: never read it as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(to_qstring(notice.text));
    box->setWindowTitle(to_qstring(notice.title));
    box->setIcon(icon_of(notice.style));

    const std::vector<ButtonSpec> choices = buttons_of(notice.style);
    for (const ButtonSpec& choice : choices) {
        box->addButton(choice.button)->setText(QString::fromUtf16(choice.caption));
    }
    const auto default_index = static_cast<std::size_t>((notice.style & kDefaultButtonMask) >> 8);
    box->setDefaultButton(choices.at(default_index < choices.size() ? default_index : 0).button);

    if (owner != nullptr && (notice.style & kTaskModal) == 0) {
        box->setWindowModality(Qt::WindowModal);
    } else {
        box->setWindowModality(Qt::ApplicationModal);
    }
    if ((notice.style & (kTopmost | kSystemModal)) != 0) {
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }

    bool timed_out = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, box, [&timed_out, box] {
        timed_out = true;
        box->done(QMessageBox::NoButton);
    });
    // A time-out of zero or less leaves the box waiting for a button.
    if (notice.timeout_ms > 0) {
        timer.start(notice.timeout_ms);
    }

    box->exec();
    timer.stop();

    if (guard.get() == nullptr || timed_out) {
        // Gone with its owner, or closed by the clock: no button closed it.
        return kNoticeTimedOut;
    }
    const QMessageBox::StandardButton pressed = box->standardButton(box->clickedButton());
    for (const ButtonSpec& choice : choices) {
        if (choice.button == pressed) {
            return choice.result;
        }
    }
    return kNoticeTimedOut;
}

} // namespace

int timed_notice(const Text& text, std::optional<int> style, std::optional<Text> title,
                 std::optional<QWidget*> owner, std::optional<int> timeout_ms) {
    NoticeRecord notice;
    notice.text = text;
    notice.style = style.value_or(0);
    notice.title = title.has_value() ? std::move(*title) : from_qstring(QStringLiteral("友情提醒"));
    notice.timeout_ms = timeout_ms.value_or(kDefaultTimeoutMs);

    // A copy, so an observer may replace itself while it runs.
    if (const NoticeObserver observer = observer_slot()) {
        // Observers must not wait: one look for the owner, no search.
        notice.owner =
            owner.has_value() ? *owner : find_process_window(QCoreApplication::applicationPid(), 0);
        return observer(notice);
    }

    if (gui_application() == nullptr) {
        return kNoticeCannotShow;
    }
    notice.owner = owner.has_value() ? *owner
                                     : find_process_window(QCoreApplication::applicationPid(),
                                                           kOwnerSearchLimitMs);
    return show_box(notice);
}

QWidget* find_process_window(long long process_id, int time_limit_ms) {
    if (gui_application() == nullptr || process_id != QCoreApplication::applicationPid()) {
        return nullptr;
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (QWidget* window = topmost_window()) {
            return window;
        }
        if (clock.elapsed() >= time_limit_ms) {
            return nullptr;
        }
        // Let a window that is being shown arrive, and keep the others painting.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

void set_notice_observer(NoticeObserver observer) {
    observer_slot() = std::move(observer);
}

ScopedNoticeRecorder::ScopedNoticeRecorder(int result) {
    set_notice_observer([this, result](const NoticeRecord& notice) {
        notices_.push_back(notice);
        return result;
    });
}

ScopedNoticeRecorder::~ScopedNoticeRecorder() {
    set_notice_observer(nullptr);
}

} // namespace zorvik
