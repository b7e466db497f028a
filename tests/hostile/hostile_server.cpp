#include "hostile/hostile_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace zorvik::test {
namespace {

constexpr std::size_t kMaxRequestHead = 1024 * 1024;
constexpr std::size_t kMaxRequestBody = 16 * 1024 * 1024;
// A client that sends nothing for this long while we read its request loses the connection.
constexpr int kRequestIdleMs = 5000;

// True when `fd` became ready for `events` before the wake pipe did or the time ran out.
bool wait_for(int fd, short events, int wake_fd, int timeout_ms) {
    pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeout_ms);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
}

bool read_request(int fd, int wake_fd, RawRequest& request) {
    std::string data;
    char buf[16384];
    const auto read_more = [&]() {
        if (!wait_for(fd, POLLIN, wake_fd, kRequestIdleMs)) {
            return false;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return false;
        }
        data.append(buf, static_cast<std::size_t>(n));
        return true;
    };
    std::size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxRequestHead || !read_more()) {
            return false;
        }
    }
    request.head = data.substr(0, head_end + 4);
    data.erase(0, head_end + 4);
    std::size_t length = 0;
    if (const std::string cl = request.header("Content-Length"); !cl.empty()) {
        length = std::min<std::size_t>(std::strtoull(cl.c_str(), nullptr, 10), kMaxRequestBody);
    }
    while (data.size() < length && read_more()) {
    }
    request.body = data.substr(0, std::min(length, data.size()));
    return true;
}

} // namespace

HostileConnection::HostileConnection(int fd, int wake_fd, RawRequest request)
    : fd_(fd), wake_fd_(wake_fd), request_(std::move(request)) {}

bool HostileConnection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (reset_ || !wait_for(fd_, POLLOUT, wake_fd_, -1)) {
            return false;
        }
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        sent_ += static_cast<std::size_t>(n);
    }
    return true;
}

bool HostileConnection::pause(std::chrono::milliseconds how_long) {
    pollfd wake = {wake_fd_, POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + how_long;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        const int n = ::poll(&wake, 1, static_cast<int>(left.count()));
        if (n > 0) {
            return false;
        }
    }
}

void HostileConnection::reset() {
    // A zero linger time makes close() send RST.
    const linger hard = {1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    reset_ = true;
}

HostileServer::HostileServer(Script script) : script_(std::move(script)) {
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
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 16) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { run(); });
}

HostileServer::~HostileServer() {
    if (wake_write_ >= 0) {
        const char byte = 'x';
        [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
    }
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    // The acceptor has ended, so the list no longer grows.
    for (std::thread& t : connections_) {
        t.join();
    }
    for (int fd : {listen_fd_, wake_read_, wake_write_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::string HostileServer::url(std::string_view path_and_query) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path_and_query);
}

void HostileServer::set_script(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

std::size_t HostileServer::connection_count() const {
    std::lock_guard lock(mutex_);
    return connection_count_;
}

void HostileServer::run() {
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
        if (conn < 0) {
            continue;
        }
        std::lock_guard lock(mutex_);
        ++connection_count_;
        connections_.emplace_back([this, conn] { serve(conn); });
    }
}

void HostileServer::serve(int fd) {
    RawRequest request;
    if (read_request(fd, wake_read_, request)) {
        Script script;
        {
            std::lock_guard lock(mutex_);
            script = script_;
        }
        HostileConnection connection(fd, wake_read_, std::move(request));
        script(connection);
        if (!connection.reset_) {
            ::shutdown(fd, SHUT_WR);
        }
    }
    ::close(fd);
}

HostileServer::Script trickle(std::string bytes, std::chrono::milliseconds every) {
    return [bytes = std::move(bytes), every](HostileConnection& c) {
        for (const char byte : bytes) {
            if (!c.send(std::string_view(&byte, 1)) || !c.pause(every)) {
                return;
            }
        }
    };
}

HostileServer::Script endless(std::string head, std::string piece) {
    return [head = std::move(head), piece = std::move(piece)](HostileConnection& c) {
        if (!c.send(head)) {
            return;
        }
        while (c.send(piece)) {
        }
    };
}

HostileServer::Script reply(std::string bytes) {
    return [bytes = std::move(bytes)](HostileConnection& c) { c.send(bytes); };
}

HostileServer::Script reply_then_reset(std::string bytes) {
    return [bytes = std::move(bytes)](HostileConnection& c) {
        if (c.send(bytes)) {
            // Lets the bytes reach the client before the reset throws away what is unsent.
            c.pause(std::chrono::milliseconds(200));
        }
        c.reset();
    };
}

} // namespace zorvik::test
