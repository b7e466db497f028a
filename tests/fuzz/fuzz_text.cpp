// The text primitives on arbitrary bytes: a match never starts inside a multi-byte character
// and always holds the needle; split and join give the text back.
#include "text/text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool on_boundary(std::string_view s, std::size_t pos) {
    std::size_t i = 0;
    while (i < pos) {
        i += zorvik::char_length(s, i);
    }
    return i == pos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // First byte: how much of the rest is the needle.
    const std::size_t needle_len = data[0] % 8;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string_view needle = rest.substr(0, std::min(needle_len, rest.size()));
    const std::string_view hay = rest.substr(needle.size());

    for (const bool fold : {false, true}) {
        const int at = zorvik::find(hay, needle, 1, fold);
        if (at > 0 && !needle.empty()) {
            const std::size_t pos = static_cast<std::size_t>(at - 1);
            if (!on_boundary(hay, pos) || pos + needle.size() > hay.size()) {
                std::abort();
            }
            if (!fold && hay.substr(pos, needle.size()) != needle) {
                std::abort();
            }
        }
        (void)zorvik::replace_all(hay, needle, "xy", fold);
    }
    if (!needle.empty()) {
        zorvik::Text joined = zorvik::join(zorvik::split(hay, needle), needle);
        // split drops only a final empty piece, so the text comes back, or lacks one
        // trailing separator.
        if (joined != hay && joined + zorvik::Text(needle) != hay) {
            std::abort();
        }
    }
    const zorvik::Text trimmed = zorvik::trim(hay);
    if (trimmed.size() > hay.size()) {
        std::abort();
    }
    (void)zorvik::remove_spaces(hay);
    (void)zorvik::middle(hay, static_cast<int>(data[0]) - 3, static_cast<int>(size % 17) - 2);
    (void)zorvik::to_upper(hay);
    return 0;
}
