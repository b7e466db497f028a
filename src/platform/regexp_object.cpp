// "VBScript.RegExp": the regular-expression object of the classic script flavour, over
// QRegularExpression (PCRE2).
//
// Where that flavour and PCRE2 read a pattern differently, the pattern is rewritten before it is
// compiled: `$` without Multiline matches only at the very end; with Multiline `^` and `$` also
// stand beside "\r"; `\uXXXX` and `\v` are escapes; an escaped letter the flavour does not know is
// that letter; `[]` matches nothing and `[^]` anything. `\w`, `\d` and `\s` stay ASCII because
// Unicode properties are never switched on, and "." stops only at "\n".

#include "platform/builtin_objects.h"

#include <QRegularExpression>
#include <QString>

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace zorvik {
namespace {

// PCRE2 stops a runaway backtracking search after this many steps; the search then fails
// instead of freezing the window.
constexpr int kMatchStepLimit = 5'000'000;

bool is_hex(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

bool is_ascii_letter(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool has_hex_run(const QString& s, qsizetype from, qsizetype count) {
    if (from + count > s.size()) {
        return false;
    }
    for (qsizetype k = from; k < from + count; ++k) {
        if (!is_hex(s[k])) {
            return false;
        }
    }
    return true;
}

QString translate_pattern(const QString& p, bool multiline) {
    // Escapes both flavours read alike.
    static const QString kSharedEscapes = QStringLiteral("bBdDfnrsStwW");
    QString out = QStringLiteral("(*LIMIT_MATCH=%1)(*LF)").arg(kMatchStepLimit);
    out.reserve(out.size() + p.size() + 16);
    bool in_class = false;
    const qsizetype n = p.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = p[i];
        if (c == u'\\') {
            if (i + 1 >= n) {
                out += c; // a trailing backslash is an error in both flavours
                break;
            }
            const QChar d = p[i + 1];
            if (d == u'u') {
                if (has_hex_run(p, i + 2, 4)) {
                    out += QStringLiteral("\\x{") + p.mid(i + 2, 4) + u'}';
                    i += 6;
                } else {
                    out += u'u';
                    i += 2;
                }
            } else if (d == u'x') {
                if (has_hex_run(p, i + 2, 2)) {
                    out += QStringLiteral("\\x") + p.mid(i + 2, 2);
                    i += 4;
                } else {
                    out += u'x';
                    i += 2;
                }
            } else if (d == u'v') {
                out += QStringLiteral("\\x0B");
                i += 2;
            } else if (d == u'c') {
                if (i + 2 < n && is_ascii_letter(p[i + 2])) {
                    out += QStringLiteral("\\c") + p[i + 2];
                    i += 3;
                } else {
                    out += QStringLiteral("\\\\c");
                    i += 2;
                }
            } else if (is_ascii_letter(d) && !kSharedEscapes.contains(d)) {
                out += d;
                i += 2;
            } else {
                out += c;
                out += d;
                i += 2;
            }
            continue;
        }
        if (in_class) {
            if (c == u']') {
                in_class = false;
                out += c;
            } else if (c == u'[') {
                out += QStringLiteral("\\["); // no POSIX classes here
            } else {
                out += c;
            }
            ++i;
            continue;
        }
        if (c == u'[') {
            if (i + 1 < n && p[i + 1] == u']') {
                out += QStringLiteral("(?!)");
                i += 2;
                continue;
            }
            if (i + 2 < n && p[i + 1] == u'^' && p[i + 2] == u']') {
                out += QStringLiteral("[\\s\\S]");
                i += 3;
                continue;
            }
            in_class = true;
            out += c;
            ++i;
            if (i < n && p[i] == u'^') {
                out += u'^';
                ++i;
            }
            continue;
        }
        if (c == u'^') {
            out += multiline ? QStringLiteral("(?<![^\\n\\r])") : QStringLiteral("^");
        } else if (c == u'$') {
            out += multiline ? QStringLiteral("(?![^\\n\\r])") : QStringLiteral("(?![\\s\\S])");
        } else {
            out += c;
        }
        ++i;
    }
    return out;
}

// The conversions of the automation layer, saying whether the value had that reading.
bool read_text(const Variant& v, QString& out) {
    clear_last_error();
    out = to_qstring(v);
    return last_error().empty();
}

bool read_flag(const Variant& v, bool& out) {
    clear_last_error();
    out = to_logical(v);
    return last_error().empty();
}

bool read_integer(const Variant& v, std::int32_t& out) {
    clear_last_error();
    out = to_integer(v);
    return last_error().empty();
}

struct Span final {
    qsizetype start = -1; // -1: the group took no part in the match
    qsizetype length = 0;
};

struct FoundMatch final {
    Span whole;
    std::vector<Span> groups;
};

// What one Execute found; the collection, its matches and their groups share it.
struct SearchResult final {
    QString subject;
    std::vector<FoundMatch> matches;
};

QString span_text(const SearchResult& r, const Span& s) {
    return s.start < 0 ? QString() : r.subject.mid(s.start, s.length);
}

InvokeResult unknown_member(std::string_view member) {
    return InvokeResult::failure("the object has no member " + Text(member));
}

bool read_index(std::span<const Variant> args, std::size_t count, std::size_t& index) {
    if (args.size() != 1) {
        return false;
    }
    std::int32_t i = 0;
    if (!read_integer(args[0], i) || i < 0 || static_cast<std::size_t>(i) >= count) {
        return false;
    }
    index = static_cast<std::size_t>(i);
    return true;
}

class SubMatchesObject final : public AutomationObject {
public:
    SubMatchesObject(std::shared_ptr<const SearchResult> result, std::size_t match)
        : result_(std::move(result)), match_(match) {}

    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override {
        const auto& groups = result_->matches[match_].groups;
        if (kind == InvokeKind::Put) {
            return InvokeResult::failure("the group collection is read-only");
        }
        if (same_member(member, "Count")) {
            return InvokeResult::success(static_cast<std::int32_t>(groups.size()));
        }
        if (same_member(member, "Item")) {
            std::size_t index = 0;
            if (!read_index(args, groups.size(), index)) {
                return InvokeResult::failure("group number out of range");
            }
            return InvokeResult::success(span_text(*result_, groups[index]));
        }
        return unknown_member(member);
    }

private:
    std::shared_ptr<const SearchResult> result_;
    std::size_t match_;
};

class MatchObject final : public AutomationObject {
public:
    MatchObject(std::shared_ptr<const SearchResult> result, std::size_t match)
        : result_(std::move(result)), match_(match) {}

    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant>) override {
        const FoundMatch& m = result_->matches[match_];
        if (kind == InvokeKind::Put) {
            return InvokeResult::failure("a match is read-only");
        }
        if (same_member(member, "Value")) {
            return InvokeResult::success(span_text(*result_, m.whole));
        }
        if (same_member(member, "FirstIndex")) {
            return InvokeResult::success(static_cast<std::int32_t>(m.whole.start));
        }
        if (same_member(member, "Length")) {
            return InvokeResult::success(static_cast<std::int32_t>(m.whole.length));
        }
        if (same_member(member, "SubMatches")) {
            return InvokeResult::success(
                ObjectRef(std::make_shared<SubMatchesObject>(result_, match_)));
        }
        return unknown_member(member);
    }

private:
    std::shared_ptr<const SearchResult> result_;
    std::size_t match_;
};

class MatchCollectionObject final : public AutomationObject {
public:
    explicit MatchCollectionObject(std::shared_ptr<const SearchResult> result)
        : result_(std::move(result)) {}

    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override {
        if (kind == InvokeKind::Put) {
            return InvokeResult::failure("the match collection is read-only");
        }
        if (same_member(member, "Count")) {
            return InvokeResult::success(static_cast<std::int32_t>(result_->matches.size()));
        }
        if (same_member(member, "Item")) {
            std::size_t index = 0;
            if (!read_index(args, result_->matches.size(), index)) {
                return InvokeResult::failure("match number out of range");
            }
            return InvokeResult::success(ObjectRef(std::make_shared<MatchObject>(result_, index)));
        }
        return unknown_member(member);
    }

private:
    std::shared_ptr<const SearchResult> result_;
};

// Compiling (with JIT) costs far more than a search over a page head, and callers such as the
// charset step make a new object for every page: recently used expressions are kept.
QRegularExpression compiled(const QString& pattern, QRegularExpression::PatternOptions options) {
    constexpr std::size_t kKept = 16;
    thread_local std::vector<QRegularExpression> recent;
    for (auto it = recent.begin(); it != recent.end(); ++it) {
        if (it->pattern() == pattern && it->patternOptions() == options) {
            QRegularExpression hit = *it;
            recent.erase(it);
            recent.insert(recent.begin(), hit);
            return hit;
        }
    }
    QRegularExpression re(pattern, options);
    re.optimize();
    if (recent.size() == kKept) {
        recent.pop_back();
    }
    recent.insert(recent.begin(), re);
    return re;
}

class RegExpObject final : public AutomationObject {
public:
    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override {
        if (kind == InvokeKind::Call) {
            if (same_member(member, "Execute") && args.size() == 1) {
                return execute(args[0]);
            }
            if (same_member(member, "Replace") && args.size() == 2) {
                return replace(args[0], args[1]);
            }
            if (same_member(member, "Test") && args.size() == 1) {
                return test(args[0]);
            }
            return unknown_member(member);
        }
        bool* flag = nullptr;
        if (same_member(member, "IgnoreCase")) {
            flag = &ignore_case_;
        } else if (same_member(member, "Global")) {
            flag = &global_;
        } else if (same_member(member, "Multiline")) {
            flag = &multiline_;
        } else if (!same_member(member, "Pattern")) {
            return unknown_member(member);
        }
        if (kind == InvokeKind::Get) {
            return args.empty() ? InvokeResult::success(flag ? Variant(*flag) : Variant(pattern_))
                                : InvokeResult::failure("the property takes no index");
        }
        if (args.size() != 1) {
            return InvokeResult::failure("the property takes no index");
        }
        if (flag != nullptr) {
            bool value = false;
            if (!read_flag(args[0], value)) {
                return InvokeResult::failure("the property takes a logical value");
            }
            *flag = value;
        } else {
            QString value;
            if (!read_text(args[0], value)) {
                return InvokeResult::failure("the pattern must be text");
            }
            pattern_ = std::move(value);
        }
        return InvokeResult::success();
    }

private:
    // Compiles the pattern with the current flags; the failure text when the engine rejects it.
    bool compile(QRegularExpression& re, Text& why) const {
        QRegularExpression::PatternOptions options = QRegularExpression::NoPatternOption;
        if (ignore_case_) {
            options |= QRegularExpression::CaseInsensitiveOption;
        }
        re = compiled(translate_pattern(pattern_, multiline_), options);
        if (!re.isValid()) {
            why = "syntax error in the regular expression: " + re.errorString().toStdString();
            return false;
        }
        return true;
    }

    // Every match the flavour finds: after an empty match the search resumes one character on.
    bool search(const QString& subject, bool global_search, SearchResult& out, Text& why) const {
        QRegularExpression re;
        if (!compile(re, why)) {
            return false;
        }
        out.subject = subject;
        const qsizetype n = subject.size();
        qsizetype offset = 0;
        while (offset <= n) {
            const QRegularExpressionMatch m = re.match(out.subject, offset);
            if (!m.isValid()) {
                why = "the regular expression is too complex for this text";
                return false;
            }
            if (!m.hasMatch()) {
                break;
            }
            FoundMatch found;
            found.whole = {m.capturedStart(0), m.capturedLength(0)};
            for (int g = 1; g <= re.captureCount(); ++g) {
                found.groups.push_back(m.capturedStart(g) >= 0
                                           ? Span{m.capturedStart(g), m.capturedLength(g)}
                                           : Span{});
            }
            out.matches.push_back(std::move(found));
            if (!global_search) {
                break;
            }
            qsizetype next = m.capturedEnd(0);
            if (next == m.capturedStart(0)) {
                ++next;
                if (next < n && subject[next].isLowSurrogate()) {
                    ++next;
                }
            }
            offset = next;
        }
        return true;
    }

    InvokeResult execute(const Variant& subject_arg) const {
        QString subject;
        if (!read_text(subject_arg, subject)) {
            return InvokeResult::failure("the subject must be text");
        }
        auto result = std::make_shared<SearchResult>();
        Text why;
        if (!search(subject, global_, *result, why)) {
            return InvokeResult::failure(why);
        }
        return InvokeResult::success(ObjectRef(
            std::make_shared<MatchCollectionObject>(std::shared_ptr<const SearchResult>(result))));
    }

    InvokeResult test(const Variant& subject_arg) const {
        QString subject;
        if (!read_text(subject_arg, subject)) {
            return InvokeResult::failure("the subject must be text");
        }
        SearchResult result;
        Text why;
        if (!search(subject, false, result, why)) {
            return InvokeResult::failure(why);
        }
        return InvokeResult::success(!result.matches.empty());
    }

    InvokeResult replace(const Variant& subject_arg, const Variant& replacement_arg) const {
        QString subject;
        QString replacement;
        if (!read_text(subject_arg, subject) || !read_text(replacement_arg, replacement)) {
            return InvokeResult::failure("the subject and the replacement must be text");
        }
        SearchResult result;
        Text why;
        if (!search(subject, global_, result, why)) {
            return InvokeResult::failure(why);
        }
        QString out;
        qsizetype copied = 0;
        for (const FoundMatch& m : result.matches) {
            out += QStringView(result.subject).mid(copied, m.whole.start - copied);
            expand(result, m, replacement, out);
            copied = m.whole.start + m.whole.length;
        }
        out += QStringView(result.subject).mid(copied);
        return InvokeResult::success(out);
    }

    // The replacement syntax: $1..$99 (two digits when that group exists), $&, $`, $', $$;
    // any other "$" stands for itself.
    static void expand(const SearchResult& r, const FoundMatch& m, const QString& replacement,
                       QString& out) {
        const qsizetype n = replacement.size();
        const auto group_count = static_cast<int>(m.groups.size());
        auto digit = [&](qsizetype k) {
            return k < n && replacement[k] >= u'0' && replacement[k] <= u'9'
                       ? replacement[k].unicode() - u'0'
                       : -1;
        };
        for (qsizetype i = 0; i < n; ++i) {
            const QChar c = replacement[i];
            if (c != u'$' || i + 1 >= n) {
                out += c;
                continue;
            }
            const QChar d = replacement[i + 1];
            if (d == u'$') {
                out += u'$';
                ++i;
            } else if (d == u'&') {
                out += span_text(r, m.whole);
                ++i;
            } else if (d == u'`') {
                out += QStringView(r.subject).left(m.whole.start);
                ++i;
            } else if (d == u'\'') {
                out += QStringView(r.subject).mid(m.whole.start + m.whole.length);
                ++i;
            } else if (const int d1 = digit(i + 1); d1 >= 0) {
                const int d2 = digit(i + 2);
                if (d2 >= 0 && d1 * 10 + d2 >= 1 && d1 * 10 + d2 <= group_count) {
                    out += span_text(r, m.groups[static_cast<std::size_t>(d1 * 10 + d2 - 1)]);
                    i += 2;
                } else if (d1 >= 1 && d1 <= group_count) {
                    out += span_text(r, m.groups[static_cast<std::size_t>(d1 - 1)]);
                    i += 1;
                } else {
                    out += c;
                }
            } else {
                out += c;
            }
        }
    }

    bool ignore_case_ = false;
    bool global_ = false;
    bool multiline_ = false;
    QString pattern_;
};

} // namespace

ObjectRef make_regexp_object() {
    return std::make_shared<RegExpObject>();
}

} // namespace zorvik
