#include "platform/request_object.h"

#include "platform/automation.h"
#include "platform/builtin_objects.h"
#include "platform/curl_transfer.h"

#include <QByteArray>
#include <QString>
#include <QStringConverter>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zorvik {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kWatchedUploadBytes = 64 * 1024;

struct CurlUrlDeleter final {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlFree final {
    void operator()(char* s) const { curl_free(s); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlString = std::unique_ptr<char, CurlFree>;

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), ascii_lower);
    return out;
}

std::string utf8_of(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// Header bytes have no declared charset: UTF-8 when they are valid UTF-8, else Latin-1 (each
// byte one character), so nothing is lost.
QString header_text(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError()) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return s;
}

const Variant* arg_at(std::span<const Variant> args, std::size_t i) {
    return i < args.size() ? &args[i] : nullptr;
}

// The layer's conversions report through last_error(); read it back to see whether they took.
std::optional<std::int32_t> integer_arg(std::span<const Variant> args, std::size_t i) {
    const Variant* v = arg_at(args, i);
    if (v == nullptr) {
        return std::nullopt;
    }
    clear_last_error();
    const std::int32_t n = to_integer(*v);
    if (!last_error().empty()) {
        return std::nullopt;
    }
    return n;
}

std::optional<QString> text_arg(std::span<const Variant> args, std::size_t i) {
    const Variant* v = arg_at(args, i);
    if (v == nullptr) {
        return std::nullopt;
    }
    clear_last_error();
    QString s = to_qstring(*v);
    if (!last_error().empty()) {
        return std::nullopt;
    }
    return s;
}

bool is_token_char(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool is_token(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), is_token_char);
}

bool has_line_break_or_nul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The scheme of an http or https URL in lower case; nullopt for anything else.
std::optional<std::string> web_scheme(const std::string& url) {
    CurlUrl u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    char* raw = nullptr;
    if (curl_url_get(u.get(), CURLUPART_SCHEME, &raw, 0) != CURLUE_OK || raw == nullptr) {
        return std::nullopt;
    }
    const CurlString scheme(raw);
    const std::string s = lowered(scheme.get());
    if (s != "http" && s != "https") {
        return std::nullopt;
    }
    return s;
}

