#include "script/json_object.h"

#include <charconv>
#include <string>

namespace zorvik {

// pristine: nothing but init has run in the engine, so a parse may keep it instead of making
// a new one. foreign: code we did not write has run in it (a caller's expression or value, a
// path that is more than member access, or anything through a handed-out reference), so it
// may hold globals we do not know of.
struct JsonObject::EngineNotes final {
    bool pristine = false;
    bool foreign = false;
};

namespace {

constexpr std::string_view kProgId = "MSScriptControl.ScriptControl";
constexpr std::string_view kUnprotect = ".replace(str_reg, '\\\\')";
// Commas between values that parse() lets through: half of what overflows the engine.
constexpr std::size_t kMaxJsonSeparators = 250000;

// get__count, get__name_All and get__extend serve the statements below; set__parsed puts a
// text into the root as data, never as code.
constexpr std::string_view kFunctions = R"JS(
function get__count(c) {
    return Object.prototype.toString.call(c) == '[object Array]' ? c.length : 0;
}
function get__name_All(a) {
    if (Object.prototype.toString.call(a) != '[object Object]') return '';
    var names = [];
    for (var k in a) {
        if (typeof a[k] != 'function') names.push(k);
    }
    return names.join('\r\n');
}
function get__extend(target, source) {
    if (Object.prototype.toString.call(target) == '[object Array]') {
        for (var i = 0; i < source.length; i++) target.push(source[i]);
        return target;
    }
    for (var k in source) {
        var kind = typeof target[k];
        if (kind == 'string' || kind == 'boolean' || kind == 'number' || kind == 'undefined') {
            target[k] = source[k];
        } else if (kind == 'object') {
            target[k] = get__extend(target[k], source[k]);
        }
    }
    return target;
}
function set__parsed(name, text) {
    var value = null;
    if (text === '') {
        value = undefined;
    } else {
        try { value = JSON.parse(text); } catch (e) {}
    }
    (function () { return this; })()[name] = value;
    return value != null;
}
)JS";

// JSON for an engine that has none. It is handed to eval as a string only there: compiling it
// in every engine would cost more than the engine itself.
constexpr std::string_view kJsonPolyfill = R"JS(
    var J = global.JSON, toString = Object.prototype.toString;
    function isArray(v) { return toString.call(v) == '[object Array]'; }
    function quote(s) {
        var out = '"';
        for (var i = 0; i < s.length; i++) {
            var c = s.charAt(i), n = s.charCodeAt(i), named = '\b\t\n\f\r'.indexOf(c);
            if (c == '"' || c == '\\') out += '\\' + c;
            else if (named >= 0) out += '\\' + 'btnfr'.charAt(named);
            else if (n < 0x20) out += '\\u' + ('000' + n.toString(16)).slice(-4);
            else out += c;
        }
        return out + '"';
    }
    if (typeof J.stringify != 'function') {
        J.stringify = function (value, replacer, space) {
            var indent = '', gap = '', stack = [], allow = null, i;
            if (typeof space == 'number') {
                for (i = 0; i < Math.min(10, space); i++) indent += ' ';
            } else if (typeof space == 'string') {
                indent = space.slice(0, 10);
            }
            if (isArray(replacer)) {
                allow = [];
                for (i = 0; i < replacer.length; i++) {
                    if (typeof replacer[i] == 'string' || typeof replacer[i] == 'number') {
                        allow.push(String(replacer[i]));
                    }
                }
            }
            function str(key, holder) {
                var v = holder[key], parts = [], outer = gap, keys, k, e, out;
                if (v && typeof v == 'object' && typeof v.toJSON == 'function') v = v.toJSON(key);
                if (typeof replacer == 'function') v = replacer.call(holder, key, v);
                if (v && typeof v == 'object') {
                    k = toString.call(v);
                    if (k == '[object Number]' || k == '[object String]' || k == '[object Boolean]') {
                        v = v.valueOf();
                    }
                }
                switch (typeof v) {
                case 'string': return quote(v);
                case 'number': return isFinite(v) ? String(v) : 'null';
                case 'boolean': return String(v);
                case 'object':
                    if (v === null) return 'null';
                    for (k = 0; k < stack.length; k++) {
                        if (stack[k] === v) throw new TypeError('JSON.stringify: cyclic structure');
                    }
                    stack.push(v);
                    gap += indent;
                    if (isArray(v)) {
                        for (k = 0; k < v.length; k++) {
                            e = str(k, v);
                            parts.push(e === undefined ? 'null' : e);
                        }
                        out = parts.length == 0 ? '[]' : gap
                            ? '[\n' + gap + parts.join(',\n' + gap) + '\n' + outer + ']'
                            : '[' + parts.join(',') + ']';
                    } else {
                        keys = allow;
                        if (!keys) {
                            keys = [];
                            for (k in v) {
                                if (Object.prototype.hasOwnProperty.call(v, k)) keys.push(k);
                            }
                        }
                        for (k = 0; k < keys.length; k++) {
                            e = str(keys[k], v);
                            if (e !== undefined) parts.push(quote(keys[k]) + (gap ? ': ' : ':') + e);
                        }
                        out = parts.length == 0 ? '{}' : gap
                            ? '{\n' + gap + parts.join(',\n' + gap) + '\n' + outer + '}'
                            : '{' + parts.join(',') + '}';
                    }
                    stack.pop();
                    gap = outer;
                    return out;
                }
                return undefined;
            }
            return str('', {'': value});
        };
    }
    if (typeof J.parse != 'function') {
        J.parse = function (source, reviver) {
            var text = String(source), at = 0;
            function fail() { throw new SyntaxError('JSON.parse: unexpected text at ' + at); }
            function peek() { return text.charAt(at); }
            function white() { while (at < text.length && ' \t\n\r'.indexOf(peek()) >= 0) at++; }
            function word(w, v) {
                if (text.substr(at, w.length) != w) fail();
                at += w.length;
                return v;
            }
            function digits() {
                var start = at;
                while (peek() >= '0' && peek() <= '9') at++;
                if (at == start) fail();
            }
            function number() {
                var start = at;
                if (peek() == '-') at++;
                if (peek() == '0') at++; else digits();
                if (peek() == '.') { at++; digits(); }
                if (peek() == 'e' || peek() == 'E') {
                    at++;
                    if (peek() == '+' || peek() == '-') at++;
                    digits();
                }
                return Number(text.slice(start, at));
            }
            function string() {
                var out = '', c, i, hex;
                at++;
                for (;;) {
                    if (at >= text.length) fail();
                    c = text.charAt(at++);
                    if (c == '"') return out;
                    if (c < ' ') fail();
                    if (c != '\\') { out += c; continue; }
                    c = text.charAt(at++);
                    i = 'bfnrt"\\/'.indexOf(c);
                    if (c == 'u') {
                        hex = text.substr(at, 4);
                        if (!/^[0-9a-fA-F]{4}$/.test(hex)) fail();
                        out += String.fromCharCode(parseInt(hex, 16));
                        at += 4;
                    } else if (c && i >= 0) {
                        out += '\b\f\n\r\t"\\/'.charAt(i);
                    } else {
                        fail();
                    }
                }
            }
            function put(o, k, v) {
                if (k == '__proto__' && Object.defineProperty) {
                    Object.defineProperty(o, k, {value: v, writable: true, enumerable: true, configurable: true});
                } else {
                    o[k] = v;
                }
            }
            function value() {
                var c, o, k;
                white();
                c = peek();
                if (c == '{') {
                    at++;
                    o = {};
                    white();
                    if (peek() == '}') { at++; return o; }
                    for (;;) {
                        white();
                        if (peek() != '"') fail();
                        k = string();
                        white();
                        if (text.charAt(at++) != ':') fail();
                        put(o, k, value());
                        white();
                        c = text.charAt(at++);
                        if (c == '}') return o;
                        if (c != ',') fail();
                    }
                }
                if (c == '[') {
                    at++;
                    o = [];
                    white();
                    if (peek() == ']') { at++; return o; }
                    for (;;) {
                        o.push(value());
                        white();
                        c = text.charAt(at++);
                        if (c == ']') return o;
                        if (c != ',') fail();
                    }
                }
                if (c == '"') return string();
                if (c == '-' || (c >= '0' && c <= '9')) return number();
                if (c == 't') return word('true', true);
                if (c == 'f') return word('false', false);
                if (c == 'n') return word('null', null);
                fail();
            }
            function walk(holder, key) {
                var v = holder[key], k, n;
                if (v && typeof v == 'object') {
                    for (k in v) {
                        if (!Object.prototype.hasOwnProperty.call(v, k)) continue;
                        n = walk(v, k);
                        if (n === undefined) delete v[k]; else v[k] = n;
                    }
                }
                return reviver.call(holder, key, v);
            }
            var result = value();
            white();
            if (at < text.length) fail();
            return typeof reviver == 'function' ? walk({'': result}, '') : result;
        };
    }
)JS";

