// The script control: one JavaScript engine (QJSEngine) driven by member name.
//
// Members: Language, AddCode, Eval, ExecuteStatement, Reset, Run, Timeout, State, AllowUI,
// SitehWnd. Script errors come back as failed invokes with the engine's message; nothing
// throws. Only JavaScript is hosted: a Language other than a JavaScript name is refused and
// the control keeps the language it had, so code is never run in a language it was not
// written for.
//
// Timeout is enforced: a process-wide watchdog thread interrupts an evaluation that outlives
// it (a timer could not fire while the engine holds the thread).

#include "platform/builtin_objects.h"

#include "codepage/codepage.h"

#include <QJSEngine>
#include <QJSValue>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace zorvik {
namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any honest script, short enough that a runaway one never hangs the window.
constexpr int kDefaultTimeoutMs = 10000;
constexpr int kNoTimeout = -1;

// One thread for all engines: evaluations register a deadline; the thread sleeps until the
// earliest one and interrupts the engine whose evaluation is still running then. It is woken
// only when a new deadline comes before the one it sleeps towards, so a burst of short
// evaluations costs a lock each and no thread switch.
class Watchdog final {
public:
    struct Watch final {
        QJSEngine* engine = nullptr;
        Clock::time_point deadline;
        bool fired = false;
    };

    static Watchdog& instance() {
        static Watchdog watchdog;
        return watchdog;
    }

    void arm(Watch& watch) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) {
            thread_ = std::jthread([this](std::stop_token stop) { loop(stop); });
        }
        watches_.push_back(&watch);
        if (watch.deadline < next_wake_) {
            next_wake_ = watch.deadline;
            wake_.notify_one();
        }
    }

    // True when the watchdog interrupted this evaluation.
    bool disarm(Watch& watch) {
        std::lock_guard lock(mutex_);
        std::erase(watches_, &watch);
        return watch.fired;
    }

