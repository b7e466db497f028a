#include "codepage/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <memory>
#include <string>

namespace zorvik {

namespace {

struct ConverterCloser final {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

constexpr const char* kProgramCharset = "gb18030";
constexpr const char* kUtf8Charset = "UTF-8";

// ICU's own substitute for a legacy code page is often U+001A (SUB); a bad byte should show
// as the replacement character instead, as it does everywhere else.
void to_unicode_replacement(const void* /*context*/, UConverterToUnicodeArgs* args,
                            const char* /*code_units*/, int32_t /*length*/,
                            UConverterCallbackReason reason, UErrorCode* err) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) {
        return;
    }
    static const UChar replacement = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
}

ConverterPtr open_converter(const std::string& name) {
    if (name.empty()) {
        return nullptr; // ICU would open the platform default for an empty name
    }
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status) || !converter) {
        return nullptr;
    }
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), to_unicode_replacement, nullptr, nullptr, nullptr,
                        &status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    // Characters a legacy code page lacks (and lone surrogates) become '?', the Windows default
    // character; the Unicode encodings (UTF-8, UTF-16, UTF-32, whose units are wider than one
    // byte or which ICU refuses a one-byte substitute for) keep their own U+FFFD.
    if (ucnv_getType(converter.get()) != UCNV_UTF8 && ucnv_getMinCharSize(converter.get()) == 1) {
        status = U_ZERO_ERROR;
        ucnv_setSubstChars(converter.get(), "?", 1, &status);
        if (U_FAILURE(status)) {
            return nullptr;
        }
    }
    return converter;
}

UConverter* program_converter() {
    thread_local ConverterPtr converter = open_converter(kProgramCharset);
    return converter.get();
}

UConverter* utf8_converter() {
    thread_local ConverterPtr converter = open_converter(kUtf8Charset);
    return converter.get();
}

// A converter for a Windows code page number: borrowed from the per-thread cache for the
// program's code page and UTF-8, owned for the rest.
class CodePageConverter final {
public:
    explicit CodePageConverter(int code_page) {
        if (code_page == kCodePageUtf8) {
            raw_ = utf8_converter();
        } else if (code_page == kCodePageAnsi || code_page == 936 || code_page == 54936) {
            raw_ = program_converter();
        } else if (code_page > 0) {
            owned_ = open_converter("windows-" + std::to_string(code_page));
            if (!owned_) {
                owned_ = open_converter("ibm-" + std::to_string(code_page));
            }
            raw_ = owned_.get();
        }
    }

    UConverter* get() const { return raw_; }

private:
    ConverterPtr owned_;
    UConverter* raw_ = nullptr;
};

// Both directions of ICU's conversion take the same arguments the other way round: the whole
// input in one flushing call, the output grown until it fits. On failure the converter is
// reset for its next use and the output left empty.
template <typename In, typename Out, typename Step>
bool convert_all(UConverter* converter, std::basic_string_view<In> in, std::basic_string<Out>& out,
                 std::size_t first_size, Step step, void (*reset)(UConverter*)) {
    out.clear();
    if (converter == nullptr) {
        return false;
    }
    reset(converter);
    out.resize(first_size);
    const In* source = in.data();
    const In* const source_end = in.data() + in.size();
    std::size_t used = 0;
    for (;;) {
        Out* target = out.data() + used;
        UErrorCode status = U_ZERO_ERROR;
        step(converter, &target, out.data() + out.size(), &source, source_end, nullptr, true,
             &status);
        used = static_cast<std::size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(status)) {
            reset(converter);
            out.clear();
            return false;
        }
        out.resize(used);
        return true;
    }
}

bool to_utf16(UConverter* converter, std::string_view in, std::u16string& out) {
    // One UTF-16 unit per input byte covers every converter but a few with multi-character
    // mappings; the loop grows the buffer for those.
    return convert_all(converter, in, out, in.size() + 8, ucnv_toUnicode, ucnv_resetToUnicode);
}

bool from_utf16(UConverter* converter, std::u16string_view in, std::string& out) {
    return convert_all(converter, in, out, in.size() * 2 + 8, ucnv_fromUnicode,
                       ucnv_resetFromUnicode);
}

// Everything up to the first zero unit or byte, as the Windows functions read a terminated
// string.
std::string_view up_to_zero(std::string_view s) {
    return s.substr(0, s.find('\0'));
}
std::u16string_view up_to_zero(std::u16string_view s) {
    return s.substr(0, s.find(u'\0'));
}

std::u16string units_of(const Bytes& utf16) {
    std::u16string units(utf16.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(utf16[2 * i] | (utf16[2 * i + 1] << 8));
    }
    return units;
}

