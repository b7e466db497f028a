#pragma once

// The Base64 codec of the text cipher, also used for proxy credentials.
//
// The encoder writes the standard alphabet with "=" padding on one line. The decoder never
// fails: it drops spaces (ASCII and ideographic) and CR LF pairs, then reads groups of four
// characters whose slots carry over from group to group; a character outside the alphabet
// stores its own byte value and ends its group early, and a final group that ended early at
// slot k keeps only k - 2 of its bytes (see base64.cpp). Long inputs keep the window painting.

#include "text/text.h"

#include <string_view>

namespace zorvik {

Text base64_encode(const Bytes& bytes);
Text base64_encode(std::string_view bytes);

Bytes base64_decode(std::string_view text);

namespace detail {
// The decoder's rules applied group by group with no shortcut; the fast path must give the
// same bytes for every input.
Bytes base64_decode_reference(std::string_view text);

// The vector kernels in use; `best` is what the machine supports. Lets tests cover every
// kernel on one machine. False (nothing changed) when the machine lacks the one asked for.
enum class Base64Kernels { best, scalar, ssse3, avx2 };
bool base64_use_kernels(Base64Kernels kernels);
} // namespace detail

} // namespace zorvik
