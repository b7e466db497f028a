// URL splitting on arbitrary text: an accepted URL has a host, a port in range and an object
// name that starts with "/" and holds no space or control character.
#include "platform/http_session.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const auto parts = zorvik::split_url(url);
    if (!parts) {
        return 0;
    }
    if (parts->host.empty() || parts->port < 1 || parts->port > 65535 ||
        parts->object_name.empty() || parts->object_name[0] != '/') {
        std::abort();
    }
    for (const char c : parts->object_name) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            std::abort();
        }
    }
    return 0;
}
