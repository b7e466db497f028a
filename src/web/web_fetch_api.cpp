#include "web/web_fetch_api.h"

#include "platform/automation.h"
#include "platform/event_pump.h"
#include "platform/http_session.h"
#include "script/regex_object.h"
#include "web/header_cookie.h"
#include "web/web_text.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>

namespace zorvik {
namespace {

// The step texts, in GB18030.
// "700 当前系统不支持WinHttp服务!"
constexpr std::string_view kNoPlatform =
    "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
// "701 解析URL地址失败!"
constexpr std::string_view kBadUrl = "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
// "702 创建WinHttp会话失败!"
constexpr std::string_view kNoSession =
    "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
// "705 设置超时时间失败!"
constexpr std::string_view kNoTimeouts =
    "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
// "703 创建WinHttp连接失败!"
constexpr std::string_view kNoConnection =
    "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
// "704 创建WinHttp请求失败!"
constexpr std::string_view kNoRequest =
    "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "707 设置代理凭证失败!"
constexpr std::string_view kNoCredentials =
    "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
// "忽略错误/证书错误  失败！" (two blanks, full-width "！")
constexpr std::string_view kNoCertificatePolicy =
    "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  \xCA\xA7\xB0\xDC\xA3\xA1";
// "708 禁止自动设置Cookies失败!"
constexpr std::string_view kNoCookieSwitch = "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3"
                                             "Cookies\xCA\xA7\xB0\xDC!";
// "709 重定向设置失败!"
constexpr std::string_view kNoRedirectSwitch =
    "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
// "710 设置协议头失败!"
constexpr std::string_view kBadHeaders =
    "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
// "711 发送请求失败!"
constexpr std::string_view kSendFailed = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "712 服务器未响应!"
constexpr std::string_view kNoResponse = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// "713 读取数据失败!"
constexpr std::string_view kReadFailed = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

constexpr std::array<std::string_view, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                                    "OPTIONS", "DELETE", "TRACE", "CONNECT"};
constexpr int kMethodPost = 1;
constexpr std::chrono::milliseconds kDefaultTimeout{30000};

struct DefaultHeader final {
    std::string_view key;
    std::string_view line;
    bool post_only;
};

constexpr std::array<DefaultHeader, 6> kDefaultHeaders = {{
    {"User-Agent: ",
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)", false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312", false},
    {"Accept-Language: ", "Accept-Language: zh-cn", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", true},
    {"Cache-Control: ", "Cache-Control: no-cache", false},
}};

constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr int kCharsetHeadBytes = 1024;

Text build_header_block(const Text& extra_headers, bool add_defaults, bool normalise, int method,
                        const Text& send_cookies) {
    Text block = extra_headers;
    if (!block.empty()) {
        block += "\r\n";
    }
    if (add_defaults) {
        for (const DefaultHeader& h : kDefaultHeaders) {
            if (!contains(block, h.key, true) && (!h.post_only || method == kMethodPost)) {
                block += h.line;
                block += "\r\n";
            }
        }
    }
    if (normalise) {
        block = normalise_header_block(block);
    }
    if (contains(block, "Connection") && header_value(block, "Connection") == "keep-alive") {
        block = replace_all(block, "Connection: keep-alive\r\n");
    }
    if (!contains(block, "Cookie:", true) && !send_cookies.empty()) {
        block += contains(send_cookies, "Cookie:", true) ? "\r\n" : "\r\nCookie: ";
        block += send_cookies;
        block += "\r\n";
    }
    return block;
}

// Whether the pattern could find anything: it needs "<meta" in some letter case. '<' never
// trails a multi-byte character, so a plain byte search cannot match inside one.
bool may_declare_charset(std::string_view head) {
    constexpr std::string_view kTag = "<meta";
    return std::search(head.begin(), head.end(), kTag.begin(), kTag.end(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b;
           }) != head.end();
}

// The status code and reason: the status line from its 10th byte (after "HTTP/1.1 ").
Text status_of(const Text& headers) {
    const int end = find(headers, "\r\n", 10);
    return end < 0 ? Text() : middle(headers, 10, end - 10);
}

// Decodes the body through a text stream; false when the stream cannot be made or does not
// know the charset.
bool decode_through_stream(std::string_view body, const Text& charset, Text& out) {
    ObjectRef stream;
    if (!create_object(stream, "Adodb.Stream")) {
        return false;
    }
    bool ok = true;
    const auto check = [&ok] { ok = ok && last_error().empty(); };
    put_property(stream, "Type", Variant(1));
    check();
    put_property(stream, "Mode", Variant(3));
    check();
    call_method(stream, "Open");
    check();
    call_method(stream, "Write", {Variant(bytes_of(body))});
    check();
    put_property(stream, "Position", Variant(0));
    check();
    put_property(stream, "Type", Variant(2));
    check();
    put_property(stream, "Charset", Variant::from_text(charset));
    check();
    const Variant text = call_method(stream, "ReadText");
    check();
    call_method(stream, "Close");
    release(stream);
    if (ok) {
        out = text_of(to_text(text));
    }
    return ok;
}

} // namespace

