#include "platform/automation.h"

#include "codepage/codepage.h"
#include "platform/builtin_objects.h"

#include <cmath>
#include <limits>
#include <map>
#include <mutex>

namespace zorvik {
namespace {

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

Text lowered(std::string_view s) {
    Text out(s);
    for (char& c : out) {
        c = ascii_lower(c);
    }
    return out;
}

struct Registry final {
    std::mutex mutex;
    std::map<Text, ObjectFactory> factories;

    Registry() {
        factories[lowered("WinHttp.WinHttpRequest.5.1")] = make_winhttp_request_object;
        factories[lowered("ScriptControl")] = make_script_control;
        factories[lowered("MSScriptControl.ScriptControl")] = make_script_control;
        factories[lowered("VBScript.RegExp")] = make_regexp_object;
        factories[lowered("Adodb.Stream")] = make_ado_stream;
    }
};

Registry& registry() {
    static Registry r;
    return r;
}

thread_local Text t_last_error;
thread_local int t_com_depth = 0;

Variant finish(InvokeResult result, std::string_view member) {
    if (!result.ok) {
        set_last_error(result.error.empty() ? "the call of " + Text(member) + " failed"
                                            : std::move(result.error));
        return {};
    }
    clear_last_error();
    return std::move(result.value);
}

Variant invoke_checked(const ObjectRef& ref, InvokeKind kind, std::string_view member,
                       std::span<const Variant> args) {
    if (!ref) {
        set_last_error("the object reference is empty");
        return {};
    }
    return finish(ref->invoke(kind, member, args), member);
}

Variant no_reading(const char* what) {
    set_last_error(Text("type mismatch: the value has no ") + what + " reading");
    return {};
}

// The text of a number the way the standard variant conversion writes it: up to 15
// significant digits, no trailing zeros.
QString number_text(double d) {
    return QString::number(d, 'g', 15);
}

bool parse_number(const QString& s, double& out) {
    const QString t = s.trimmed();
    if (t.isEmpty()) {
        return false;
    }
    bool ok = false;
    out = t.toDouble(&ok);
    return ok && std::isfinite(out);
}

} // namespace

Variant Variant::from_text(std::string_view text) {
    return Variant(zorvik::to_qstring(text));
}

Bytes Variant::take_bytes() {
    std::shared_ptr<Bytes>& bytes = std::get<std::shared_ptr<Bytes>>(value_);
    if (bytes.use_count() == 1) {
        return std::move(*bytes);
    }
    return *bytes;
}

bool same_member(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool create_object(ObjectRef& ref, std::string_view prog_id) {
    ref.reset();
    ObjectFactory factory;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        const auto it = r.factories.find(lowered(prog_id));
        if (it != r.factories.end()) {
            factory = it->second;
        }
    }
    if (factory) {
        ref = factory();
    }
    if (!ref) {
        set_last_error("cannot create the object " + Text(prog_id));
        return false;
    }
    clear_last_error();
    return true;
}

Variant get_property(const ObjectRef& ref, std::string_view name, const VariantList& index) {
    return invoke_checked(ref, InvokeKind::Get, name, index);
}

void put_property(const ObjectRef& ref, std::string_view name, const Variant& value) {
    invoke_checked(ref, InvokeKind::Put, name, std::span<const Variant>(&value, 1));
}

void put_property(const ObjectRef& ref, std::string_view name, const VariantList& index,
                  const Variant& value) {
    VariantList args = index;
    args.push_back(value);
    invoke_checked(ref, InvokeKind::Put, name, args);
}

Variant call_method(const ObjectRef& ref, std::string_view name, const VariantList& args) {
    return invoke_checked(ref, InvokeKind::Call, name, args);
}

void release(ObjectRef& ref) {
    ref.reset();
}

bool is_empty(const ObjectRef& ref) {
    return !ref;
}

QString to_qstring(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        return {};
    case Variant::Kind::Bool:
        return v.as_bool() ? QStringLiteral("True") : QStringLiteral("False");
    case Variant::Kind::Int:
        return QString::number(v.as_int());
    case Variant::Kind::Double:
        return number_text(v.as_double());
    case Variant::Kind::String:
        return v.as_string();
    case Variant::Kind::Null:
    case Variant::Kind::Bytes:
    case Variant::Kind::Object:
        break;
    }
    no_reading("text");
    return {};
}

