#include "support/server/raw_listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace zorvik::test {

namespace {

constexpr std::size_t kMaxBody = 64 * 1024 * 1024;

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

class Fd final {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

std::string RawRequest::request_line() const {
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> RawRequest::header_lines() const {
    std::vector<std::string> lines;
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start) {
            break;
        }
        lines.push_back(head.substr(start, end - start));
        pos = end;
    }
    return lines;
}

std::string RawRequest::header(std::string_view name) const {
    const std::string wanted = lower(name);
    for (const auto& line : header_lines()) {
        const auto colon = line.find(':');
        if (colon != std::string::npos &&
            lower(std::string_view(line).substr(0, colon)) == wanted) {
            const auto value = line.find_first_not_of(" \t", colon + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return {};
}

std::size_t RawRequest::header_count(std::string_view name) const {
    const std::string wanted = lower(name);
    std::size_t n = 0;
    for (const auto& line : header_lines()) {
        const auto colon = line.find(':');
        if (colon != std::string::npos &&
            lower(std::string_view(line).substr(0, colon)) == wanted) {
            ++n;
        }
    }
    return n;
}

RawListener::RawListener() : RawListener(response(200, "OK", "raw")) {}

RawListener::RawListener(std::string reply)
    : responder_([reply = std::move(reply)](const RawRequest&) { return reply; }) {
    if (ok()) {
        thread_ =
            std::thread([this] { socket_.accept_until_woken([this](int conn) { serve(conn); }); });
    }
}

RawListener::~RawListener() {
    if (thread_.joinable()) {
        socket_.wake();
        thread_.join();
    }
}

std::string RawListener::address() const {
    return "127.0.0.1:" + std::to_string(port());
}

std::string RawListener::url(std::string_view path_and_query) const {
    return "http://" + address() + std::string(path_and_query);
}

void RawListener::set_reply(std::string reply) {
    set_responder([reply = std::move(reply)](const RawRequest&) { return reply; });
}

void RawListener::set_responder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<RawRequest> RawListener::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<RawRequest> RawListener::last_request() const {
    std::lock_guard lock(mutex_);
    if (requests_.empty()) {
        return std::nullopt;
    }
    return requests_.back();
}

std::size_t RawListener::request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::string RawListener::response(int status, std::string_view reason, std::string_view body,
                                  const std::vector<std::string>& extra_header_lines) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    for (const auto& line : extra_header_lines) {
        out += line + "\r\n";
    }
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

std::string RawListener::proxy_auth_required() {
    return response(407, "Proxy Authentication Required", "proxy auth",
                    {"Proxy-Authenticate: Basic realm=\"zorvik-test\""});
}

void RawListener::serve(int fd) {
    Fd conn(fd);
    RawRequest req;
    RequestReader reader(conn.get(), socket_.wake_fd());
    if (!reader.read_head(req)) {
        return;
    }
    if (lower(req.header("Expect")) == "100-continue" &&
        !send_all(conn.get(), "HTTP/1.1 100 Continue\r\n\r\n")) {
        return;
    }
    reader.read_body(req, kMaxBody);

    Responder responder;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(req);
        responder = responder_;
    }
    send_all(conn.get(), responder(req));
    ::shutdown(conn.get(), SHUT_WR);
}

} // namespace zorvik::test
