#include "platform/http_session.h"

#include "codepage/codepage.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>

namespace zorvik {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10; // as many as WinHTTP follows

bool ascii_iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

Text ascii_lower(std::string_view s) {
    Text out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool has_control_or_space(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F;
    });
}

bool has_control(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
    });
}

bool is_token(std::string_view s) {
    static constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={}";
    return !s.empty() && !has_control_or_space(s) && std::none_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 ||
               kSeparators.find(c) != std::string_view::npos;
    });
}

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// The request target as it goes on the wire: the program's text becomes UTF-8, and bytes a
// request line cannot carry are percent-encoded. "%" stays, so encoded addresses pass unchanged.
std::string wire_target(std::string_view object_name) {
    static constexpr std::string_view kUnsafe = "\"<>\\^`{|}";
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool ascii = std::all_of(object_name.begin(), object_name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::string utf8 = ascii ? std::string(object_name) : ansi_to_utf8(object_name);
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || kUnsafe.find(c) != std::string_view::npos) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// The status code of a status line such as "HTTP/1.1 200 OK"; 0 when there is none.
int status_code(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) {
        return 0;
    }
    int code = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

// A Content-Length value; 0 when it is not a plain number.
std::size_t parse_length(std::string_view value) {
    value = trim_blanks(value);
    if (value.empty() || value.size() > 18) {
        return 0;
    }
    std::size_t n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return n;
}

} // namespace

// What the callbacks learn while the transfer runs.
struct HttpSession::Progress final {
    Clock::time_point last_activity = Clock::now();
    bool connected = false;        // a connection is up for the current request
    bool in_head = false;          // header lines of a response are arriving
    bool head_complete = false;    // the final (non-1xx) head arrived whole
    bool redirect_pending = false; // that head sends us elsewhere and we follow
    bool follow_redirects = true;
    bool has_location = false;
    int status = 0;
    std::size_t announced = 0; // Content-Length of the current response, 0 when none
    bool unreadable_length = false;
    bool chunked = false;
    bool head_over_cap = false;
    bool body_over_cap = false;
    bool timed_out = false;
    curl_off_t downloaded = -1;
    curl_off_t uploaded = -1;
    Text head;
    std::string body;

    void touch() { last_activity = Clock::now(); }

    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self) {
        auto& p = *static_cast<Progress*>(self);
        const std::size_t n = size * count;
        p.touch();
        if (p.head.size() + n > kHeadCap) {
            p.head_over_cap = true;
            return 0;
        }
        std::string_view line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (!p.in_head) {
            if (line.substr(0, 5) != "HTTP/") {
                return n; // trailers after the body: not part of the head
            }
            // A new response (after 1xx, a redirect or a proxy tunnel) replaces the last one.
            p.in_head = true;
            p.head.clear();
            p.body.clear();
            p.head_complete = false;
            p.redirect_pending = false;
            p.has_location = false;
            p.announced = 0;
            p.unreadable_length = false;
            p.chunked = false;
            p.status = status_code(line);
        }
        if (line.empty()) {
            p.head += "\r\n";
            p.in_head = false;
            if (p.status >= 200) {
                p.head_complete = true;
                p.redirect_pending = p.follow_redirects && p.has_location &&
                                     (p.status == 301 || p.status == 302 || p.status == 303 ||
                                      p.status == 307 || p.status == 308);
            }
            return n;
        }
        if (ascii_iequals(line.substr(0, 9), "location:")) {
            p.has_location = true;
        }
        if (ascii_iequals(line.substr(0, 15), "content-length:")) {
            p.announced = parse_length(line.substr(15));
        }
        p.unreadable_length = p.unreadable_length || announces_unreadable_length(line);
        p.chunked = p.chunked || announces_chunked_body(line);
        for (const char c : line) {
            if (c != '\0') { // Text holds no zero byte
                p.head += c;
            }
        }
        p.head += "\r\n";
        return n;
    }

    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self) {
        auto& p = *static_cast<Progress*>(self);
        const std::size_t n = size * count;
        p.touch();
        if (p.body.size() + n > kBodyCap) {
            p.body_over_cap = true;
            return 0;
        }
        if (p.body.empty() && p.announced > n) {
            p.body.reserve(std::min(p.announced, kBodyCap)); // one allocation for the body
        }
        p.body.append(data, n);
        return n;
    }

    static int on_progress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto& p = *static_cast<Progress*>(self);
        if (dlnow != p.downloaded || ulnow != p.uploaded) {
            p.downloaded = dlnow;
            p.uploaded = ulnow;
            p.touch();
        }
        return 0;
    }

    static int on_connected(void* self, char*, char*, int, int) {
        auto& p = *static_cast<Progress*>(self);
        p.connected = true;
        p.redirect_pending = false;
        p.touch();
        return CURL_PREREQFUNC_OK;
    }
};

