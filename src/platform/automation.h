#pragma once

// The automation layer: objects created by ProgID from a registry and driven late-bound by
// member name, with variants and the standard conversions between them.
//
// Failure rule: nothing throws. A call on an empty reference, an unknown member, a member
// that fails, or a result that cannot be converted to the wanted type gives the empty value
// of that type (empty Text or Bytes, 0, false, an empty reference), and last_error() of this
// thread then holds a text. A successful get, put or call clears last_error().

#include "text/text.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

namespace zorvik {

class AutomationObject;
// A counted reference: copying adds a reference, reset() releases one.
using ObjectRef = std::shared_ptr<AutomationObject>;

class Variant final {
public:
    enum class Kind { Empty, Null, Bool, Int, Double, String, Bytes, Object };
    struct NullTag {};

    Variant() = default;
    Variant(NullTag) : value_(NullTag{}) {}
    Variant(bool b) : value_(b) {}
    Variant(std::int32_t i) : value_(i) {}
    Variant(double d) : value_(d) {}
    Variant(QString s) : value_(std::move(s)) {}
    Variant(Bytes b) : value_(std::make_shared<Bytes>(std::move(b))) {}
    // Shares a byte array without copying it: an object can hand out a large body this way.
    // Nobody changes the bytes while they are shared.
    explicit Variant(std::shared_ptr<Bytes> b)
        : value_(b ? std::move(b) : std::make_shared<Bytes>()) {}
    Variant(ObjectRef o) : value_(std::move(o)) {}
    Variant(const char*) = delete; // say from_text() or QStringLiteral()

    // Text crosses as UTF-16 converted from the program's code page.
    static Variant from_text(std::string_view text);
    static Variant null() { return Variant(NullTag{}); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool is_empty() const { return kind() == Kind::Empty; }

    // Direct access; valid only for the matching kind.
    bool as_bool() const { return std::get<bool>(value_); }
    std::int32_t as_int() const { return std::get<std::int32_t>(value_); }
    double as_double() const { return std::get<double>(value_); }
    const QString& as_string() const { return std::get<QString>(value_); }
    const Bytes& as_bytes() const { return *std::get<std::shared_ptr<Bytes>>(value_); }
    const ObjectRef& as_object() const { return std::get<ObjectRef>(value_); }
    // Moves the bytes out when this variant is their only holder, copies them otherwise.
    Bytes take_bytes();

private:
    std::variant<std::monostate, NullTag, bool, std::int32_t, double, QString,
                 std::shared_ptr<Bytes>, ObjectRef>
        value_;
};

using VariantList = std::vector<Variant>;

enum class InvokeKind { Get, Put, Call };

struct InvokeResult final {
    bool ok = false;
    Variant value;
    Text error;

    static InvokeResult success(Variant v = {}) { return {true, std::move(v), {}}; }
    static InvokeResult failure(Text why) { return {false, {}, std::move(why)}; }
};

// An object reachable by member name. Member names compare case-insensitively (ASCII).
// For Put the value is the last argument; any arguments before it are indices.
class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    virtual InvokeResult invoke(InvokeKind kind, std::string_view member,
                                std::span<const Variant> args) = 0;
};

// Case-insensitive (ASCII) member name comparison for AutomationObject implementations.
bool same_member(std::string_view a, std::string_view b);

// --- the layer -----------------------------------------------------------------------------

// Creates the object registered under `prog_id` (case-insensitive) into `ref`; on failure
// `ref` stays empty and false is returned.
bool create_object(ObjectRef& ref, std::string_view prog_id);

Variant get_property(const ObjectRef& ref, std::string_view name, const VariantList& index = {});
void put_property(const ObjectRef& ref, std::string_view name, const Variant& value);
void put_property(const ObjectRef& ref, std::string_view name, const VariantList& index,
                  const Variant& value);
Variant call_method(const ObjectRef& ref, std::string_view name, const VariantList& args = {});

void release(ObjectRef& ref);
bool is_empty(const ObjectRef& ref);

// The standard conversions. Each gives the empty value and sets last_error() when the variant
// has no reading of that type; none of them clears last_error().
Text to_text(const Variant& v);       // text results come back in the program's code page
QString to_qstring(const Variant& v); // the same, kept as UTF-16
double to_real(const Variant& v);
std::int32_t to_integer(const Variant& v); // the real reading, fraction dropped
bool to_logical(const Variant& v);
Bytes to_bytes(const Variant& v);
Bytes to_bytes(Variant&& v); // moves a byte array out instead of copying it
ObjectRef to_object(const Variant& v);

// The failure text of the most recent call on this thread; empty after a success.
Text last_error();
void set_last_error(Text why);
void clear_last_error();

// The per-thread stand-in for COM initialisation: a counter, balanced by its users.
void co_initialize();
void co_uninitialize();
int co_initialize_depth();

// --- the registry --------------------------------------------------------------------------

using ObjectFactory = std::function<ObjectRef()>;

// Registers (or replaces) a factory; ProgIDs compare case-insensitively.
void register_prog_id(std::string_view prog_id, ObjectFactory factory);
// Removes a ProgID and returns its factory (empty when none), so tests can reach the
// "cannot be created" paths and put it back afterwards.
ObjectFactory unregister_prog_id(std::string_view prog_id);

// Removes a ProgID for the lifetime of the guard.
class ScopedProgIdRemoval final {
public:
    explicit ScopedProgIdRemoval(std::string_view prog_id);
    ~ScopedProgIdRemoval();
    ScopedProgIdRemoval(const ScopedProgIdRemoval&) = delete;
    ScopedProgIdRemoval& operator=(const ScopedProgIdRemoval&) = delete;

private:
    Text prog_id_;
    ObjectFactory factory_;
};

} // namespace zorvik
