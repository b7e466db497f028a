#include "web/web_text.h"

#include <climits>

namespace zorvik {

Text header_value(std::string_view block, std::string_view name) {
    for (const Text& line : split(block, "\r\n")) {
        if (starts_with(line, name)) {
            return text_after(line, Text(name) + ": ");
        }
    }
    return {};
}

Text text_after(std::string_view text, std::string_view delimiter, int start, bool ignore_case) {
    if (delimiter.empty()) {
        return {};
    }
    const auto length = static_cast<long long>(text.size());
    const auto width = static_cast<long long>(delimiter.size());
    int found = -1;
    if (start < 0) {
        if (start != INT_MIN) {
            found = find(text, delimiter, -start, ignore_case);
        }
    } else {
        // The last occurrence that ends within the first (length - start) bytes.
        const long long limit = length - start;
        for (int at = find(text, delimiter, 1, ignore_case); at > 0 && at - 1 + width <= limit;
             at = find(text, delimiter, at + 1, ignore_case)) {
            found = at;
        }
    }
    if (found < 0) {
        return {};
    }
    return Text(text.substr(static_cast<std::size_t>(found - 1 + width)));
}

} // namespace zorvik