// Every engine gets the inherited toJSONString and parseJSON, which the for-in loops of
// get__name_All and get__extend pass over because they are functions.
constexpr std::string_view kPolyfillFrame = R"JS(
(function (global) {
    if (typeof JSON != 'object' || JSON === null) global.JSON = {};
    if (typeof JSON.stringify != 'function' || typeof JSON.parse != 'function') {
        eval(%POLYFILL%);
    }
    if (typeof Date.prototype.toJSON != 'function') {
        Date.prototype.toJSON = function () {
            function two(n) { return n < 10 ? '0' + n : String(n); }
            return isFinite(this.valueOf())
                ? this.getUTCFullYear() + '-' + two(this.getUTCMonth() + 1) + '-' +
                  two(this.getUTCDate()) + 'T' + two(this.getUTCHours()) + ':' +
                  two(this.getUTCMinutes()) + ':' + two(this.getUTCSeconds()) + 'Z'
                : null;
        };
        String.prototype.toJSON = Number.prototype.toJSON = Boolean.prototype.toJSON =
            function () { return this.valueOf(); };
    }
    if (typeof Object.prototype.toJSONString != 'function') {
        Object.prototype.toJSONString = function (replacer) { return JSON.stringify(this, replacer); };
        Object.prototype.parseJSON = function (reviver) { return JSON.parse(String(this), reviver); };
    }
})(this);
)JS";

