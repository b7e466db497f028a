#pragma once

// Test texts: byte arrays written as numbers, and texts written in UTF-8 in a test but
// handled, as everywhere in the program, in its own code page.

#include "codepage/codepage.h"
#include "text/text.h"

#include <initializer_list>
#include <string>

namespace zorvik::test {

inline Bytes bytes(std::initializer_list<int> values) {
    Bytes b;
    for (const int v : values) {
        b.push_back(static_cast<unsigned char>(v));
    }
    return b;
}

// UTF-8 in the program's code page.
inline Text gb(const char* utf8) {
    return utf8_to_ansi(utf8);
}

// A program text as UTF-8, for comparisons and failure output.
inline std::string utf8(const Text& text) {
    return ansi_to_utf8(text);
}

} // namespace zorvik::test