// A proxy setting may name one proxy for all or one per scheme ("http=a:1;https=b:2").
std::string proxy_for_scheme(const std::string& setting, const std::string& scheme) {
    std::string general;
    std::size_t pos = 0;
    while (pos < setting.size()) {
        const std::size_t end = setting.find_first_of("; \t", pos);
        const std::string entry =
            setting.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? setting.size() : end + 1;
        if (entry.empty()) {
            continue;
        }
        const std::size_t eq = entry.find('=');
        const bool keyed =
            eq != std::string::npos && eq > 0 &&
            std::all_of(entry.begin(), entry.begin() + static_cast<long>(eq),
                        [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
        if (keyed) {
            if (lowered(entry.substr(0, eq)) == scheme) {
                return entry.substr(eq + 1);
            }
        } else if (general.empty()) {
            general = entry;
        }
    }
    return general;
}

// What the callbacks of one transfer share.
struct Transfer final {
    CURL* easy = nullptr;
    Bytes body;
    std::string status_line;
    std::vector<std::string> header_lines; // of the response being received
    std::size_t header_bytes = 0;
    bool at_response_start = true;
    bool too_large = false;
    bool connected = false;
    Clock::time_point last_activity = Clock::now();
    curl_off_t uploaded = 0;
};

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    t->last_activity = Clock::now();
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    // Every response (a redirect, a "100 Continue") starts over; only the last one counts.
    // Trailers of a chunked body come here too, after the head's empty line.
    if (t->at_response_start && line.rfind("HTTP/", 0) == 0) {
        t->at_response_start = false;
        t->status_line = std::move(line);
        t->header_lines.clear();
        t->header_bytes = 0;
        t->body.clear();
        return n;
    }
    t->header_bytes += n;
    if (t->header_bytes > kMaxResponseHeaderBytes) {
        t->too_large = true;
        return 0;
    }
    if (!line.empty()) {
        t->header_lines.push_back(std::move(line));
        return n;
    }
    t->at_response_start = true;
    // The end of the head: one allocation for an announced body instead of repeated growth.
    // The cap bounds what a lying server can make us reserve.
    curl_off_t announced = -1;
    if (curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > 0 && static_cast<std::size_t>(announced) <= kMaxResponseBodyBytes) {
        t->body.reserve(static_cast<std::size_t>(announced));
    }
    return n;
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    t->last_activity = Clock::now();
    if (n > kMaxResponseBodyBytes - t->body.size()) {
        t->too_large = true;
        return 0;
    }
    // Same element type on both sides, so this is one memmove.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    t->body.insert(t->body.end(), bytes, bytes + n);
    return n;
}

int on_connected(void* user, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(user);
    t->connected = true;
    t->last_activity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// Uploads move without a callback of ours; their progress counts as activity too.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(user);
    if (ulnow != t->uploaded) {
        t->uploaded = ulnow;
        t->last_activity = Clock::now();
    }
    return 0;
}

// Collects the setup steps; the first failing curl_easy_setopt is remembered.
class Setup final {
public:
    explicit Setup(CURL* easy) : easy_(easy) {}

    template <typename T> Setup& set(CURLoption option, T value) {
        if (ok_) {
            const CURLcode rc = curl_easy_setopt(easy_, option, value);
            if (rc != CURLE_OK) {
                ok_ = false;
                error_ = curl_easy_strerror(rc);
            }
        }
        return *this;
    }
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

private:
    CURL* easy_;
    bool ok_ = true;
    std::string error_;
};

class SendingGuard final {
public:
    explicit SendingGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~SendingGuard() { flag_ = false; }
    SendingGuard(const SendingGuard&) = delete;
    SendingGuard& operator=(const SendingGuard&) = delete;

private:
    bool& flag_;
};

class RequestObject final : public AutomationObject {
public:
    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override;

private:
    struct Credentials final {
        bool given = false;
        std::string user;
        std::string password;
    };

    InvokeResult set_timeouts(std::span<const Variant> args);
    InvokeResult set_proxy(std::span<const Variant> args);
    InvokeResult open(std::span<const Variant> args);
    InvokeResult option(InvokeKind kind, std::span<const Variant> args);
    InvokeResult set_credentials(std::span<const Variant> args);
    InvokeResult set_request_header(std::span<const Variant> args);
    InvokeResult send(std::span<const Variant> args);
    InvokeResult read_response(std::string_view member, std::span<const Variant> args) const;

    bool follow_redirects() const;
    void forget_response();

    // Settings kept from request to request.
    int resolve_ms_ = 0;
    int connect_ms_ = 60000;
    int send_ms_ = 30000;
    int receive_ms_ = 30000;
    std::string proxy_setting_;
    std::map<int, Variant> options_;
    Credentials server_credentials_;
    Credentials proxy_credentials_;

    // The request Open prepared.
    bool opened_ = false;
    std::string verb_;
    std::string url_;
    std::string scheme_;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::unordered_map<std::string, std::size_t> header_index_; // lower-case name -> position

    // The last response.
    bool has_response_ = false;
    long status_ = 0;
    std::string status_line_;
    std::vector<std::string> response_lines_;
    // Shared with the variants ResponseBody hands out, so a large body is never copied; it is
    // replaced, never changed, while shared.
    std::shared_ptr<Bytes> body_ = std::make_shared<Bytes>();

    bool sending_ = false;
};

InvokeResult RequestObject::invoke(InvokeKind kind, std::string_view member,
                                   std::span<const Variant> args) {
    // Handlers run while Send pumps events; none of them may touch a request in flight.
    if (sending_) {
        return InvokeResult::failure("the request object is busy with a request");
    }
    const bool call = kind == InvokeKind::Call;
    if (same_member(member, "Option") && kind != InvokeKind::Call) {
        return option(kind, args);
    }
    if (call && same_member(member, "SetTimeouts")) {
        return set_timeouts(args);
    }
    if (call && same_member(member, "SetProxy")) {
        return set_proxy(args);
    }
    if (call && same_member(member, "Open")) {
        return open(args);
    }
    if (call && same_member(member, "SetCredentials")) {
        return set_credentials(args);
    }
    if (call && same_member(member, "SetRequestHeader")) {
        return set_request_header(args);
    }
    if (call && same_member(member, "Send")) {
        return send(args);
    }
    if (kind != InvokeKind::Put) {
        for (std::string_view name : {"Status", "StatusText", "ResponseBody", "ResponseText",
                                      "GetAllResponseHeaders", "GetResponseHeader"}) {
            if (same_member(member, name)) {
                return read_response(name, args);
            }
        }
    }
    return InvokeResult::failure("the request object has no member " + std::string(member) +
                                 " for this use");
}

InvokeResult RequestObject::set_timeouts(std::span<const Variant> args) {
    int values[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const auto v = integer_arg(args, i);
        if (!v) {
            return InvokeResult::failure("SetTimeouts needs four numbers of milliseconds");
        }
        values[i] = *v;
    }
    resolve_ms_ = values[0];
    connect_ms_ = values[1];
    send_ms_ = values[2];
    receive_ms_ = values[3];
    return InvokeResult::success();
}

InvokeResult RequestObject::set_proxy(std::span<const Variant> args) {
    const auto setting = integer_arg(args, 0);
    if (!setting) {
        return InvokeResult::failure("SetProxy needs a proxy setting");
    }
    if (*setting == 0 || *setting == 1) {
        proxy_setting_.clear();
        return InvokeResult::success();
    }
    if (*setting != 2) {
        return InvokeResult::failure("unknown proxy setting");
    }
    const auto server = text_arg(args, 1);
    if (!server) {
        return InvokeResult::failure("SetProxy needs a proxy server");
    }
    std::string s = utf8_of(*server);
    if (has_line_break_or_nul(s)) {
        return InvokeResult::failure("the proxy server is not valid");
    }
    proxy_setting_ = std::move(s);
    return InvokeResult::success();
}

InvokeResult RequestObject::open(std::span<const Variant> args) {
    const auto verb = text_arg(args, 0);
    const auto url = text_arg(args, 1);
    if (!verb || !url) {
        return InvokeResult::failure("Open needs a verb and an address");
    }
    if (const Variant* async = arg_at(args, 2); async != nullptr && to_logical(*async)) {
        return InvokeResult::failure("asynchronous requests are not supported");
    }
    std::string verb_bytes = utf8_of(*verb);
    std::string url_bytes = utf8_of(*url);
    if (!is_token(verb_bytes)) {
        return InvokeResult::failure("the verb is not valid");
    }
    const auto scheme = web_scheme(url_bytes);
    if (!scheme) {
        return InvokeResult::failure("the address is not a valid http or https URL");
    }
    opened_ = true;
    verb_ = std::move(verb_bytes);
    url_ = std::move(url_bytes);
    scheme_ = *scheme;
    headers_.clear();
    header_index_.clear();
    forget_response();
    return InvokeResult::success();
}

InvokeResult RequestObject::option(InvokeKind kind, std::span<const Variant> args) {
    const auto index = integer_arg(args, 0);
    if (!index) {
        return InvokeResult::failure("Option needs an index");
    }
    if (kind == InvokeKind::Put) {
        const Variant* value = arg_at(args, 1);
        if (value == nullptr) {
            return InvokeResult::failure("Option needs a value");
        }
        // The certificate-error flags are kept so they read back, but never obeyed.
        options_[*index] = *value;
        return InvokeResult::success();
    }
    if (const auto it = options_.find(*index); it != options_.end()) {
        return InvokeResult::success(it->second);
    }
    if (*index == kRequestOptionEnableRedirects) {
        return InvokeResult::success(Variant(true));
    }
    if (*index == kRequestOptionSslErrorIgnoreFlags) {
        return InvokeResult::success(Variant(std::int32_t{0}));
    }
    return InvokeResult::failure("option " + std::to_string(*index) + " has no value");
}

InvokeResult RequestObject::set_credentials(std::span<const Variant> args) {
    const auto user = text_arg(args, 0);
    const auto password = text_arg(args, 1);
    const auto flags = integer_arg(args, 2);
    if (!user || !password || !flags || (*flags != 0 && *flags != 1)) {
        return InvokeResult::failure("SetCredentials needs a user, a password and 0 or 1");
    }
    Credentials& c = *flags == 0 ? server_credentials_ : proxy_credentials_;
    c = {true, utf8_of(*user), utf8_of(*password)};
    return InvokeResult::success();
}

InvokeResult RequestObject::set_request_header(std::span<const Variant> args) {
    if (!opened_) {
        return InvokeResult::failure("Open has not been called");
    }
    const auto name = text_arg(args, 0);
    const auto value = text_arg(args, 1);
    if (!name || !value) {
        return InvokeResult::failure("SetRequestHeader needs a name and a value");
    }
    std::string n = utf8_of(*name);
    std::string v = utf8_of(*value);
    // A line break would let a value forge headers of its own.
    if (!is_token(n) || has_line_break_or_nul(v)) {
        return InvokeResult::failure("the header " + n + " is not valid");
    }
    const auto [it, added] = header_index_.try_emplace(lowered(n), headers_.size());
    if (!added) {
        headers_[it->second].second = std::move(v);
        return InvokeResult::success();
    }
    headers_.emplace_back(std::move(n), std::move(v));
    return InvokeResult::success();
}

bool RequestObject::follow_redirects() const {
    const auto it = options_.find(kRequestOptionEnableRedirects);
    if (it == options_.end()) {
        return true;
    }
    // A value with no logical reading leaves redirects on, as they were.
    clear_last_error();
    const bool follow = to_logical(it->second);
    return last_error().empty() ? follow : true;
}

void RequestObject::forget_response() {
    has_response_ = false;
    status_ = 0;
    status_line_.clear();
    response_lines_.clear();
    body_ = std::make_shared<Bytes>();
}

InvokeResult RequestObject::send(std::span<const Variant> args) {
    if (!opened_) {
        return InvokeResult::failure("Open has not been called");
    }
    forget_response();

    std::string body;
    bool has_body = false;
    if (const Variant* v = arg_at(args, 0); v != nullptr) {
        if (v->kind() == Variant::Kind::Bytes) {
            body.assign(v->as_bytes().begin(), v->as_bytes().end());
        } else if (v->kind() != Variant::Kind::Empty && v->kind() != Variant::Kind::Null) {
            const auto text = text_arg(args, 0);
            if (!text) {
                return InvokeResult::failure("Send needs a text or a byte array");
            }
            body = utf8_of(*text);
        }
        has_body = !body.empty();
    }

    CurlEasy easy = make_curl_easy();
    if (!easy) {
        return InvokeResult::failure("cannot start a transfer");
    }
    CURL* h = easy.get();
    apply_safe_defaults(h);

    Transfer t;
    t.easy = h;
    char error_buffer[CURL_ERROR_SIZE] = {};
    Setup s(h);
    s.set(CURLOPT_URL, url_.c_str())
        .set(CURLOPT_ERRORBUFFER, error_buffer)
        // Header names keep their case on HTTP/1.1; the callers look for "Set-Cookie" exactly.
        .set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))
        .set(CURLOPT_FOLLOWLOCATION, follow_redirects() ? 1L : 0L)
        .set(CURLOPT_MAXREDIRS, kMaxRedirects)
        .set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBodyBytes))
        .set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)
        .set(CURLOPT_HEADERFUNCTION, on_header)
        .set(CURLOPT_HEADERDATA, &t)
        .set(CURLOPT_WRITEFUNCTION, on_body)
        .set(CURLOPT_WRITEDATA, &t)
        .set(CURLOPT_PREREQFUNCTION, on_connected)
        .set(CURLOPT_PREREQDATA, &t);
    // A small body leaves in one write; only a larger one needs its progress watched.
    if (body.size() > kWatchedUploadBytes) {
        s.set(CURLOPT_XFERINFOFUNCTION, on_progress)
            .set(CURLOPT_XFERINFODATA, &t)
            .set(CURLOPT_NOPROGRESS, 0L);
    }

    const long connect_ms = connect_ms_ > 0 ? static_cast<long>(std::max(resolve_ms_, 0)) +
                                                  static_cast<long>(connect_ms_)
                                            : 0L;
    s.set(CURLOPT_CONNECTTIMEOUT_MS, connect_ms);

    // An empty proxy string also shuts out the environment's http_proxy and no_proxy.
    const std::string proxy = proxy_for_scheme(proxy_setting_, scheme_);
    s.set(CURLOPT_PROXY, proxy.c_str()).set(CURLOPT_NOPROXY, "");

    if (server_credentials_.given) {
        s.set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC))
            .set(CURLOPT_USERNAME, server_credentials_.user.c_str())
            .set(CURLOPT_PASSWORD, server_credentials_.password.c_str());
    }
    if (proxy_credentials_.given && !proxy.empty()) {
        s.set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC))
            .set(CURLOPT_PROXYUSERNAME, proxy_credentials_.user.c_str())
            .set(CURLOPT_PROXYPASSWORD, proxy_credentials_.password.c_str());
    }

    CurlSlist server_headers;
    CurlSlist proxy_headers;
    bool listed = true;
    bool has_content_type = false;
    bool has_accept = false;
    bool has_expect = false;
    for (const auto& [name, value] : headers_) {
        const std::string key = lowered(name);
        if (key == "content-length") {
            continue; // libcurl counts the body itself
        }
        has_content_type = has_content_type || key == "content-type";
        has_accept = has_accept || key == "accept";
        has_expect = has_expect || key == "expect";
        // libcurl's way to send a header with an empty value is "Name;".
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        listed = listed &&
                 append_header(key == "proxy-authorization" ? proxy_headers : server_headers, line);
    }
    // Headers libcurl would add on its own, which this object does not send unless asked.
    if (!has_accept) {
        listed = listed && append_header(server_headers, "Accept:");
    }
    if (!has_expect) {
        listed = listed && append_header(server_headers, "Expect:");
    }
    const bool post_fields = has_body || verb_ == "POST";
    if (post_fields && !has_content_type) {
        listed = listed && append_header(server_headers, "Content-Type:");
    }
    if (!listed) {
        return InvokeResult::failure("out of memory for the request headers");
    }
    s.set(CURLOPT_HEADEROPT, CURLHEADER_SEPARATE)
        .set(CURLOPT_HTTPHEADER, server_headers.get())
        .set(CURLOPT_PROXYHEADER, proxy_headers.get());

    if (verb_ == "HEAD") {
        s.set(CURLOPT_NOBODY, 1L);
    } else if (post_fields) {
        s.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()))
            .set(CURLOPT_POSTFIELDS, body.data());
        if (verb_ != "POST") {
            s.set(CURLOPT_CUSTOMREQUEST, verb_.c_str());
        }
    } else if (verb_ == "GET") {
        s.set(CURLOPT_HTTPGET, 1L);
    } else {
        s.set(CURLOPT_CUSTOMREQUEST, verb_.c_str());
    }
    if (!s.ok()) {
        return InvokeResult::failure("cannot set up the transfer: " + s.error());
    }

    // After connecting, give up when nothing has moved for the longer of send and receive,
    // and four times that after connecting at the latest: a server that trickles a byte now
    // and then must not hold the window for ever.
    const int stall_ms = std::max(send_ms_, receive_ms_);
    bool stalled = false;
    std::optional<Clock::time_point> connected_at;
    auto watchdog = [&]() {
        if (stall_ms <= 0 || !t.connected) {
            return false;
        }
        const auto now = Clock::now();
        if (!connected_at) {
            connected_at = now;
        }
        const std::chrono::milliseconds limit(stall_ms);
        stalled = now - t.last_activity > limit || now - *connected_at > 4 * limit;
        return stalled;
    };

    CURLcode rc;
    {
        SendingGuard guard(sending_);
        rc = perform_pumped(h, watchdog);
    }
    if (rc != CURLE_OK) {
        if (t.too_large || rc == CURLE_FILESIZE_EXCEEDED) {
            return InvokeResult::failure("the reply is too large");
        }
        if (stalled) {
            return InvokeResult::failure("the operation timed out");
        }
        std::string why = curl_easy_strerror(rc);
        if (error_buffer[0] != '\0') {
            why += ": ";
            why += error_buffer;
        }
        return InvokeResult::failure(why);
    }
    // libcurl takes a head that breaks off (a status line, then the connection closes) for a
    // complete, empty response.
    if (!t.at_response_start) {
        return InvokeResult::failure("the response head was cut off");
    }
    // A length libcurl could not read leaves it reading to the close, so a cut body would pass
    // for a whole one.
    const auto any_line = [&](bool (*test)(std::string_view)) {
        return std::any_of(t.header_lines.begin(), t.header_lines.end(),
                           [test](const std::string& line) { return test(line); });
    };
    if (any_line(announces_unreadable_length) && !any_line(announces_chunked_body)) {
        return InvokeResult::failure("the reply's Content-Length cannot be read");
    }
    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return InvokeResult::failure("no response status");
    }
    has_response_ = true;
    status_ = status;
    status_line_ = std::move(t.status_line);
    response_lines_ = std::move(t.header_lines);
    body_ = std::make_shared<Bytes>(std::move(t.body));
    return InvokeResult::success();
}