bool is_ident_start(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_ident_part(char c) {
    return is_ident_start(c) || is_digit(c);
}

// Member access only: ASCII names joined by dots, decimal indices and plainly quoted names in
// brackets. Evaluating such a path has no side effects and can create no global.
bool is_member_path(std::string_view p) {
    std::size_t i = 0;
    bool first = true;
    while (i < p.size()) {
        if (p[i] == '[') {
            ++i;
            if (i < p.size() && (p[i] == '\'' || p[i] == '"')) {
                const char quote = p[i++];
                while (i < p.size() && p[i] != quote) {
                    const auto b = static_cast<unsigned char>(p[i]);
                    if (b == '\\' || b < 0x20 || b >= 0x80) {
                        return false;
                    }
                    ++i;
                }
                if (i == p.size()) {
                    return false;
                }
                ++i;
            } else {
                const std::size_t start = i;
                while (i < p.size() && is_digit(p[i])) {
                    ++i;
                }
                if (i == start) {
                    return false;
                }
            }
            if (i == p.size() || p[i] != ']') {
                return false;
            }
            ++i;
        } else {
            if (!first) {
                if (p[i] != '.') {
                    return false;
                }
                ++i;
            }
            if (i == p.size() || !is_ident_start(p[i])) {
                return false;
            }
            while (i < p.size() && is_ident_part(p[i])) {
                ++i;
            }
        }
        first = false;
    }
    return true;
}

// Replies carry raw line breaks (and other control characters) inside string values, which
// a script literal tolerated but JSON does not. Escapes them inside strings only, so the
// line breaks between the tokens of indented JSON stay whitespace. Counts the commas outside
// strings into `separators`.
Text escape_controls_in_strings(std::string_view s, std::size_t& separators) {
    static constexpr char kHex[] = "0123456789abcdef";
    Text out;
    out.reserve(s.size() + 16);
    bool in_string = false;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t n = char_length(s, i); // a trail byte may look like '"' or '\'
        if (n > 1) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        const auto c = static_cast<unsigned char>(s[i++]);
        if (!in_string) {
            in_string = c == '"';
            separators += c == ',' ? 1 : 0;
            out.push_back(static_cast<char>(c));
        } else if (c == '\\') {
            out.push_back('\\');
            if (i < s.size()) {
                const std::size_t m = char_length(s, i);
                out.append(s.substr(i, m));
                i += m;
            }
        } else if (c < 0x20) {
            switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += "\\u00";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0x0F]);
            }
        } else {
            in_string = c != '"';
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// The line separators U+2028 and U+2029 in GB18030; the engine ends a string literal there.
constexpr std::string_view kLineSeparator = "\x81\x36\xA6\x35";
constexpr std::string_view kParagraphSeparator = "\x81\x36\xA6\x36";

// The body of a script string literal in apostrophes that holds `value` again.
Text escape_for_literal(std::string_view value) {
    Text out;
    out.reserve(value.size() + 8);
    std::size_t i = 0;
    while (i < value.size()) {
        const std::size_t n = char_length(value, i);
        const std::string_view ch = value.substr(i, n);
        i += n;
        if (ch == kLineSeparator) {
            out += "\\u2028";
        } else if (ch == kParagraphSeparator) {
            out += "\\u2029";
        } else if (ch == "\\") {
            out += "\\\\";
        } else if (ch == "'") {
            out += "\\'";
        } else if (ch == "\"") {
            out += "\\\"";
        } else if (ch == "\r") {
            out += "\\r";
        } else if (ch == "\n") {
            out += "\\n";
        } else {
            out += ch;
        }
    }
    return out;
}

// The whole prelude in one piece, the polyfill inside it as a string literal.
const Text& prelude() {
    static const Text text = [] {
        Text frame(kPolyfillFrame);
        constexpr std::string_view kSlot = "%POLYFILL%";
        frame.replace(frame.find(kSlot), kSlot.size(),
                      "'" + escape_for_literal(kJsonPolyfill) + "'");
        return Text(kFunctions) + frame;
    }();
    return text;
}

// "%.13g" without the locale's decimal separator.
Text number_text(double value) {
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 13);
    return Text(buf, result.ptr);
}

} // namespace