std::optional<UrlParts> split_url(std::string_view url) {
    const std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) {
        return std::nullopt;
    }
    UrlParts parts;
    const std::string_view scheme = url.substr(0, scheme_end);
    if (ascii_iequals(scheme, "https")) {
        parts.secure = true;
    } else if (!ascii_iequals(scheme, "http")) {
        return std::nullopt;
    }
    const std::string_view rest = url.substr(scheme_end + 3);
    if (has_control_or_space(rest)) {
        return std::nullopt;
    }
    const std::size_t authority_end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authority_end);
    const std::string_view tail =
        authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return std::nullopt;
            }
            port_text = after.substr(1);
        }
    } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port_text = authority.substr(colon + 1);
    }
    if (host.empty() || host == "[]") {
        return std::nullopt;
    }
    parts.host = Text(host);
    parts.port = parts.secure ? 443 : 80;
    if (!port_text.empty()) {
        if (port_text.size() > 5 || !std::all_of(port_text.begin(), port_text.end(),
                                                 [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const int port = std::stoi(std::string(port_text));
        if (port < 1 || port > 65535) {
            return std::nullopt;
        }
        parts.port = port;
    }
    // The path, then the query; an empty path still carries its query.
    const bool has_path = !tail.empty() && tail.front() == '/';
    parts.object_name = has_path ? Text(tail) : "/" + Text(tail);
    if (const std::size_t hash = parts.object_name.find('#'); hash != Text::npos) {
        parts.object_name.resize(hash); // a fragment never goes to the server
    }
    return parts;
}

HttpSession::HttpSession() : progress_(std::make_unique<Progress>()) {}

HttpSession::~HttpSession() = default;

bool HttpSession::platform_supported() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info == nullptr || info->protocols == nullptr) {
        return false;
    }
    bool http = false;
    bool https = false;
    for (const char* const* p = info->protocols; *p != nullptr; ++p) {
        http = http || std::string_view(*p) == "http";
        https = https || std::string_view(*p) == "https";
    }
    return http && https;
}

bool HttpSession::open(std::string_view proxy) {
    easy_ = make_curl_easy();
    if (!easy_) {
        return false;
    }
    CURL* h = easy_.get();
    apply_safe_defaults(h);
    std::string proxy_url;
    if (!proxy.empty()) {
        if (has_control_or_space(proxy)) {
            return false;
        }
        const std::size_t scheme_end = proxy.find("://");
        if (scheme_end != std::string_view::npos &&
            !ascii_iequals(proxy.substr(0, scheme_end), "http")) {
            return false; // an HTTP proxy only
        }
        proxy_url = scheme_end == std::string_view::npos ? "http://" + std::string(proxy)
                                                         : std::string(proxy);
    }
    Progress* p = progress_.get();
    return setopt_ok(curl_easy_setopt(h, CURLOPT_PROXY, proxy_url.c_str())) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP))) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_HTTP_VERSION,
                                      static_cast<long>(CURL_HTTP_VERSION_1_1))) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Progress::on_header)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_HEADERDATA, p)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Progress::on_body)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_WRITEDATA, p)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Progress::on_progress)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_XFERINFODATA, p)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &Progress::on_connected)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_PREREQDATA, p));
}

