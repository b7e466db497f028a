#pragma once

// Two small readers of header lines used by web_fetch_api.

#include "text/text.h"

#include <string_view>

namespace zorvik {

// The value of the first line of a CR LF separated block whose first bytes are `name`
// (case-sensitive; a longer name that begins with it matches too): the text after the last
// "<name>: " in that line. Empty when no line matches.
Text header_value(std::string_view block, std::string_view name);

// The text after `delimiter`; empty when it is not found (or is empty).
// A `start` of 0 or more searches backwards, for the last occurrence that lies wholly within
// the first (length - start) bytes: 0 finds the last occurrence. A negative `start` searches
// forwards from the byte position -start (-1: from the first byte). `ignore_case` folds ASCII
// letters only.
Text text_after(std::string_view text, std::string_view delimiter, int start = 0,
                bool ignore_case = false);

} // namespace zorvik
