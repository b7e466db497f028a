#include "text/text.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace zorvik {

namespace {

using Byte = unsigned char;

constexpr bool is_lead(Byte b) {
    return b >= 0x81 && b <= 0xFE;
}
constexpr bool is_digit(Byte b) {
    return b >= 0x30 && b <= 0x39;
}
constexpr bool is_trail(Byte b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}
constexpr bool is_ascii_letter(Byte b) {
    return (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
}
constexpr Byte fold(Byte b) {
    return (b >= 'A' && b <= 'Z') ? Byte(b | 0x20) : b;
}

inline const Byte* bytes(std::string_view s) {
    return reinterpret_cast<const Byte*>(s.data());
}

inline std::size_t char_len(const Byte* p, std::size_t remaining) {
    const Byte b = p[0];
    if (!is_lead(b) || remaining < 2) {
        return 1;
    }
    const Byte t = p[1];
    if (is_digit(t)) {
        return (remaining >= 4 && is_lead(p[2]) && is_digit(p[3])) ? 4 : 1;
    }
    return is_trail(t) ? 2 : 1;
}

// Byte 0xD0 of 0xD6 0xD0 looks like a character start; GB18030 does not resynchronise on its
// own, so boundaries are found by walking from a position known to be one. These bytes are
// never part of a multi-byte character: after one of them, a new character surely starts.
inline bool sure_boundary(const Byte* s, std::size_t p) {
    if (p == 0) {
        return true;
    }
    const Byte a = s[p - 1];
    if (a < 0x30 || a == 0xFF) {
        return true;
    }
    // Two single-byte values in a row: the first cannot be a lead, so the second stands alone.
    return a < 0x80 && (p == 1 || s[p - 2] < 0x80);
}

// Answers "is this a character boundary?" for rising positions, walking each stretch of the
// text once instead of rescanning from the start for every candidate.
class BoundaryTracker final {
public:
    explicit BoundaryTracker(std::string_view s) : s_(bytes(s)), n_(s.size()) {}

    bool is_boundary(std::size_t pos) {
        if (pos <= cursor_) {
            return pos == cursor_;
        }
        std::size_t b = pos;
        while (b > cursor_ && !sure_boundary(s_, b)) {
            --b;
        }
        while (b < pos) {
            b += char_len(s_ + b, n_ - b);
        }
        cursor_ = b;
        return b == pos;
    }

    // The first boundary at or after the last position asked about.
    std::size_t cursor() const { return cursor_; }

private:
    const Byte* s_;
    std::size_t n_;
    std::size_t cursor_ = 0;
};

// Finds successive occurrences of one needle in one haystack, starting on character
// boundaries only. Calls must ask for rising positions.
class Finder final {
public:
    Finder(std::string_view haystack, std::string_view needle, bool ignore_case)
        : h_(haystack), needle_(needle), tracker_(haystack) {
        if (ignore_case) {
            // Only single-byte letters fold; a letter that trails a lead byte is compared as is.
            const Byte* p = bytes(needle);
            fold_mask_.assign(needle.size(), false);
            for (std::size_t i = 0; i < needle.size();) {
                const std::size_t len = char_len(p + i, needle.size() - i);
                if (len == 1 && is_ascii_letter(p[i])) {
                    fold_mask_[i] = true;
                    folding_ = true;
                }
                i += len;
            }
        }
    }

    // 0-based index of the first occurrence at or after `from`, or npos. Needle must be non-empty.
    std::size_t next(std::size_t from) {
        const std::size_t n = h_.size();
        const std::size_t m = needle_.size();
        std::size_t pos = from;
        while (pos < n && n - pos >= m) {
            const std::size_t c = folding_ ? candidate_folded(pos) : candidate_exact(pos);
            if (c == npos) {
                return npos;
            }
            if (tracker_.is_boundary(c)) {
                return c;
            }
            pos = std::max(c + 1, tracker_.cursor());
        }
        return npos;
    }

    static constexpr std::size_t npos = std::string_view::npos;

private:
    std::size_t candidate_exact(std::size_t pos) const {
        const void* hit = memmem(h_.data() + pos, h_.size() - pos, needle_.data(), needle_.size());
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - h_.data()) : npos;
    }

    std::size_t candidate_folded(std::size_t pos) const {
        const Byte* h = bytes(h_);
        const Byte* nd = bytes(needle_);
        const std::size_t m = needle_.size();
        const std::size_t last = h_.size() - m;
        const Byte first = fold_mask_[0] ? fold(nd[0]) : nd[0];
        for (std::size_t i = pos; i <= last; ++i) {
            const Byte c0 = fold_mask_[0] ? fold(h[i]) : h[i];
            if (c0 != first) {
                continue;
            }
            std::size_t j = 1;
            for (; j < m; ++j) {
                const Byte a = h[i + j];
                const Byte b = nd[j];
                if (a != b && !(fold_mask_[j] && fold(a) == fold(b))) {
                    break;
                }
            }
            if (j == m) {
                return i;
            }
        }
        return npos;
    }

    std::string_view h_;
    std::string_view needle_;
    BoundaryTracker tracker_;
    std::vector<bool> fold_mask_;
    bool folding_ = false;
};

inline bool is_space_at(const Byte* p, std::size_t remaining, std::size_t len) {
    return (len == 1 && p[0] == 0x20) ||
           (len == 2 && remaining >= 2 && p[0] == 0xA1 && p[1] == 0xA1);
}

} // namespace

