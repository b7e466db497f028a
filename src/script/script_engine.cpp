#include "script/script_engine.h"

#include <array>

namespace zorvik {

ScriptEngine::ScriptEngine() {
    co_initialize();
    create_object(control_, "ScriptControl");
    put_property(control_, "Language", Variant::from_text("JScript"));
}

ScriptEngine::~ScriptEngine() {
    release(control_);
    co_uninitialize();
}

// Every live object holds one initialisation, so destroying a copy never drops the count
// below what the others still rely on.
ScriptEngine::ScriptEngine(const ScriptEngine& other) : control_(other.control_) {
    co_initialize();
}

ScriptEngine& ScriptEngine::operator=(const ScriptEngine& other) {
    control_ = other.control_;
    return *this;
}

bool ScriptEngine::execute_statement(std::string_view statement) {
    call_method(control_, "ExecuteStatement", {Variant::from_text(statement)});
    return zorvik::last_error().empty();
}

Text ScriptEngine::evaluate(std::string_view expression) {
    return to_text(call_method(control_, "Eval", {Variant::from_text(expression)}));
}

void ScriptEngine::reset() {
    call_method(control_, "Reset");
}

Text ScriptEngine::last_error() const {
    return zorvik::last_error();
}

ObjectRef ScriptEngine::script_control() const {
    return control_;
}

Text ScriptEngine::run(std::string_view procedure, const std::optional<Text>& arg1,
                       const std::optional<Text>& arg2, const std::optional<Text>& arg3,
                       const std::optional<Text>& arg4, const std::optional<Text>& arg5,
                       const std::optional<Text>& arg6) {
    VariantList args{Variant::from_text(procedure)};
    for (const std::optional<Text>* arg : std::array{&arg1, &arg2, &arg3, &arg4, &arg5, &arg6}) {
        if (!arg->has_value()) {
            break;
        }
        args.push_back(Variant::from_text(**arg));
    }
    return to_text(call_method(control_, "Run", args));
}

Text ScriptEngine::language(int kind) {
    if (kind == 0) {
        put_property(control_, "Language", Variant::from_text("JScript"));
    } else if (kind == 1) {
        put_property(control_, "Language", Variant::from_text("vbs"));
    }
    return to_text(get_property(control_, "Language"));
}

int ScriptEngine::timeout(std::optional<int> value) {
    put_property(control_, "Timeout", Variant(std::int32_t{value.value_or(-1)}));
    return to_integer(get_property(control_, "Timeout"));
}

int ScriptEngine::state(std::optional<int> value) {
    if (value) {
        put_property(control_, "State", Variant(std::int32_t{*value}));
    }
    return to_integer(get_property(control_, "State"));
}

bool ScriptEngine::allow_ui(std::optional<bool> value) {
    if (value) {
        put_property(control_, "AllowUI", Variant(*value));
    }
    return to_logical(get_property(control_, "AllowUI"));
}

int ScriptEngine::site_hwnd(std::optional<int> value) {
    if (value) {
        put_property(control_, "SitehWnd", Variant(std::int32_t{*value}));
    }
    return to_integer(get_property(control_, "SitehWnd"));
}

void ScriptEngine::add_code(std::string_view code) {
    call_method(control_, "AddCode", {Variant::from_text(code)});
}

} // namespace zorvik