private:
    Watchdog() = default;

    void loop(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        while (!stop.stop_requested()) {
            const auto now = Clock::now();
            auto next = Clock::time_point::max();
            for (Watch* w : watches_) {
                if (w->fired) {
                    continue;
                }
                if (w->deadline <= now) {
                    w->engine->setInterrupted(true); // thread-safe by contract
                    w->fired = true;
                } else {
                    next = std::min(next, w->deadline);
                }
            }
            next_wake_ = next;
            const auto earlier = [&] { return next_wake_ < next; };
            if (next == Clock::time_point::max()) {
                wake_.wait(lock, stop, earlier);
            } else {
                wake_.wait_until(lock, stop, next, earlier);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::vector<Watch*> watches_;
    Clock::time_point next_wake_ = Clock::time_point::max();
    std::jthread thread_; // last: stopped and joined before the rest goes
};

// Arms the watchdog for one evaluation; no limit when the time-out is negative.
class WatchScope final {
public:
    WatchScope(QJSEngine& engine, int timeout_ms) {
        if (timeout_ms >= 0) {
            watch_.engine = &engine;
            watch_.deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
            Watchdog::instance().arm(watch_);
            armed_ = true;
        }
    }
    ~WatchScope() { finish(); }
    WatchScope(const WatchScope&) = delete;
    WatchScope& operator=(const WatchScope&) = delete;

    // True when the evaluation was interrupted; lets the engine run again.
    bool finish() {
        if (armed_) {
            armed_ = false;
            fired_ = Watchdog::instance().disarm(watch_);
            if (fired_) {
                watch_.engine->setInterrupted(false);
            }
        }
        return fired_;
    }

private:
    Watchdog::Watch watch_;
    bool armed_ = false;
    bool fired_ = false;
};

Text text_of_error(const QString& why) {
    return from_qstring(why);
}

Text timed_out(int timeout_ms) {
    return "the script ran longer than the time-out of " + std::to_string(timeout_ms) +
           " ms and was stopped";
}

bool is_javascript_name(const QString& name) {
    for (const char* known : {"JScript", "JavaScript", "ECMAScript"}) {
        if (name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// A script argument or property value as text, the way automation coerces to a string.
bool text_argument(const Variant& v, QString& out) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        out.clear();
        return true;
    case Variant::Kind::String:
        out = v.as_string();
        return true;
    case Variant::Kind::Bool:
    case Variant::Kind::Int:
    case Variant::Kind::Double:
        out = to_qstring(v);
        return true;
    case Variant::Kind::Null:
    case Variant::Kind::Bytes:
    case Variant::Kind::Object:
        break;
    }
    return false;
}

bool number_argument(const Variant& v, double& out) {
    switch (v.kind()) {
    case Variant::Kind::Bool:
        out = v.as_bool() ? -1 : 0;
        return true;
    case Variant::Kind::Int:
        out = v.as_int();
        return true;
    case Variant::Kind::Double:
        out = v.as_double();
        return std::isfinite(out);
    case Variant::Kind::String: {
        bool ok = false;
        out = v.as_string().trimmed().toDouble(&ok);
        return ok && std::isfinite(out);
    }
    case Variant::Kind::Empty:
    case Variant::Kind::Null:
    case Variant::Kind::Bytes:
    case Variant::Kind::Object:
        break;
    }
    return false;
}

bool int_argument(const Variant& v, int& out) {
    double d = 0;
    if (!number_argument(v, d) || d >= 2147483648.0 || d <= -2147483649.0) {
        return false;
    }
    out = static_cast<int>(std::trunc(d));
    return true;
}

bool bool_argument(const Variant& v, bool& out) {
    if (v.kind() == Variant::Kind::String) {
        const QString t = v.as_string().trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            out = t.size() == 4;
            return true;
        }
    }
    double d = 0;
    if (!number_argument(v, d)) {
        return false;
    }
    out = d != 0;
    return true;
}

// Script values that have a reading outside the engine. Objects and functions do not: they
// would have to outlive a Reset, so asking for one is a failure.
InvokeResult result_of(const QJSValue& v) {
    if (v.isUndefined()) {
        return InvokeResult::success();
    }
    if (v.isNull()) {
        return InvokeResult::success(Variant::null());
    }
    if (v.isBool()) {
        return InvokeResult::success(Variant(v.toBool()));
    }
    if (v.isNumber()) {
        const double d = v.toNumber();
        const bool integral = std::isfinite(d) && std::trunc(d) == d &&
                              d >= std::numeric_limits<std::int32_t>::min() &&
                              d <= std::numeric_limits<std::int32_t>::max() &&
                              !(d == 0 && std::signbit(d));
        return InvokeResult::success(integral ? Variant(static_cast<std::int32_t>(d)) : Variant(d));
    }
    if (v.isString()) {
        return InvokeResult::success(Variant(v.toString()));
    }
    return InvokeResult::failure("the script value is an object, which has no value outside the "
                                 "script engine");
}

bool script_value_of(const Variant& v, QJSValue& out) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        out = QJSValue(QJSValue::UndefinedValue);
        return true;
    case Variant::Kind::Null:
        out = QJSValue(QJSValue::NullValue);
        return true;
    case Variant::Kind::Bool:
        out = QJSValue(v.as_bool());
        return true;
    case Variant::Kind::Int:
        out = QJSValue(static_cast<int>(v.as_int()));
        return true;
    case Variant::Kind::Double:
        out = QJSValue(v.as_double());
        return true;
    case Variant::Kind::String:
        out = QJSValue(v.as_string());
        return true;
    case Variant::Kind::Bytes:
    case Variant::Kind::Object:
        break;
    }
    return false;
}

// One engine and what must die before it.
struct Engine final {
    QJSEngine js;
    // Calls a function and tells a throw from a return, which QJSValue::call cannot for a
    // thrown value that is not an Error object.
    QJSValue caller;
};

class ScriptControl final : public AutomationObject {
public:
    ScriptControl() : engine_(std::make_unique<Engine>()) {}

    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override {
        if (kind == InvokeKind::Call) {
            return call(member, args);
        }
        if (kind == InvokeKind::Get && args.empty()) {
            return get(member);
        }
        if (kind == InvokeKind::Put && args.size() == 1) {
            return put(member, args[0]);
        }
        return InvokeResult::failure("the script control has no property " + Text(member) +
                                     " taking these arguments");
    }

private:
    InvokeResult get(std::string_view member) const {
        if (same_member(member, "Language")) {
            return InvokeResult::success(Variant(language_));
        }
        if (same_member(member, "Timeout")) {
            return InvokeResult::success(Variant(std::int32_t{timeout_ms_}));
        }
        if (same_member(member, "State")) {
            return InvokeResult::success(Variant(std::int32_t{state_}));
        }
        if (same_member(member, "AllowUI")) {
            return InvokeResult::success(Variant(allow_ui_));
        }
        if (same_member(member, "SitehWnd")) {
            return InvokeResult::success(Variant(std::int32_t{site_hwnd_}));
        }
        return InvokeResult::failure("the script control has no property " + Text(member));
    }

