#pragma once

// ScriptEngine: a thin class over one script control (ProgID "ScriptControl"), driven
// through the automation layer. Every operation is one late-bound call; failures give the
// empty value of the result type and leave their text in last_error().

#include "platform/automation.h"
#include "text/text.h"

#include <optional>
#include <string_view>

namespace zorvik {

class ScriptEngine final {
public:
    // Creates the control and switches it to JScript; goes on without it when creation fails.
    ScriptEngine();
    ~ScriptEngine();
    // A copy drives the same control (the same script state).
    ScriptEngine(const ScriptEngine& other);
    ScriptEngine& operator=(const ScriptEngine& other);

    // True when the statement ran without error.
    bool execute_statement(std::string_view statement);
    Text evaluate(std::string_view expression);
    void reset();
    Text last_error() const;
    // A new reference to the control, owned by the caller.
    ObjectRef script_control() const;
    // Passes the longest run of given arguments from the first, each as a string; an
    // argument after a left-out one is dropped.
    Text run(std::string_view procedure, const std::optional<Text>& arg1 = {},
             const std::optional<Text>& arg2 = {}, const std::optional<Text>& arg3 = {},
             const std::optional<Text>& arg4 = {}, const std::optional<Text>& arg5 = {},
             const std::optional<Text>& arg6 = {});
    // 0 writes "JScript", 1 writes "vbs", anything else writes nothing; gives the language
    // the control then holds.
    Text language(int kind = 0);
    // Always writes: the value, or -1 (no limit) when left out.
    int timeout(std::optional<int> value = {});
    int state(std::optional<int> value = {});
    bool allow_ui(std::optional<bool> value = {});
    int site_hwnd(std::optional<int> value = {});
    void add_code(std::string_view code);

private:
    ObjectRef control_;
};

} // namespace zorvik
