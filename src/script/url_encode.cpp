#include "script/url_encode.h"

#include "codepage/codepage.h"

#include <array>

namespace zorvik {
namespace {

enum Keep : unsigned char { kComponent = 1, kUri = 2 };

// Which ASCII bytes each mode leaves as they are; everything at or above 0x80 is escaped.
constexpr std::array<unsigned char, 128> make_kept() {
    std::array<unsigned char, 128> kept{};
    for (int c = 0; c < 128; ++c) {
        const bool alnum =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (alnum) {
            kept[c] = kComponent | kUri;
        }
    }
    for (char c : std::string_view("-_.!~*'()")) {
        kept[static_cast<unsigned char>(c)] = kComponent | kUri;
    }
    for (char c : std::string_view(";,/?:@&=+$#")) {
        kept[static_cast<unsigned char>(c)] = kUri;
    }
    return kept;
}

constexpr std::array<unsigned char, 128> kKept = make_kept();

} // namespace

Text url_encode(std::string_view text, int mode) {
    const unsigned char wanted = mode == 1 ? kComponent : kUri;
    const std::string utf8 = ansi_to_utf8(text);
    static constexpr char kHex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80 && (kKept[b] & wanted) != 0) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        }
    }
    return out;
}

} // namespace zorvik