    InvokeResult put(std::string_view member, const Variant& value) {
        if (same_member(member, "Language")) {
            QString name;
            if (!text_argument(value, name)) {
                return InvokeResult::failure("the language name is not a text");
            }
            if (!is_javascript_name(name)) {
                return InvokeResult::failure("the script language " + from_qstring(name) +
                                             " is not available; only JavaScript is");
            }
            language_ = name;
            return InvokeResult::success();
        }
        if (same_member(member, "Timeout")) {
            if (!int_argument(value, timeout_ms_)) {
                return InvokeResult::failure("the time-out is not a number");
            }
            return InvokeResult::success();
        }
        if (same_member(member, "State")) {
            int state = 0;
            if (!int_argument(value, state) || (state != 0 && state != 1)) {
                return InvokeResult::failure("the state must be 0 or 1");
            }
            state_ = state;
            return InvokeResult::success();
        }
        if (same_member(member, "AllowUI")) {
            if (!bool_argument(value, allow_ui_)) {
                return InvokeResult::failure("AllowUI is not a logical");
            }
            return InvokeResult::success();
        }
        if (same_member(member, "SitehWnd")) {
            if (!int_argument(value, site_hwnd_)) {
                return InvokeResult::failure("the window handle is not a number");
            }
            return InvokeResult::success();
        }
        return InvokeResult::failure("the script control has no property " + Text(member) +
                                     " to write");
    }

    InvokeResult call(std::string_view member, std::span<const Variant> args) {
        const bool add_code = same_member(member, "AddCode");
        const bool eval = same_member(member, "Eval");
        if (add_code || eval || same_member(member, "ExecuteStatement")) {
            QString code;
            if (args.size() != 1 || !text_argument(args[0], code)) {
                return InvokeResult::failure(Text(member) + " takes one text");
            }
            InvokeResult r = evaluate(code);
            if (r.ok && !eval) {
                r.value = Variant();
            }
            return r;
        }
        if (same_member(member, "Run")) {
            return run(args);
        }
        if (same_member(member, "Reset")) {
            engine_ = std::make_unique<Engine>();
            state_ = 0;
            return InvokeResult::success();
        }
        return InvokeResult::failure("the script control has no method " + Text(member));
    }

    InvokeResult evaluate(const QString& code) {
        QJSEngine& js = engine_->js;
        WatchScope watch(js, timeout_ms_); // the message of a thrown object is script, too
        QStringList trace;                 // filled only when something was thrown
        const QJSValue result = js.evaluate(code, QString(), 1, &trace);
        const bool thrown = !trace.isEmpty();
        const QString why = thrown ? result.toString() : QString();
        if (watch.finish() && (thrown || result.isError())) {
            return InvokeResult::failure(timed_out(timeout_ms_));
        }
        return thrown ? InvokeResult::failure(text_of_error(why)) : result_of(result);
    }

    InvokeResult run(std::span<const Variant> args) {
        QString name;
        if (args.empty() || !text_argument(args[0], name)) {
            return InvokeResult::failure("Run takes the name of a procedure");
        }
        QJSEngine& js = engine_->js;
        QJSValue list = js.newArray(static_cast<uint>(args.size() - 1));
        for (std::size_t i = 1; i < args.size(); ++i) {
            QJSValue v;
            if (!script_value_of(args[i], v)) {
                return InvokeResult::failure("argument " + std::to_string(i) +
                                             " cannot pass into the script engine");
            }
            list.setProperty(static_cast<quint32>(i - 1), v);
        }
        if (engine_->caller.isUndefined()) {
            engine_->caller = js.evaluate(
                QStringLiteral("(function (f, a) { try { return [true, f.apply(undefined, a)] } "
                               "catch (e) { return [false, e] } })"));
        }
        WatchScope watch(js, timeout_ms_); // a getter or a thrown object's text is script, too
        const QJSValue procedure = js.globalObject().property(name);
        if (!procedure.isCallable()) {
            return InvokeResult::failure("the script has no procedure " + from_qstring(name));
        }
        const QJSValue outcome = engine_->caller.call({procedure, list});
        // The interrupt cannot be caught, so it arrives bare instead of as [ok, value].
        const bool finished = outcome.isArray();
        const bool returned = finished && outcome.property(0).toBool();
        const QJSValue value = finished ? outcome.property(1) : outcome;
        const QString why = returned ? QString() : value.toString();
        if (watch.finish() && !returned) {
            return InvokeResult::failure(timed_out(timeout_ms_));
        }
        return returned ? result_of(value) : InvokeResult::failure(text_of_error(why));
    }

    std::unique_ptr<Engine> engine_;
    QString language_ = QStringLiteral("JScript");
    int timeout_ms_ = kDefaultTimeoutMs;
    int state_ = 0;
    bool allow_ui_ = true;
    int site_hwnd_ = 0;
};

} // namespace

ObjectRef make_script_control() {
    return std::make_shared<ScriptControl>();
}

} // namespace zorvik
