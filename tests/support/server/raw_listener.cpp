#include "support/server/raw_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zorvik::test {

namespace {

constexpr std::size_t kMaxHead = 1024 * 1024;
constexpr std::size_t kMaxBody = 64 * 1024 * 1024;
// A client silent for this long loses its connection.
constexpr int kIdleMs = 5000;

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

enum class Wait { Ready, Woken, TimedOut };

// Waits until `fd` is readable, the wake pipe is, or the idle time passes.
Wait wait_readable(int fd, int wake_fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const int n = ::poll(fds, 2, kIdleMs);
    if (n <= 0) {
        return Wait::TimedOut;
    }
    if (fds[1].revents != 0) {
        return Wait::Woken;
    }
    return Wait::Ready;
}

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
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return;
    }
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];

    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        return;
    }
    const int yes = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 16) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

RawListener::~RawListener() {
    if (thread_.joinable()) {
        const char byte = 'x';
        [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
        thread_.join();
    }
    for (int fd : {listen_fd_, wake_read_, wake_write_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::string RawListener::address() const {
    return "127.0.0.1:" + std::to_string(port_);
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

void RawListener::run() {
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int conn = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn >= 0) {
            serve(conn);
        }
    }
}

void RawListener::serve(int fd) {
    Fd conn(fd);
    RawRequest req;
    std::string data;
    char buf[16384];
    auto read_more = [&]() -> bool {
        if (wait_readable(conn.get(), wake_read_) != Wait::Ready) {
            return false;
        }
        const ssize_t n = ::recv(conn.get(), buf, sizeof buf, 0);
        if (n <= 0) {
            return false;
        }
        data.append(buf, static_cast<std::size_t>(n));
        return true;
    };

    std::size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHead || !read_more()) {
            return;
        }
    }
    req.head = data.substr(0, head_end + 4);
    data.erase(0, head_end + 4);

    std::size_t body_length = 0;
    if (const std::string cl = req.header("Content-Length"); !cl.empty()) {
        body_length = std::min<std::size_t>(std::strtoull(cl.c_str(), nullptr, 10), kMaxBody);
    }
    if (lower(req.header("Expect")) == "100-continue" &&
        !send_all(conn.get(), "HTTP/1.1 100 Continue\r\n\r\n")) {
        return;
    }
    while (data.size() < body_length) {
        if (!read_more()) {
            break;
        }
    }
    req.body = data.substr(0, std::min(body_length, data.size()));

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
