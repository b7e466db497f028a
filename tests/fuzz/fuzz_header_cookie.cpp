// The header and cookie text routines on arbitrary text: no crash, no hang, and a merged list
// never ends with its separator.
#include "web/header_cookie.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    const std::string_view a = all.substr(0, cut);
    const std::string_view b = all.substr(cut);

    (void)zorvik::normalise_header_block(all);
    (void)zorvik::header_line_name(a);
    (void)zorvik::header_line_value(b);
    (void)zorvik::text_between(all, a.substr(0, 4), b.substr(0, 2));
    (void)zorvik::set_cookie_item(all);
    (void)zorvik::remove_duplicate_items(b, "; ");

    zorvik::Text sent(a);
    const zorvik::Text merged = zorvik::merge_cookie_lists(sent, b);
    if (merged != sent) {
        std::abort();
    }
    return 0;
}