bool HttpSession::set_timeouts(std::chrono::milliseconds timeout) {
    if (!easy_ || timeout.count() <= 0) {
        return false;
    }
    timeout_ = timeout;
    const auto ms = static_cast<long>(timeout.count());
    return setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_CONNECTTIMEOUT_MS, ms)) &&
           setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_TIMEOUT_MS, 4 * ms));
}

bool HttpSession::connect(std::string_view host, int port) {
    if (!easy_ || host.empty() || has_control_or_space(host) ||
        host.find_first_of("/?#@") != std::string_view::npos || port < 1 || port > 65535) {
        return false;
    }
    host_ = Text(host);
    port_ = port;
    return true;
}

bool HttpSession::open_request(std::string_view verb, std::string_view object_name, bool secure) {
    if (!easy_ || host_.empty() || !is_token(verb) || object_name.empty() ||
        object_name.front() != '/') {
        return false;
    }
    url_ = (secure ? "https://" : "http://") + host_ + ":" + std::to_string(port_) +
           wire_target(object_name);
    verb_ = Text(verb);
    head_only_ = verb == "HEAD";
    return setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_URL, url_.c_str()));
}

bool HttpSession::set_credentials(CredentialTarget target, std::string_view user_name,
                                  std::string_view password) {
    if (!easy_ || user_name.find('\0') != std::string_view::npos ||
        password.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::string user(user_name);
    const std::string pass(password);
    CURL* h = easy_.get();
    if (target == CredentialTarget::Server) {
        return setopt_ok(curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC)) &&
               setopt_ok(curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str())) &&
               setopt_ok(curl_easy_setopt(h, CURLOPT_PASSWORD, pass.c_str()));
    }
    return setopt_ok(curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_BASIC)) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, user.c_str())) &&
           setopt_ok(curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, pass.c_str()));
}

bool HttpSession::apply_certificate_policy() {
    return easy_ && setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_SSL_VERIFYPEER, 1L)) &&
           setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_SSL_VERIFYHOST, 2L));
}

bool HttpSession::disable_cookie_engine() {
    if (!easy_ || !setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_COOKIELIST, "ALL"))) {
        return false;
    }
    curl_slist* cookies = nullptr;
    if (!setopt_ok(curl_easy_getinfo(easy_.get(), CURLINFO_COOKIELIST, &cookies))) {
        return false;
    }
    const CurlSlist owned(cookies);
    return owned == nullptr;
}

bool HttpSession::set_follow_redirects(bool follow) {
    if (!easy_) {
        return false;
    }
    follow_redirects_ = follow;
    progress_->follow_redirects = follow;
    return setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L));
}

bool HttpSession::add_headers(std::string_view block) {
    if (!easy_) {
        return false;
    }
    CurlSlist list;
    std::set<Text> names;
    while (!block.empty()) {
        const std::size_t end = block.find("\r\n");
        const std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 2);
        if (line.empty()) {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || has_control(line) ||
            line.find('\t') != std::string_view::npos) {
            return false;
        }
        const std::string_view name = trim_blanks(line.substr(0, colon));
        const std::string_view value = trim_blanks(line.substr(colon + 1));
        if (!is_token(name)) {
            return false;
        }
        names.insert(ascii_lower(name));
        // "Name;" is libcurl's way to send a header with an empty value.
        const std::string wire =
            value.empty() ? std::string(name) + ";" : std::string(name) + ": " + std::string(value);
        if (!append_header(list, wire)) {
            return false;
        }
    }
    // libcurl's own defaults that WinHTTP never sends: only the caller's lines go out.
    for (const char* own : {"accept", "content-type", "expect"}) {
        if (names.count(own) == 0 && !append_header(list, std::string(own) + ":")) {
            return false;
        }
    }
    if (!setopt_ok(curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, list.get()))) {
        return false;
    }
    header_list_ = std::move(list);
    return true;
}

