// The charset step on an arbitrary page head: the meta-tag search never hangs or crashes, a
// found name is made only of the characters the pattern allows, and its reported position lies
// inside the subject and holds that name.
#include "script/regex_object.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::unique_ptr<QCoreApplication> app(new QCoreApplication(*argc, *argv));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data),
                                std::min<std::size_t>(size, 1024));
    zorvik::RegexObject regex;
    if (!regex.execute("<meta.+?charset=[^\\w]?([-\\w]+)", head)) {
        return 0;
    }
    int position = -1;
    const zorvik::Text charset = regex.group_text(1, 1, &position);
    for (const char c : charset) {
        const bool allowed = c == '-' || c == '_' || (c >= '0' && c <= '9') ||
                             (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!allowed) {
            std::abort();
        }
    }
    if (!charset.empty() &&
        (position < 0 || static_cast<std::size_t>(position) + charset.size() > head.size())) {
        std::abort();
    }
    (void)regex.replace("x");
    return 0;
}