Text text_of(const Bytes& bytes) {
    const char* data = reinterpret_cast<const char*>(bytes.data());
    return text_of(std::string_view(data, bytes.size()));
}

Text text_of(std::string_view bytes) {
    return Text(bytes.substr(0, bytes.find('\0')));
}

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::size_t char_length(std::string_view s, std::size_t i) {
    if (i >= s.size()) {
        return 1;
    }
    return char_len(bytes(s) + i, s.size() - i);
}

int find(std::string_view haystack, std::string_view needle, int start, bool ignore_case) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= haystack.size() || haystack.size() >= static_cast<std::size_t>(INT_MAX)) {
        return -1;
    }
    if (needle.empty()) {
        return 1;
    }
    Finder finder(haystack, needle, ignore_case);
    const std::size_t hit = finder.next(from);
    return hit == Finder::npos ? -1 : static_cast<int>(hit) + 1;
}

bool contains(std::string_view haystack, std::string_view needle, bool ignore_case) {
    return find(haystack, needle, 1, ignore_case) != -1;
}

Text replace_all(std::string_view s, std::string_view what, std::string_view with,
                 bool ignore_case) {
    if (what.empty() || s.size() < what.size()) {
        return Text(s);
    }
    Finder finder(s, what, ignore_case);
    Text out;
    std::size_t done = 0;
    for (std::size_t hit = finder.next(0); hit != Finder::npos; hit = finder.next(done)) {
        if (out.empty()) {
            out.reserve(s.size());
        }
        out.append(s.substr(done, hit - done));
        out.append(with);
        done = hit + what.size();
    }
    out.append(s.substr(done));
    return out;
}

TextList split(std::string_view s, std::string_view separator) {
    TextList pieces;
    if (s.empty()) {
        return pieces;
    }
    if (separator.empty()) {
        pieces.emplace_back(s);
        return pieces;
    }
    Finder finder(s, separator, false);
    std::size_t done = 0;
    for (std::size_t hit = finder.next(0); hit != Finder::npos; hit = finder.next(done)) {
        pieces.emplace_back(s.substr(done, hit - done));
        done = hit + separator.size();
    }
    if (done < s.size()) {
        pieces.emplace_back(s.substr(done));
    }
    return pieces;
}

Text join(const TextList& pieces, std::string_view separator) {
    Text out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            out.append(separator);
        }
        out.append(pieces[i]);
    }
    return out;
}

Text trim(std::string_view s) {
    const Byte* p = bytes(s);
    const std::size_t n = s.size();
    std::size_t i = 0;
    std::size_t begin = n;
    std::size_t end = 0;
    while (i < n) {
        const std::size_t len = char_len(p + i, n - i);
        if (!is_space_at(p + i, n - i, len)) {
            begin = std::min(begin, i);
            end = i + len;
        }
        i += len;
    }
    return begin < end ? Text(s.substr(begin, end - begin)) : Text();
}

Text remove_spaces(std::string_view s) {
    const Byte* p = bytes(s);
    const std::size_t n = s.size();
    Text out;
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        const std::size_t len = char_len(p + i, n - i);
        if (!is_space_at(p + i, n - i, len)) {
            out.append(s.substr(i, len));
        }
        i += len;
    }
    return out;
}

Text left(std::string_view s, int count) {
    if (count <= 0) {
        return Text();
    }
    return Text(s.substr(0, static_cast<std::size_t>(count)));
}

Text right(std::string_view s, int count) {
    if (count <= 0) {
        return Text();
    }
    const std::size_t c = std::min(static_cast<std::size_t>(count), s.size());
    return Text(s.substr(s.size() - c));
}

Text middle(std::string_view s, int start, int count) {
    if (start < 1 || static_cast<std::size_t>(start) > s.size() || count <= 0) {
        return Text();
    }
    return Text(s.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count)));
}

Text to_upper(std::string_view s) {
    Text out(s);
    const Byte* p = bytes(s);
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            if (p[i] >= 'a' && p[i] <= 'z') {
                out[i] = static_cast<char>(p[i] - 0x20);
            }
            ++i;
        } else {
            i += char_len(p + i, n - i);
        }
    }
    return out;
}

int char_code(std::string_view s, int position) {
    if (position < 1 || static_cast<std::size_t>(position) > s.size()) {
        return 0;
    }
    return static_cast<signed char>(s[static_cast<std::size_t>(position) - 1]);
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.starts_with(prefix);
}

bool ends_with(std::string_view s, std::string_view suffix) {
    if (!s.ends_with(suffix)) {
        return false;
    }
    // A suffix that begins inside a multi-byte character is not a match.
    BoundaryTracker tracker(s);
    return tracker.is_boundary(s.size() - suffix.size());
}

} // namespace zorvik
