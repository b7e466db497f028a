#include "script/regex_object.h"

namespace zorvik {
namespace {

// "#引号" in GB18030.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

} // namespace

RegexObject::RegexObject() {
    co_initialize();
}

RegexObject::~RegexObject() {
    release(regexp_);
    release(matches_);
    subject_.clear();
    co_uninitialize();
}

RegexObject::RegexObject(const RegexObject& other)
    : regexp_(other.regexp_), matches_(other.matches_), subject_(other.subject_) {
    co_initialize(); // every object balances its own uninitialise
}

RegexObject& RegexObject::operator=(const RegexObject& other) {
    regexp_ = other.regexp_;
    matches_ = other.matches_;
    subject_ = other.subject_;
    return *this;
}

bool RegexObject::execute(std::string_view pattern, std::string_view subject, bool case_sensitive,
                          bool multiline, bool global, bool quote_placeholder) {
    release(regexp_);
    release(matches_);
    create_object(regexp_, "VBScript.RegExp");
    put_property(regexp_, "IgnoreCase", Variant(!case_sensitive));
    put_property(regexp_, "Multiline", Variant(multiline));
    put_property(regexp_, "Global", Variant(global));
    const Text effective =
        quote_placeholder ? replace_all(pattern, kQuotePlaceholder, "\"") : Text(pattern);
    put_property(regexp_, "Pattern", Variant::from_text(effective));
    subject_ = Text(subject);
    matches_ = to_object(call_method(regexp_, "Execute", {Variant::from_text(subject_)}));
    return !is_empty(matches_);
}

Text RegexObject::pattern() const {
    if (is_empty(regexp_)) {
        return {};
    }
    return to_text(get_property(regexp_, "Pattern"));
}

Text RegexObject::replace(std::string_view replacement) const {
    return to_text(call_method(regexp_, "Replace",
                               {Variant::from_text(subject_), Variant::from_text(replacement)}));
}

int RegexObject::match_count() const {
    return to_integer(get_property(matches_, "Count"));
}

ObjectRef RegexObject::match_at(int match) const {
    if (is_empty(matches_) || match < 1) {
        return nullptr;
    }
    return to_object(get_property(matches_, "Item", {Variant(match - 1)}));
}

int RegexObject::position_of(const Text& found, const ObjectRef& match) const {
    if (found.empty()) {
        return -1; // an empty text has no place of its own to find
    }
    const int first_index = to_integer(get_property(match, "FirstIndex"));
    const bool ignore_case = to_logical(get_property(regexp_, "IgnoreCase"));
    const int at = find(subject_, found, first_index + 1, ignore_case);
    return at < 0 ? -1 : at - 1;
}

Text RegexObject::match_text(int match, int* position) const {
    const ObjectRef m = match_at(match);
    const Text text = m ? to_text(get_property(m, "Value")) : Text();
    if (position != nullptr) {
        *position = m ? position_of(text, m) : -1;
    }
    return text;
}

Text RegexObject::group_text(int match, int group, int* position) const {
    const ObjectRef m = group >= 1 ? match_at(match) : nullptr;
    Text text;
    if (m) {
        const ObjectRef groups = to_object(get_property(m, "SubMatches"));
        text = to_text(get_property(groups, "Item", {Variant(group - 1)}));
    }
    if (position != nullptr) {
        *position = m ? position_of(text, m) : -1;
    }
    return text;
}

int RegexObject::group_count() const {
    const ObjectRef first = match_at(1);
    if (!first) {
        return 0;
    }
    return to_integer(get_property(to_object(get_property(first, "SubMatches")), "Count"));
}

} // namespace zorvik