bool HttpSession::set_method(const Bytes& body) {
    CURL* h = easy_.get();
    if (head_only_) {
        return setopt_ok(curl_easy_setopt(h, CURLOPT_NOBODY, 1L));
    }
    if (!body.empty() || verb_ == "POST" || verb_ == "PUT") {
        // A body (even an empty one for POST and PUT) goes with its Content-Length.
        body_copy_.assign(body.begin(), body.end());
        return setopt_ok(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                          static_cast<curl_off_t>(body_copy_.size()))) &&
               setopt_ok(curl_easy_setopt(h, CURLOPT_POSTFIELDS, body_copy_.data())) &&
               (verb_ == "POST" ||
                setopt_ok(curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb_.c_str())));
    }
    return setopt_ok(curl_easy_setopt(h, CURLOPT_HTTPGET, 1L)) &&
           (verb_ == "GET" || setopt_ok(curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb_.c_str())));
}

bool HttpSession::send(const Bytes& body) {
    if (!easy_ || url_.empty()) {
        failed_in_ = Phase::Connecting;
        return false;
    }
    // Without a block of its own the request still goes without libcurl's default lines.
    const bool ok = (header_list_ != nullptr || add_headers({})) && set_method(body);
    sent_ = true;
    if (!ok) {
        failed_in_ = Phase::Sending;
        return false;
    }

    Progress& p = *progress_;
    p = Progress{};
    p.follow_redirects = follow_redirects_;
    const auto idle_limit = timeout_;
    // Once connected, a transfer where nothing moves for the time-out is over.
    const CURLcode code = perform_pumped(easy_.get(), [&p, idle_limit] {
        if (p.connected && Clock::now() - p.last_activity > idle_limit) {
            p.timed_out = true;
            return true;
        }
        return false;
    });
    finish(code);
    return failed_in_ != Phase::Connecting && failed_in_ != Phase::Sending;
}

void HttpSession::finish(CURLcode code) {
    Progress& p = *progress_;
    detail_ = curl_easy_strerror(code);
    if (p.timed_out) {
        detail_ = "nothing moved for the time-out";
    }
    if (p.head_complete) {
        head_ = p.head;
    }
    body_ = std::move(p.body);
    if (code == CURLE_OK && p.head_complete && p.unreadable_length && !p.chunked) {
        detail_ = "the reply's Content-Length cannot be read";
        failed_in_ = Phase::Reading;
        return;
    }
    if (code == CURLE_OK) {
        failed_in_ = p.head_complete ? Phase::Done : Phase::Waiting;
        return;
    }
    curl_off_t uploaded = 0;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded) != CURLE_OK) {
        uploaded = 0;
    }
    const bool request_out = !head_only_ && !body_copy_.empty()
                                 ? uploaded >= static_cast<curl_off_t>(body_copy_.size())
                                 : true;
    if (p.head_over_cap || code == CURLE_TOO_MANY_REDIRECTS) {
        failed_in_ = Phase::Waiting;
    } else if (p.body_over_cap) {
        failed_in_ = Phase::Reading;
    } else if (!p.connected || p.redirect_pending) {
        failed_in_ = Phase::Connecting;
    } else if (code == CURLE_SEND_ERROR || !request_out) {
        failed_in_ = p.head_complete ? Phase::Reading : Phase::Sending;
    } else if (!p.head_complete) {
        failed_in_ = Phase::Waiting;
    } else {
        failed_in_ = Phase::Reading;
    }
    if (failed_in_ != Phase::Reading) {
        head_.clear();
    }
}

bool HttpSession::receive_response() const {
    return sent_ && (failed_in_ == Phase::Done || failed_in_ == Phase::Reading);
}

bool HttpSession::read_body(std::string& body) {
    body = std::move(body_);
    body_.clear();
    return sent_ && failed_in_ == Phase::Done;
}

} // namespace zorvik