InvokeResult RequestObject::read_response(std::string_view member,
                                          std::span<const Variant> args) const {
    if (!has_response_) {
        return InvokeResult::failure("no response is available");
    }
    if (member == "Status") {
        return InvokeResult::success(Variant(static_cast<std::int32_t>(status_)));
    }
    if (member == "StatusText") {
        // "HTTP/1.1 404 Not Found": the words after the code.
        std::string reason;
        const std::size_t first = status_line_.find(' ');
        if (first != std::string::npos) {
            const std::size_t second = status_line_.find(' ', first + 1);
            if (second != std::string::npos) {
                reason = status_line_.substr(second + 1);
            }
        }
        return InvokeResult::success(Variant(header_text(reason)));
    }
    if (member == "ResponseBody") {
        return InvokeResult::success(Variant(body_));
    }
    if (member == "ResponseText") {
        return InvokeResult::success(Variant(QString::fromUtf8(
            reinterpret_cast<const char*>(body_->data()), static_cast<qsizetype>(body_->size()))));
    }
    if (member == "GetAllResponseHeaders") {
        // Line by line, so one Latin-1 line does not garble its UTF-8 neighbours.
        QString all;
        for (const auto& line : response_lines_) {
            all += header_text(line);
            all += QStringLiteral("\r\n");
        }
        return InvokeResult::success(Variant(all));
    }
    // GetResponseHeader(name): the value of the first line of that name.
    const auto name = text_arg(args, 0);
    if (!name) {
        return InvokeResult::failure("GetResponseHeader needs a name");
    }
    const std::string wanted = lowered(utf8_of(*name));
    for (const auto& line : response_lines_) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && lowered(line.substr(0, colon)) == wanted) {
            const std::size_t start = line.find_first_not_of(" \t", colon + 1);
            return InvokeResult::success(
                Variant(header_text(start == std::string::npos ? "" : line.substr(start))));
        }
    }
    return InvokeResult::failure("the response has no header " + utf8_of(*name));
}

} // namespace

ObjectRef make_winhttp_request_object() {
    return std::make_shared<RequestObject>();
}

} // namespace zorvik
