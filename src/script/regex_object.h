#pragma once

// RegexObject: one "VBScript.RegExp" object, driven through the automation layer, with the
// matches of its last search and the text that was searched.
//
// Match and group numbers given here are 1-based. Positions are 0-based byte offsets into the
// searched Text, found by searching it for the match's (or group's) text from the byte offset
// equal to the match's FirstIndex (a count of UTF-16 units, never more than the bytes before
// the match), so the same text occurring earlier inside that stretch is reported instead.
// Reads on a failed or missing search, or with a number out of range, give empty Text or 0
// (and a position of -1).

#include "platform/automation.h"
#include "text/text.h"

#include <string_view>

namespace zorvik {

class RegexObject final {
public:
    RegexObject();
    ~RegexObject();
    // A copy drives the same regexp object and match collection, with its own copy of the subject.
    RegexObject(const RegexObject& other);
    RegexObject& operator=(const RegexObject& other);

    // Replaces the regexp, its matches and the subject. With `quote_placeholder` every "#引号"
    // (in the program's code page) in the pattern stands for '"'. True when the pattern was
    // accepted, whether or not anything matched.
    bool execute(std::string_view pattern, std::string_view subject, bool case_sensitive = false,
                 bool multiline = true, bool global = true, bool quote_placeholder = false);
    // The pattern of the last execute; empty before the first.
    Text pattern() const;
    // The last subject with the matches of the last execute replaced (the replacement may use
    // $1..$99, $&, $`, $' and $$).
    Text replace(std::string_view replacement = {}) const;
    int match_count() const;
    Text match_text(int match, int* position = nullptr) const;
    Text group_text(int match, int group, int* position = nullptr) const;
    // The number of capture groups of the first match.
    int group_count() const;

private:
    ObjectRef match_at(int match) const;
    int position_of(const Text& found, const ObjectRef& match) const;

    ObjectRef regexp_;
    ObjectRef matches_;
    Text subject_;
};

} // namespace zorvik
