// "Adodb.Stream": an in-memory byte stream that is written as bytes and read back as text in a
// named charset, decoded by ICU.
//
// Members: Type (1 bytes, 2 text), Mode, Position, Charset, Size, State; Open, Write, ReadText,
// Close. Type, Charset and Position follow the classic rules: Type and Charset change only at
// position 0, Mode only while closed.

#include "platform/builtin_objects.h"

#include "codepage/codepage.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <new>
#include <string>

namespace zorvik {
namespace {

constexpr std::int32_t kTypeBinary = 1;
constexpr std::int32_t kTypeText = 2;
constexpr std::int32_t kReadAll = -1;

bool read_integer(const Variant& v, std::int32_t& out) {
    clear_last_error();
    out = to_integer(v);
    return last_error().empty();
}

bool read_text(const Variant& v, QString& out) {
    clear_last_error();
    out = to_qstring(v);
    return last_error().empty();
}

// The name ICU knows for a charset name of this object; "Unicode" is its word for UTF-16LE.
std::string icu_charset_name(const QString& charset) {
    if (charset.compare(QStringLiteral("unicode"), Qt::CaseInsensitive) == 0) {
        return "UTF-16LE";
    }
    return charset.toStdString();
}

class AdoStream final : public AutomationObject {
public:
    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override {
        if (kind == InvokeKind::Call) {
            if (same_member(member, "Open")) {
                return open(args);
            }
            if (same_member(member, "Write") && args.size() == 1) {
                return write(args[0]);
            }
            if (same_member(member, "ReadText") && args.size() <= 1) {
                return read_text_member(args);
            }
            if (same_member(member, "Close") && args.empty()) {
                return close();
            }
            return InvokeResult::failure("the stream has no method " + Text(member));
        }
        if (kind == InvokeKind::Get) {
            if (!args.empty()) {
                return InvokeResult::failure("the property takes no index");
            }
            return get(member);
        }
        if (args.size() != 1) {
            return InvokeResult::failure("the property takes no index");
        }
        return put(member, args[0]);
    }

private:
    InvokeResult get(std::string_view member) const {
        if (same_member(member, "Type")) {
            return InvokeResult::success(type_);
        }
        if (same_member(member, "Mode")) {
            return InvokeResult::success(mode_);
        }
        if (same_member(member, "Charset")) {
            return InvokeResult::success(charset_);
        }
        if (same_member(member, "State")) {
            return InvokeResult::success(std::int32_t{open_ ? 1 : 0});
        }
        if (same_member(member, "Position") || same_member(member, "Size")) {
            if (!open_) {
                return closed_failure();
            }
            const std::size_t value = same_member(member, "Size") ? data_.size() : position_;
            return InvokeResult::success(static_cast<std::int32_t>(value));
        }
        return InvokeResult::failure("the stream has no property " + Text(member));
    }

    InvokeResult put(std::string_view member, const Variant& value) {
        if (same_member(member, "Charset")) {
            QString charset;
            if (!read_text(value, charset) || charset.isEmpty()) {
                return InvokeResult::failure("the charset must be a name");
            }
            if (open_ && position_ != 0) {
                return InvokeResult::failure("the charset changes only at position 0");
            }
            charset_ = charset;
            return InvokeResult::success();
        }
        std::int32_t number = 0;
        if (!read_integer(value, number)) {
            return InvokeResult::failure("the property takes a number");
        }
        if (same_member(member, "Type")) {
            if (number != kTypeBinary && number != kTypeText) {
                return InvokeResult::failure("the type is 1 (bytes) or 2 (text)");
            }
            if (open_ && position_ != 0) {
                return InvokeResult::failure("the type changes only at position 0");
            }
            type_ = number;
            return InvokeResult::success();
        }
        if (same_member(member, "Mode")) {
            if (open_) {
                return InvokeResult::failure("the mode changes only while the stream is closed");
            }
            mode_ = number;
            return InvokeResult::success();
        }
        if (same_member(member, "Position")) {
            if (!open_) {
                return closed_failure();
            }
            if (number < 0 || static_cast<std::size_t>(number) > data_.size()) {
                return InvokeResult::failure("the position lies outside the stream");
            }
            position_ = static_cast<std::size_t>(number);
            return InvokeResult::success();
        }
        return InvokeResult::failure("the stream has no settable property " + Text(member));
    }

    InvokeResult open(std::span<const Variant> args) {
        // Only an empty stream is made here; opening a source is not supported.
        if (!args.empty() && !args[0].is_empty()) {
            return InvokeResult::failure("the stream opens only empty");
        }
        if (open_) {
            return InvokeResult::failure("the stream is already open");
        }
        open_ = true;
        data_.clear();
        position_ = 0;
        return InvokeResult::success();
    }

    InvokeResult write(const Variant& value) {
        if (!open_) {
            return closed_failure();
        }
        if (type_ != kTypeBinary) {
            return InvokeResult::failure("Write needs a stream of type 1 (bytes)");
        }
        if (value.kind() != Variant::Kind::Bytes) {
            return InvokeResult::failure("Write takes a byte array");
        }
        const Bytes& bytes = value.as_bytes();
        try {
            const std::size_t end = position_ + bytes.size();
            if (end > data_.size()) {
                data_.resize(end);
            }
            data_.replace(position_, bytes.size(), reinterpret_cast<const char*>(bytes.data()),
                          bytes.size());
            position_ = end;
        } catch (const std::bad_alloc&) {
            return InvokeResult::failure("not enough memory for the stream");
        }
        return InvokeResult::success();
    }

    InvokeResult read_text_member(std::span<const Variant> args) {
        if (!open_) {
            return closed_failure();
        }
        if (type_ != kTypeText) {
            return InvokeResult::failure("ReadText needs a stream of type 2 (text)");
        }
        std::int32_t count = kReadAll;
        if (!args.empty() && !args[0].is_empty() && !read_integer(args[0], count)) {
            return InvokeResult::failure("ReadText takes a character count");
        }
        if (count != kReadAll) {
            return InvokeResult::failure("ReadText reads the whole rest of the stream only");
        }
        QString text;
        const std::string_view rest = std::string_view(data_).substr(position_);
        if (!decode_charset(rest, icu_charset_name(charset_), text)) {
            return InvokeResult::failure("unknown charset " + from_qstring(charset_));
        }
        // A byte-order mark at the start of the stream is not part of its text.
        if (position_ == 0 && text.startsWith(QChar(0xFEFF))) {
            text.remove(0, 1);
        }
        position_ = data_.size();
        return InvokeResult::success(text);
    }

    InvokeResult close() {
        if (!open_) {
            return closed_failure();
        }
        open_ = false;
        data_.clear();
        data_.shrink_to_fit();
        position_ = 0;
        return InvokeResult::success();
    }

    static InvokeResult closed_failure() { return InvokeResult::failure("the stream is closed"); }

    std::int32_t type_ = kTypeText;
    std::int32_t mode_ = 0;
    QString charset_ = QStringLiteral("Unicode");
    bool open_ = false;
    std::string data_;
    std::size_t position_ = 0;
};

} // namespace

ObjectRef make_ado_stream() {
    return std::make_shared<AdoStream>();
}

} // namespace zorvik
