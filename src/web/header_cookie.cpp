#include "web/header_cookie.h"

namespace zorvik {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCookieSeparator = "; ";
// "#引号" in GB18030.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

char upper_ascii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The list trimmed, with a space after a final ";" so that splitting at "; " drops it.
Text tidy_cookie_list(std::string_view list) {
    Text t = trim(list);
    if (ends_with(t, ";")) {
        t += ' ';
    }
    return t;
}

} // namespace

Text header_line_name(std::string_view line) {
    const int colon = find(line, ":");
    if (colon < 0) {
        return {};
    }
    return trim(line.substr(0, static_cast<std::size_t>(colon - 1)));
}

Text header_line_value(std::string_view line) {
    const int colon = find(line, ":");
    if (colon < 0) {
        return {};
    }
    return trim(line.substr(static_cast<std::size_t>(colon)));
}

Text normalise_header_block(std::string_view block) {
    TextList kept;
    for (Text& line : split(block, kCrLf)) {
        const int colon = find(line, ":");
        if (colon < 0) {
            continue;
        }
        // A "-" is always a whole character, so the byte after it starts one.
        const auto name_end = static_cast<std::size_t>(colon - 1);
        for (std::size_t i = 0; i < name_end; ++i) {
            if (i == 0 || line[i - 1] == '-') {
                line[i] = upper_ascii(line[i]);
            }
        }
        kept.push_back(std::move(line));
    }
    return join(kept, kCrLf);
}

Text capitalise_first(std::string_view text) {
    Text out(text);
    if (!out.empty()) {
        out[0] = upper_ascii(out[0]);
    }
    return out;
}

Text text_before(std::string_view text, std::string_view marker) {
    const int pos = find(text, marker);
    if (pos < 0) {
        return {};
    }
    return Text(text.substr(0, static_cast<std::size_t>(pos - 1)));
}

Text text_between(std::string_view text, std::string_view start_marker,
                  std::string_view end_marker) {
    const Text start = replace_all(start_marker, kQuotePlaceholder, "\"");
    const Text end = replace_all(end_marker, kQuotePlaceholder, "\"");
    const int start_pos = find(text, start);
    if (start_pos < 0) {
        return {};
    }
    const int from = start_pos + static_cast<int>(start.size());
    const int end_pos = find(text, end, from);
    if (end_pos < 0) {
        return {};
    }
    return middle(text, from, end_pos - from);
}

Text set_cookie_item(std::string_view line) {
    if (find(line, ";") < 0) {
        return trim(replace_all(line, "Set-Cookie:", {}, true));
    }
    return trim(text_between(line, "Set-Cookie:", ";"));
}

Text merge_cookie_lists(Text& sent, std::string_view received) {
    const TextList sent_items = split(tidy_cookie_list(sent), kCookieSeparator);
    TextList working = split(tidy_cookie_list(received), kCookieSeparator);
    // Checked against the growing list: the first sent item of a name wins among the sent
    // ones, and any received item beats them all.
    for (const Text& item : sent_items) {
        if (!cookie_list_has_name(working, cookie_name(item))) {
            working.push_back(item);
        }
    }
    TextList alive;
    for (Text& item : working) {
        if (right(item, 8) != "=deleted") {
            alive.push_back(std::move(item));
        }
    }
    Text merged = remove_duplicate_items(join(alive, kCookieSeparator), kCookieSeparator);
    sent = merged;
    return merged;
}

Text cookie_name(std::string_view item) {
    const int eq = find(item, "=");
    return trim(eq < 0 ? item : item.substr(0, static_cast<std::size_t>(eq - 1)));
}

bool cookie_list_has_name(const TextList& items, std::string_view name) {
    for (const Text& item : items) {
        if (cookie_name(item) == name) {
            return true;
        }
    }
    return false;
}

Text remove_duplicate_items(std::string_view text, std::string_view separator) {
    TextList kept;
    for (Text& piece : split(text, separator)) {
        if (list_index_of(kept, piece) < 0) {
            kept.push_back(std::move(piece));
        }
    }
    return join(kept, separator);
}

int list_index_of(const TextList& items, std::string_view value) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] == value) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

} // namespace zorvik
