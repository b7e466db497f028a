// The decoder's fast path must give exactly the bytes of the group-by-group rules, for any
// input; encoding then decoding must give the input back.
#include "cipher/base64.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (zorvik::base64_decode(text) != zorvik::detail::base64_decode_reference(text)) {
        std::abort();
    }
    const zorvik::Bytes bytes(data, data + size);
    if (zorvik::base64_decode(zorvik::base64_encode(bytes)) != bytes) {
        std::abort();
    }
    return 0;
}
