#pragma once

// Text and Bytes, and the byte-string primitives every other layer uses.
//
// Text is a byte string in GB18030 (a superset of GBK: every GBK character keeps its bytes).
// A character is one byte (below 0x80), two bytes (lead 0x81..0xFE, trail 0x40..0xFE except
// 0x7F) or four bytes (lead, 0x30..0x39, lead, 0x30..0x39). No search, split or trim ever
// matches starting inside a multi-byte character. Positions are 1-based byte positions.
// By convention a Text holds no zero byte; Bytes may.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorvik {

using Text = std::string;
using Bytes = std::vector<unsigned char>;
using TextList = std::vector<Text>;

// Bytes become Text up to their first zero byte; Text becomes Bytes as its bytes.
Text text_of(const Bytes& bytes);
Text text_of(std::string_view bytes);
Bytes bytes_of(std::string_view text);

// The byte length of the character that starts at index `i` (0-based) of `s`: 1, 2 or 4.
// A truncated multi-byte sequence at the end counts as single bytes.
std::size_t char_length(std::string_view s, std::size_t i);

// First occurrence of `needle` at or after the 1-based `start` (start below 1 means 1);
// -1 when absent. `ignore_case` folds ASCII letters only (not the trail bytes of multi-byte
// characters). An empty needle is found at position 1 whenever any text remains to search
// (start within the text).
int find(std::string_view haystack, std::string_view needle, int start = 1,
         bool ignore_case = false);
bool contains(std::string_view haystack, std::string_view needle, bool ignore_case = false);

// Every occurrence replaced, left to right; replaced text is not searched again.
Text replace_all(std::string_view s, std::string_view what, std::string_view with = {},
                 bool ignore_case = false);

// Pieces between separators, empty ones included; the piece after the last separator only
// when it is not empty. An empty text gives no pieces; an empty separator gives the whole text.
TextList split(std::string_view s, std::string_view separator);
Text join(const TextList& pieces, std::string_view separator);

// Spaces are the ASCII space and the ideographic space (0xA1 0xA1); tabs and line breaks are not.
Text trim(std::string_view s);
Text remove_spaces(std::string_view s);

// Count 0 or less gives empty text; a count beyond the length gives the whole text.
Text left(std::string_view s, int count);
Text right(std::string_view s, int count);
// 1-based start; a start outside the text or a count of 0 or less gives empty text.
Text middle(std::string_view s, int start, int count);

// ASCII a..z only; bytes of multi-byte characters are never touched.
Text to_upper(std::string_view s);
// The byte at the 1-based position as a signed 8-bit value; 0 past the end (or below 1).
int char_code(std::string_view s, int position);

bool starts_with(std::string_view s, std::string_view prefix);
bool ends_with(std::string_view s, std::string_view suffix);

} // namespace zorvik