std::string_view json_prelude() {
    return prelude();
}

// Every live object holds one initialisation for its whole life, however many engines its
// parses make, so the count stays balanced.
JsonObject::JsonObject() {
    co_initialize();
    init();
}

JsonObject::~JsonObject() {
    release(control_);
    co_uninitialize();
}

JsonObject::JsonObject(const JsonObject& other)
    : root_name_(other.root_name_), control_(other.control_), notes_(other.notes_) {
    co_initialize();
}

JsonObject& JsonObject::operator=(const JsonObject& other) {
    root_name_ = other.root_name_;
    control_ = other.control_;
    notes_ = other.notes_;
    return *this;
}

void JsonObject::init() {
    notes_ = std::make_shared<EngineNotes>();
    if (!create_object(control_, kProgId)) {
        return;
    }
    put_property(control_, "Language", Variant::from_text("JavaScript"));
    call_method(control_, "AddCode", {Variant::from_text(prelude())});
    eval("var " + root_name_ +
         " = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')");
    notes_->pristine = true;
}

bool JsonObject::parse(std::string_view json_text) {
    if (!control_) {
        return false;
    }
    // An untouched engine that no copy shares is as good as a fresh one, and costs nothing.
    if (!notes_->pristine || control_.use_count() != 1) {
        init();
        if (!control_) {
            return false;
        }
    }
    notes_->pristine = false;
    // A byte-order mark that survived the decoding is no part of the document.
    constexpr std::string_view kByteOrderMark = "\x84\x31\x95\x33";
    if (starts_with(json_text, kByteOrderMark)) {
        json_text.remove_prefix(kByteOrderMark.size());
    }
    std::size_t separators = 0;
    const Text escaped = escape_controls_in_strings(json_text, separators);
    // The engine's JSON.parse keeps an array's elements on its stack until the array closes;
    // some half a million overflow it and end the process. No reply this program asks for
    // comes near that, so such a text is refused like any that is not JSON.
    const std::string_view text =
        separators > kMaxJsonSeparators ? std::string_view("null") : std::string_view(escaped);
    const Variant parsed = call_method(control_, "Run",
                                       {Variant::from_text("set__parsed"),
                                        Variant::from_text(root_name_), Variant::from_text(text)});
    return to_logical(parsed);
}