Bytes bytes_of_units(std::u16string_view units, bool terminator) {
    Bytes out;
    out.reserve(units.size() * 2 + 2);
    for (const char16_t u : units) {
        out.push_back(static_cast<unsigned char>(u & 0xFF));
        out.push_back(static_cast<unsigned char>(u >> 8));
    }
    if (terminator) {
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

// A base character followed by combining marks is folded into its precomposed form where one
// exists, the way WC_COMPOSITECHECK does; nothing else is normalised (compatibility
// ideographs, for one, keep their own code points and bytes).
std::u16string compose_pairs(std::u16string_view in) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status) || nfc == nullptr) {
        return std::u16string(in);
    }
    const auto needs_work =
        std::any_of(in.begin(), in.end(), [](char16_t u) { return u >= 0x300; });
    if (!needs_work) {
        return std::u16string(in);
    }
    std::u16string out;
    out.reserve(in.size());
    const auto length = static_cast<int32_t>(in.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 base;
        U16_NEXT(in.data(), i, length, base);
        while (i < length) {
            int32_t next_index = i;
            UChar32 mark;
            U16_NEXT(in.data(), next_index, length, mark);
            if (unorm2_getCombiningClass(nfc, mark) == 0) {
                break;
            }
            const UChar32 composite = unorm2_composePair(nfc, base, mark);
            if (composite < 0) {
                break;
            }
            base = composite;
            i = next_index;
        }
        if (U_IS_BMP(base)) {
            out.push_back(static_cast<char16_t>(base));
        } else {
            out.push_back(static_cast<char16_t>(U16_LEAD(base)));
            out.push_back(static_cast<char16_t>(U16_TRAIL(base)));
        }
    }
    return out;
}

} // namespace

Text utf8_to_ansi(std::string_view utf8) {
    std::u16string units;
    Text out;
    if (!to_utf16(utf8_converter(), up_to_zero(utf8), units) ||
        !from_utf16(program_converter(), units, out)) {
        return Text();
    }
    return out;
}

std::string ansi_to_utf8(std::string_view text) {
    std::u16string units;
    std::string out;
    if (!to_utf16(program_converter(), up_to_zero(text), units) ||
        !from_utf16(utf8_converter(), units, out)) {
        return std::string();
    }
    return out;
}

Bytes multibyte_to_wide(std::string_view text, int code_page) {
    const CodePageConverter converter(code_page);
    std::u16string units;
    if (!to_utf16(converter.get(), up_to_zero(text), units)) {
        return Bytes();
    }
    return bytes_of_units(units, true);
}

Text wide_to_multibyte(const Bytes& utf16, int code_page) {
    const CodePageConverter converter(code_page);
    const std::u16string units = units_of(utf16);
    std::string out;
    if (!from_utf16(converter.get(), up_to_zero(std::u16string_view(units)), out)) {
        return Text();
    }
    return Text(up_to_zero(std::string_view(out)));
}

Bytes ansi_to_wide(std::string_view text, bool drop_terminator) {
    const std::string_view source = up_to_zero(text);
    if (source.empty()) {
        return Bytes();
    }
    std::u16string units;
    if (!to_utf16(program_converter(), source, units)) {
        return Bytes();
    }
    return bytes_of_units(units, !drop_terminator);
}

Text wide_to_ansi(const Bytes& utf16) {
    const std::u16string units = compose_pairs(units_of(utf16));
    std::string out;
    if (!from_utf16(program_converter(), units, out)) {
        return Text();
    }
    return Text(up_to_zero(std::string_view(out)));
}

QString to_qstring(std::string_view text) {
    std::u16string units;
    if (!to_utf16(program_converter(), text, units)) {
        return QString();
    }
    return QString(reinterpret_cast<const QChar*>(units.data()),
                   static_cast<qsizetype>(units.size()));
}

Text from_qstring(const QString& s) {
    const std::u16string_view units(reinterpret_cast<const char16_t*>(s.utf16()),
                                    static_cast<std::size_t>(s.size()));
    std::string out;
    // Text cannot hold a zero byte: it ends where the string's first NUL stands.
    if (!from_utf16(program_converter(), up_to_zero(units), out)) {
        return Text();
    }
    return out;
}

bool decode_charset(std::string_view bytes, std::string_view charset, QString& out) {
    std::string name(charset);
    if (name.empty() || name.find('\0') != std::string::npos) {
        return false;
    }
    // The GB family: decode as GB18030, the superset, so that a page labelled gb2312 or gbk
    // that uses characters beyond its label still reads right (as browsers do).
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>((c >= 'A' && c <= 'Z') ? c | 0x20 : c);
    });
    if (lower == "gbk" || lower == "gb2312" || lower == "x-gbk" || lower == "cp936" ||
        lower == "windows-936" || lower == "gb18030") {
        name = kProgramCharset;
    }
    const ConverterPtr converter = open_converter(name);
    std::u16string units;
    if (!to_utf16(converter.get(), bytes, units)) {
        return false;
    }
    out =
        QString(reinterpret_cast<const QChar*>(units.data()), static_cast<qsizetype>(units.size()));
    return true;
}

} // namespace zorvik
