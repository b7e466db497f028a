#pragma once

// The two text formats of HTTP requests and the small routines that read and rewrite them.
//
// Header block: header lines separated by CR LF; a line's name is the text before its first
// ":" and its value the text after it. A line without ":" is not a header line. A block may
// begin with CR LF.
// Cookie list: items separated by "; "; an item is name=value, its name the text before the
// first "=" (or the whole item), trimmed; names compare byte-exactly. An item ending in
// "=deleted" stands for the removal of that cookie.
//
// All searches, splits and trims are those of text/text.h (1-based positions, never matching
// inside a multi-byte character; only ASCII and ideographic spaces are trimmed).

#include "text/text.h"

#include <string_view>

namespace zorvik {

// The trimmed text before / after the first ":"; empty when the line has none.
Text header_line_name(std::string_view line);
Text header_line_value(std::string_view line);

// Drops lines without ":" (empty ones too), upper-cases (ASCII) the first character of each
// name and every character of the name right after a "-", and joins the lines with CR LF, with
// none after the last. Everything else, value and untrimmed name included, stays as it was.
Text normalise_header_block(std::string_view block);

// The first byte upper-cased when it is an ASCII letter a to z.
Text capitalise_first(std::string_view text);

// The text before the first occurrence of `marker` (case-sensitive); empty when absent.
Text text_before(std::string_view text, std::string_view marker);

// The text between the first `start_marker` and the next `end_marker` after it; empty when
// either is absent. In both markers "#引号" (in the program's code page) stands for '"'.
Text text_between(std::string_view text, std::string_view start_marker,
                  std::string_view end_marker);

// The cookie item a "Set-Cookie" response line sets: the value up to the first ";", trimmed.
Text set_cookie_item(std::string_view line);

// Merges a received cookie list into the sent one: received items beat sent items of the same
// name, "=deleted" items drop out, exact repeats go. The result is also stored into `sent`.
Text merge_cookie_lists(Text& sent, std::string_view received);

Text cookie_name(std::string_view item);
bool cookie_list_has_name(const TextList& items, std::string_view name);

// The list with every piece that repeats an earlier one (byte-exactly) removed.
Text remove_duplicate_items(std::string_view text, std::string_view separator);

// The 1-based index of the first item equal to `value`, or -1.
int list_index_of(const TextList& items, std::string_view value);

} // namespace zorvik