bool JsonObject::clear() {
    return to_logical(eval(root_name_ + " = {}"));
}

Text JsonObject::to_json() const {
    return eval_text("JSON.stringify(" + root_name_ + ")" + Text(kUnprotect));
}

bool JsonObject::set_value(std::string_view path, std::string_view value, bool value_is_json) {
    if (!value_is_json) {
        const Text full = full_path(path);
        return eval_logical(full + " = '" + escape_for_literal(value) +
                            "'.replace(/\\\\/g, str_Code)");
    }
    bool found = false;
    const Text full = full_path(path, &found);
    if (!value.empty()) {
        notes_->foreign = true;
    }
    const Text v = value.empty() ? Text("{}") : Text(value);
    return eval_logical(found ? full + " = get__extend(" + full + ", " + v + ")"
                              : full + " = eval(" + v + ")");
}

bool JsonObject::set_expression(std::string_view path, std::string_view expression) {
    const Text full = full_path(path);
    notes_->foreign = true;
    return eval_logical(full + " = eval(" + Text(expression) + ")");
}

bool JsonObject::resolve_path(Text& path) const {
    bool found = false;
    path = full_path(path, &found);
    return found;
}

int JsonObject::type_of(std::string_view path) const {
    if (!control_) {
        return 0; // without an engine every result is the empty one
    }
    const Text full = full_path(path);
    if (eval_logical(full + " == null")) {
        return 0;
    }
    const Text kind = eval_text("Object.prototype.toString.call(" + full + ")");
    struct Code {
        std::string_view name;
        int code;
    };
    static constexpr Code kCodes[] = {{"[object String]", 6},
                                      {"[object Array]", 5},
                                      {"[object Object]", 4},
                                      {"[object Number]", 2},
                                      {"[object Boolean]", 1}};
    for (const Code& c : kCodes) {
        if (kind == c.name) {
            return c.code;
        }
    }
    return -1;
}

Text JsonObject::get_text(std::string_view path, bool as_json) const {
    const Text full = full_path(path);
    return as_json ? eval_text("JSON.stringify(" + full + ")" + Text(kUnprotect))
                   : eval_text(full + Text(kUnprotect));
}

int JsonObject::key_names(TextList& names, std::string_view path) const {
    names.clear();
    const Text full = full_path(path);
    names = split(eval_text("get__name_All(" + full + ")"), "\r\n");
    return static_cast<int>(names.size());
}

int JsonObject::count(std::string_view path) const {
    const Text full = full_path(path);
    return to_integer(eval("get__count(" + full + ")"));
}

JsonObject JsonObject::get_object(std::string_view path) const {
    return copy_of(full_path(path));
}