Text web_fetch_api(std::string_view url, std::optional<int> method,
                   const std::optional<Text>& post_text, Text* send_cookies, Text* returned_cookies,
                   const std::optional<Text>& extra_headers, Text* response_headers,
                   std::optional<bool> no_redirect, const std::optional<Text>& user_name,
                   const std::optional<Text>& password, const std::optional<Text>& proxy,
                   const std::optional<Text>& proxy_user_name,
                   const std::optional<Text>& proxy_password, std::optional<int> timeout_seconds,
                   Text* redirect_location, Text* status_text, Bytes* response_bytes,
                   std::optional<bool> merge_cookies, std::optional<bool> add_default_headers,
                   const std::optional<Bytes>& post_bytes,
                   std::optional<bool> normalise_header_names) {
    RegexObject regex;
    EventPump pump;
    const auto fail = [&](std::string_view why) {
        if (status_text != nullptr) {
            *status_text = Text(why);
        }
        pump.pump_if_due();
        return Text();
    };

    if (!HttpSession::platform_supported()) {
        return fail(kNoPlatform);
    }
    const std::optional<UrlParts> parts = split_url(url);
    if (!parts) {
        return fail(kBadUrl);
    }
    HttpSession session;
    if (!session.open(proxy.value_or(Text()))) {
        return fail(kNoSession);
    }
    const int seconds = timeout_seconds.value_or(0);
    const auto timeout =
        seconds > 0 ? std::chrono::milliseconds(std::int64_t{seconds} * 1000) : kDefaultTimeout;
    if (!session.set_timeouts(timeout)) {
        return fail(kNoTimeouts);
    }
    if (!session.connect(parts->host, parts->port)) {
        return fail(kNoConnection);
    }
    const int method_number = method.value_or(0);
    const std::string_view verb =
        method_number >= 0 && method_number < static_cast<int>(kVerbs.size())
            ? kVerbs[static_cast<std::size_t>(method_number)]
            : kVerbs[0];
    if (!session.open_request(verb, parts->object_name, parts->secure)) {
        return fail(kNoRequest);
    }

    const Text user = user_name.value_or(Text());
    const Text pass = password.value_or(Text());
    if (!user.empty() && !pass.empty() &&
        !session.set_credentials(CredentialTarget::Server, user, pass)) {
        return fail(kNoCredentials);
    }
    const Text proxy_user = proxy_user_name.value_or(Text());
    const Text proxy_pass = proxy_password.value_or(Text());
    if (!proxy_user.empty() && !proxy_pass.empty() &&
        !session.set_credentials(CredentialTarget::Proxy, proxy_user, proxy_pass)) {
        return fail(kNoCredentials);
    }
    if (!session.apply_certificate_policy()) {
        return fail(kNoCertificatePolicy);
    }
    // Cookies travel only in the header block, whether the caller gave any or not.
    if (!session.disable_cookie_engine()) {
        return fail(kNoCookieSwitch);
    }
    if (no_redirect.value_or(false) && !session.set_follow_redirects(false)) {
        return fail(kNoRedirectSwitch);
    }

    const Text cookies_to_send = send_cookies != nullptr ? *send_cookies : Text();
    const Text block =
        build_header_block(extra_headers.value_or(Text()), add_default_headers.value_or(true),
                           normalise_header_names.value_or(true), method_number, cookies_to_send);
    // An empty block adds nothing: there is nothing to add.
    if (!block.empty() && !session.add_headers(block)) {
        return fail(kBadHeaders);
    }

    const Bytes body_out =
        post_bytes && !post_bytes->empty() ? *post_bytes : bytes_of(post_text.value_or(Text()));
    if (!session.send(body_out)) {
        return fail(kSendFailed);
    }
    if (!session.receive_response()) {
        return fail(kNoResponse);
    }
    std::string body;
    const bool read_whole = session.read_body(body);
    if (!read_whole && status_text != nullptr) {
        *status_text = Text(kReadFailed);
    }

    const Text& headers = session.raw_headers();
    if (headers.empty()) {
        pump.pump_if_due();
        return {};
    }
    if (response_headers != nullptr) {
        *response_headers = headers;
    }
    if (read_whole && status_text != nullptr) {
        *status_text = status_of(headers);
    }

    Text fresh_cookies;
    std::optional<Text> location;
    for (const Text& line : split(headers, "\r\n")) {
        if (text_before(line, ": ") == "Set-Cookie") {
            fresh_cookies += set_cookie_item(line);
            fresh_cookies += "; ";
        }
        if (line.size() >= 10 && find(left(line, 10), "Location: ", 1, true) == 1) {
            location = line.substr(10);
        }
        pump.pump_if_due();
    }
    Text cookies = returned_cookies != nullptr ? *returned_cookies : Text();
    if (!fresh_cookies.empty() && !cookies.empty() && !ends_with(cookies, "; ")) {
        cookies += ends_with(cookies, ";") ? " " : "; ";
    }
    cookies += fresh_cookies;
    if (ends_with(cookies, "; ")) {
        cookies.resize(cookies.size() - 2);
    }
    if (merge_cookies.value_or(true) && send_cookies != nullptr && !send_cookies->empty()) {
        cookies = merge_cookie_lists(*send_cookies, cookies);
    }
    if (returned_cookies != nullptr) {
        *returned_cookies = cookies;
    }
    if (location && redirect_location != nullptr) {
        *redirect_location = *location;
    }
    if (response_bytes != nullptr) {
        *response_bytes = bytes_of(body);
    }

    // The charset step: a page that declares a charset other than the GB ones is decoded;
    // any other page is its bytes read as Text, up to the first zero byte.
    std::optional<Text> decoded;
    co_initialize();
    const Text head = text_of(std::string_view(body).substr(0, kCharsetHeadBytes));
    if (may_declare_charset(head) && regex.execute(kCharsetPattern, head)) {
        const Text charset = regex.group_text(1, 1);
        Text text;
        if (!charset.empty() && charset != "gbk" && charset != "gb2312" &&
            decode_through_stream(body, charset, text)) {
            decoded = std::move(text);
        }
    }
    Text result;
    if (decoded) {
        result = std::move(*decoded);
    } else {
        body.resize(std::min(body.find('\0'), body.size()));
        result = std::move(body);
    }
    pump.pump_if_due();
    co_uninitialize();
    pump.pump_if_due();
    return result;
}

} // namespace zorvik
