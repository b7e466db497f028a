// A reply is data: any text parses or leaves the root null, and the song search's reads on it
// never crash or hang.
#include "script/json_object.h"

#include <QCoreApplication>

#include <cstdint>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::unique_ptr<QCoreApplication> app(new QCoreApplication(*argc, *argv));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zorvik::JsonObject json;
    json.parse(text);
    const int n = json.count("data");
    for (int i = 0; i < n && i < 4; ++i) {
        const std::string k = "data[" + std::to_string(i) + "]";
        (void)json.get_text(k + ".title");
        (void)json.get_number(k + ".songid");
    }
    (void)json.to_json();
    (void)json.type_of();
    return 0;
}