bool JsonObject::push(std::string_view value, std::string_view path, bool value_is_json) {
    const Text full = full_path(path);
    if (value_is_json || value.find_first_of("'\\") != std::string_view::npos) {
        notes_->foreign = true; // the value is, or can break out into, script
    }
    const Text v = value_is_json ? Text(value) : "'" + Text(value) + "'";
    return eval_logical("if (Object.prototype.toString.call(" + full + ") != '[object Array]') { " +
                        full + " = new Array() } " + full + ".push(" + v + ")");
}

JsonObject JsonObject::get_element_object(int index, std::string_view path) const {
    return copy_of(full_path(path) + "[" + std::to_string(index) + "]");
}

Text JsonObject::get_element_text(int index, std::string_view path, bool as_json) const {
    const Text element = full_path(path) + "[" + std::to_string(index) + "]";
    return as_json ? eval_text("JSON.stringify(" + element + ")" + Text(kUnprotect))
                   : eval_text(element + Text(kUnprotect));
}

bool JsonObject::set_element(int index, std::string_view path, std::string_view value,
                             bool value_is_json) {
    const Text full = full_path(path);
    if (value_is_json || value.find_first_of("'\\") != std::string_view::npos) {
        notes_->foreign = true;
    }
    const Text v = value_is_json ? Text(value) : "'" + Text(value) + "'";
    return eval_logical(full + "[" + std::to_string(index) + "] = " + v);
}

bool JsonObject::remove_element(int index, std::string_view path) {
    const Text full = full_path(path);
    return eval_logical(full + ".splice(" + std::to_string(index) + ", 1)");
}

bool JsonObject::remove(std::string_view path) {
    const Text full = full_path(path);
    return eval_logical("delete " + full);
}

bool JsonObject::set_number(std::string_view path, double value) {
    const Text full = full_path(path);
    return eval_logical(full + " = " + number_text(value));
}

double JsonObject::get_number(std::string_view path) const {
    const Text full = full_path(path);
    return to_real(eval(full));
}

Text JsonObject::get_json(std::string_view path) const {
    const Text full = full_path(path);
    return eval_text("JSON.stringify(" + full + ")" + Text(kUnprotect));
}

ObjectRef JsonObject::script_control() const {
    notes_->pristine = false;
    notes_->foreign = true;
    return control_;
}

// The literal two steps, except that evaluations whose outcome is already known are skipped:
// a path that does not begin with the root name never passes step 1, and a member path that
// names another global ("data[0]") cannot pass it while only our own code has run; step 2's
// test is skipped when nobody wants its answer and evaluating the path has no side effects.
Text JsonObject::full_path(std::string_view path, bool* found) const {
    const bool member_path = is_member_path(path);
    if (!member_path) {
        notes_->foreign = true;
    }
    const bool known = member_path && !notes_->foreign;
    if (starts_with(path, root_name_)) {
        const bool other_global =
            path.size() > root_name_.size() && is_ident_part(path[root_name_.size()]);
        if (!(known && other_global) && eval_logical(Text(path) + " != null")) {
            if (found != nullptr) {
                *found = true;
            }
            return Text(path);
        }
    }
    Text full = root_name_;
    if (!path.empty()) {
        if (path.front() != '[') {
            full += '.';
        }
        full += path;
    }
    if (found != nullptr) {
        *found = eval_logical(full + " != null");
    } else if (!known) {
        eval_logical(full + " != null");
    }
    return full;
}

Variant JsonObject::eval(const Text& statement) const {
    notes_->pristine = false;
    return call_method(control_, "Eval", {Variant::from_text(statement)});
}

Text JsonObject::eval_text(const Text& statement) const {
    return to_text(eval(statement));
}

bool JsonObject::eval_logical(const Text& statement) const {
    return to_logical(eval(statement));
}

// A deep copy through JSON text. The text keeps U+2400 where set_value stored a backslash:
// turned back into a backslash it would be read as an escape and change or break the copy.
JsonObject JsonObject::copy_of(const Text& value_expression) const {
    JsonObject copy;
    copy.parse(eval_text("JSON.stringify(" + value_expression + ")"));
    return copy;
}

} // namespace zorvik
