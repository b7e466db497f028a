#pragma once

// JsonObject: one JSON document held in a private script engine (ProgID
// "MSScriptControl.ScriptControl"), read and written by key path through the automation layer.
//
// A key path is written in the engine's member-access syntax ("data[0].title"); the empty
// path is the root, a path starting with "[" indexes the root. It is placed into script
// statements verbatim, so it must come from the program, never from the network.
//
// A parsed reply is data, never code: parse() hands the text to JSON.parse as a string. Text
// stored by set_value() keeps its backslashes as U+2400 inside the engine; every reader that
// returns Text turns them back.
//
// Copies share the engine (and so the document); get_object() and get_element_object() give
// independent deep copies. Failures give the empty value of the result type; the automation
// layer's last_error() says why.

#include "platform/automation.h"
#include "text/text.h"

#include <memory>
#include <string_view>

namespace zorvik {

class JsonObject final {
public:
    // A new engine whose root is an empty object; without one when the engine cannot be made.
    JsonObject();
    ~JsonObject();
    JsonObject(const JsonObject& other);
    JsonObject& operator=(const JsonObject& other);

    // Replaces the engine by a fresh one with the prelude loaded and an empty root object.
    void init();
    // True when the text was JSON whose value is neither null nor absent. Anything else leaves
    // the root null (absent for empty text), and so does a document with more than 250000
    // commas between values, which the engine cannot hold. Nothing stored before survives.
    bool parse(std::string_view json_text);
    bool clear();
    Text to_json() const;
    bool set_value(std::string_view path = {}, std::string_view value = {},
                   bool value_is_json = false);
    bool set_expression(std::string_view path = {}, std::string_view expression = {});
    // Rewrites `path` into a full path from the root variable; true when a value other than
    // null is there.
    bool resolve_path(Text& path) const;
    // 0 null or absent, 1 logical, 2 number, 4 object, 5 array, 6 text, -1 anything else.
    int type_of(std::string_view path = {}) const;
    Text get_text(std::string_view path = {}, bool as_json = false) const;
    int key_names(TextList& names, std::string_view path = {}) const;
    int count(std::string_view path = {}) const;
    JsonObject get_object(std::string_view path = {}) const;
    bool push(std::string_view value = {}, std::string_view path = {}, bool value_is_json = false);
    JsonObject get_element_object(int index = 0, std::string_view path = {}) const;
    Text get_element_text(int index = 0, std::string_view path = {}, bool as_json = false) const;
    bool set_element(int index = 0, std::string_view path = {}, std::string_view value = {},
                     bool value_is_json = false);
    bool remove_element(int index = 0, std::string_view path = {});
    bool remove(std::string_view path = {});
    // Written with 13 significant digits.
    bool set_number(std::string_view path = {}, double value = 0);
    double get_number(std::string_view path = {}) const;
    Text get_json(std::string_view path = {}) const;
    // A new reference to the engine, owned by the caller.
    ObjectRef script_control() const;

private:
    struct EngineNotes;

    Text full_path(std::string_view path, bool* found = nullptr) const;
    Variant eval(const Text& statement) const;
    Text eval_text(const Text& statement) const;
    bool eval_logical(const Text& statement) const;
    JsonObject copy_of(const Text& value_expression) const;

    Text root_name_ = "da";
    ObjectRef control_;
    // What is known about the engine's state; shared by the copies that share the engine.
    std::shared_ptr<EngineNotes> notes_;
};

// The script every JsonObject engine starts with: get__count, get__name_All, get__extend,
// the parse helper, and the JSON polyfill (which also gives every object the inherited
// function members toJSONString and parseJSON).
std::string_view json_prelude();

} // namespace zorvik