Text to_text(const Variant& v) {
    return from_qstring(to_qstring(v));
}

double to_real(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        return 0;
    case Variant::Kind::Bool:
        return v.as_bool() ? -1 : 0; // a true logical reads as -1, as automation has it
    case Variant::Kind::Int:
        return v.as_int();
    case Variant::Kind::Double:
        return v.as_double();
    case Variant::Kind::String: {
        double d = 0;
        if (parse_number(v.as_string(), d)) {
            return d;
        }
        break;
    }
    case Variant::Kind::Null:
    case Variant::Kind::Bytes:
    case Variant::Kind::Object:
        break;
    }
    no_reading("numeric");
    return 0;
}

std::int32_t to_integer(const Variant& v) {
    const double d = to_real(v);
    if (!std::isfinite(d) || d >= 2147483648.0 || d <= -2147483649.0) {
        no_reading("32-bit integer");
        return 0;
    }
    return static_cast<std::int32_t>(std::trunc(d));
}

bool to_logical(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Empty:
        return false;
    case Variant::Kind::Bool:
        return v.as_bool();
    case Variant::Kind::Int:
        return v.as_int() != 0;
    case Variant::Kind::Double:
        return v.as_double() != 0;
    case Variant::Kind::String: {
        const QString t = v.as_string().trimmed();
        if (t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) {
            return true;
        }
        if (t.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) {
            return false;
        }
        double d = 0;
        if (parse_number(t, d)) {
            return d != 0;
        }
        break;
    }
    case Variant::Kind::Null:
    case Variant::Kind::Bytes:
    case Variant::Kind::Object:
        break;
    }
    no_reading("logical");
    return false;
}

Bytes to_bytes(const Variant& v) {
    if (v.kind() == Variant::Kind::Bytes) {
        return v.as_bytes();
    }
    if (v.is_empty()) {
        return {};
    }
    no_reading("byte-array");
    return {};
}

Bytes to_bytes(Variant&& v) {
    if (v.kind() == Variant::Kind::Bytes) {
        return v.take_bytes();
    }
    return to_bytes(static_cast<const Variant&>(v));
}

ObjectRef to_object(const Variant& v) {
    if (v.kind() == Variant::Kind::Object) {
        return v.as_object();
    }
    if (v.is_empty()) {
        return nullptr;
    }
    no_reading("object");
    return nullptr;
}

Text last_error() {
    return t_last_error;
}
void set_last_error(Text why) {
    t_last_error = std::move(why);
}
void clear_last_error() {
    t_last_error.clear();
}

void co_initialize() {
    ++t_com_depth;
}
void co_uninitialize() {
    if (t_com_depth > 0) {
        --t_com_depth;
    }
}
int co_initialize_depth() {
    return t_com_depth;
}

void register_prog_id(std::string_view prog_id, ObjectFactory factory) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[lowered(prog_id)] = std::move(factory);
}

ObjectFactory unregister_prog_id(std::string_view prog_id) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.factories.find(lowered(prog_id));
    if (it == r.factories.end()) {
        return {};
    }
    ObjectFactory old = std::move(it->second);
    r.factories.erase(it);
    return old;
}

ScopedProgIdRemoval::ScopedProgIdRemoval(std::string_view prog_id)
    : prog_id_(prog_id), factory_(unregister_prog_id(prog_id)) {}

ScopedProgIdRemoval::~ScopedProgIdRemoval() {
    if (factory_) {
        register_prog_id(prog_id_, std::move(factory_));
    }
}

} // namespace zorvik
