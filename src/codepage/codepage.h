#pragma once

// Conversions between the program's Text (GB18030), UTF-8 and UTF-16, over ICU converters.
//
// Code page numbers: 65001 is UTF-8; 936, 54936 and 0 all mean the program's own code page,
// GB18030. Invalid input bytes become U+FFFD on the way in; GB18030 can encode every Unicode
// character, so nothing is lost on the way out.

#include "text/text.h"

#include <QString>

#include <string>
#include <string_view>

namespace zorvik {

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageAnsi = 0;

// UTF-8 bytes to Text.
Text utf8_to_ansi(std::string_view utf8);
// Text to UTF-8 bytes.
std::string ansi_to_utf8(std::string_view text);

// Text in `code_page` to UTF-16LE bytes ending with one zero unit (counted in the length).
Bytes multibyte_to_wide(std::string_view text, int code_page = kCodePageUtf8);
// UTF-16LE bytes to Text in `code_page`, up to the first zero byte of the result.
Text wide_to_multibyte(const Bytes& utf16, int code_page = kCodePageAnsi);
// Text to UTF-16LE bytes with a terminator unless `drop_terminator`; empty Text gives no bytes.
Bytes ansi_to_wide(std::string_view text, bool drop_terminator = false);
// All units of `utf16` to Text, read up to the first zero byte.
Text wide_to_ansi(const Bytes& utf16);

// The widget and engine boundary: Text to QString and back.
QString to_qstring(std::string_view text);
Text from_qstring(const QString& s);

// Decodes `bytes` by any charset name ICU knows; false when ICU does not know the name.
bool decode_charset(std::string_view bytes, std::string_view charset, QString& out);

} // namespace zorvik
