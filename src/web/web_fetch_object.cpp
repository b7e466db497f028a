#include "web/web_fetch_object.h"

#include "cipher/base64.h"
#include "platform/request_object.h"
#include "web/header_cookie.h"

#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace zorvik {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::int32_t kDefaultTimeoutMs = 15000;
constexpr std::int32_t kIgnoreCommonCertErrors = 0x3300;
constexpr int kProxyNamed = 2;

constexpr std::array<std::string_view, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                                    "OPTIONS", "DELETE", "TRACE", "CONNECT"};

struct DefaultHeader final {
    std::string_view key;
    std::string_view line; // Referer gets the URL appended
    bool post_only;
};

constexpr std::array<DefaultHeader, 5> kDefaultHeaders = {{
    {"Accept:", "Accept: */*", false},
    {"Referer:", "Referer: ", false},
    {"Accept-Language:", "Accept-Language: zh-cn", false},
    {"User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", true},
}};

Variant int_arg(std::int64_t v) {
    return Variant(static_cast<std::int32_t>(v));
}

// Seconds to milliseconds without overflowing the object's 32-bit time-outs.
std::int32_t timeout_ms(int seconds) {
    if (seconds < 1) {
        return kDefaultTimeoutMs;
    }
    const std::int64_t ms = static_cast<std::int64_t>(seconds) * 1000;
    return ms > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                         : static_cast<std::int32_t>(ms);
}

void set_request_header(const ObjectRef& request, std::string_view name, std::string_view value) {
    call_method(request, "SetRequestHeader", {Variant::from_text(name), Variant::from_text(value)});
}

void set_header_line(const ObjectRef& request, std::string_view line) {
    const Text name = header_line_name(line);
    if (!name.empty()) {
        set_request_header(request, name, header_line_value(line));
    }
}

// Balances co_initialize on every way out.
class ComScope final {
public:
    ComScope() { co_initialize(); }
    ~ComScope() { co_uninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

} // namespace

Bytes web_fetch_object(std::string_view url, std::optional<int> method,
                       std::optional<Text> post_text, Text* send_cookies, Text* returned_cookies,
                       Text* extra_headers, Text* response_headers, int* status_code,
                       std::optional<bool> no_redirect, std::optional<Bytes> post_bytes,
                       std::optional<Text> proxy, std::optional<int> timeout_seconds,
                       std::optional<Text> proxy_user_name, std::optional<Text> proxy_password,
                       std::optional<int> credential_target,
                       std::optional<ObjectRef> request_object, std::optional<bool> merge_cookies,
                       std::optional<bool> add_default_headers,
                       std::optional<bool> normalise_header_names) {
    const int method_number = method.value_or(0);
    const Text proxy_text = proxy.value_or(Text());
    const Text user = proxy_user_name.value_or(Text());
    const Text password = proxy_password.value_or(Text());
    const int target = credential_target.value_or(1);
    const int timeout = timeout_seconds.value_or(0);

    ComScope com;

    const int verb_index = (method_number < 0 || method_number > 7) ? 0 : method_number;
    const std::string_view verb = kVerbs[static_cast<std::size_t>(verb_index)];

    ObjectRef request;
    if (request_object) {
        request = *request_object;
    } else if (!create_object(request, kRequestObjectProgId)) {
        return {};
    }

    if (timeout != -1) {
        const std::int32_t t = timeout_ms(timeout);
        call_method(request, "SetTimeouts", {int_arg(t), int_arg(t), int_arg(t), int_arg(t)});
    }
    if (!proxy_text.empty()) {
        call_method(request, "SetProxy", {int_arg(kProxyNamed), Variant::from_text(proxy_text)});
    }
    call_method(request, "Open",
                {Variant::from_text(verb), Variant::from_text(url), Variant(false)});
    if (no_redirect.value_or(false)) {
        put_property(request, "Option", {int_arg(kRequestOptionEnableRedirects)}, int_arg(0));
    }
    // The object keeps verifying certificates whatever these flags say.
    put_property(request, "Option", {int_arg(kRequestOptionSslErrorIgnoreFlags)},
                 int_arg(kIgnoreCommonCertErrors));

    Text block = extra_headers != nullptr ? *extra_headers : Text();
    if (add_default_headers.value_or(true)) {
        for (const DefaultHeader& row : kDefaultHeaders) {
            if (row.post_only && verb_index != 1) {
                continue;
            }
            if (!contains(block, row.key, true)) {
                block += kCrLf;
                block += row.line;
                if (row.key == "Referer:") {
                    block += url;
                }
            }
        }
    }
    if (normalise_header_names.value_or(true)) {
        block = normalise_header_block(block);
    }
    if (extra_headers != nullptr) {
        *extra_headers = block;
    }

    if (!proxy_text.empty() && !user.empty()) {
        call_method(request, "SetCredentials",
                    {Variant::from_text(user), Variant::from_text(password), int_arg(target)});
        if (target == 1) {
            const Text credentials = user + ":" + password;
            set_request_header(request, "Proxy-Authorization",
                               "Basic " + base64_encode(bytes_of(credentials)));
        }
    }

    if (send_cookies != nullptr) {
        if (!send_cookies->empty() && contains(*send_cookies, "Cookie:", true)) {
            *send_cookies = replace_all(*send_cookies, "Cookie:", {}, true);
        }
        set_request_header(request, "Cookie", *send_cookies);
    }

    if (find(block, kCrLf) < 0) {
        set_header_line(request, block);
    } else {
        for (const Text& line : split(block, kCrLf)) {
            if (line.empty()) {
                continue;
            }
            if (header_line_name(line) == "Connection" && header_line_value(line) == "keep-alive") {
                continue;
            }
            set_header_line(request, line);
        }
    }

    if (post_bytes && !post_bytes->empty()) {
        call_method(request, "Send", {Variant(std::move(*post_bytes))});
    } else {
        call_method(request, "Send", {Variant::from_text(post_text.value_or(Text()))});
    }

    // Kept as a variant until the object is released, so the body moves out without a copy.
    Variant body_value = get_property(request, "ResponseBody");
    const Text headers = to_text(call_method(request, "GetAllResponseHeaders"));
    const int status = to_integer(get_property(request, "Status"));
    if (response_headers != nullptr) {
        *response_headers = headers;
    }
    if (status_code != nullptr) {
        *status_code = status;
    }

    Text cookies;
    for (const Text& line : split(headers, kCrLf)) {
        if (text_before(line, ": ") == "Set-Cookie") {
            cookies += set_cookie_item(line);
            cookies += "; ";
        }
    }
    if (ends_with(cookies, "; ")) {
        cookies.resize(cookies.size() - 2);
    }
    if (merge_cookies.value_or(true) && send_cookies != nullptr) {
        cookies = merge_cookie_lists(*send_cookies, cookies);
    }
    if (returned_cookies != nullptr) {
        *returned_cookies = std::move(cookies);
    }

    release(request);
    return to_bytes(std::move(body_value));
}

Bytes web_fetch_object(WebFetchObjectArgs a) {
    return web_fetch_object(
        a.url, a.method, std::move(a.post_text), a.send_cookies, a.returned_cookies,
        a.extra_headers, a.response_headers, a.status_code, a.no_redirect, std::move(a.post_bytes),
        std::move(a.proxy), a.timeout_seconds, std::move(a.proxy_user_name),
        std::move(a.proxy_password), a.credential_target, std::move(a.request_object),
        a.merge_cookies, a.add_default_headers, a.normalise_header_names);
}

} // namespace zorvik
