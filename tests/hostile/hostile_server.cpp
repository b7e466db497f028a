#include "hostile/hostile_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zorvik::test {
namespace {

constexpr std::size_t kMaxRequestBody = 16 * 1024 * 1024;

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
    if (ok()) {
        acceptor_ = std::thread([this] {
            socket_.accept_until_woken([this](int conn) {
                std::lock_guard lock(mutex_);
                ++connection_count_;
                connections_.emplace_back([this, conn] { serve(conn); });
            });
        });
    }
}

HostileServer::~HostileServer() {
    socket_.wake();
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    // The acceptor has ended, so the list no longer grows.
    for (std::thread& t : connections_) {
        t.join();
    }
}

std::string HostileServer::url(std::string_view path_and_query) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(path_and_query);
}

void HostileServer::set_script(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

std::size_t HostileServer::connection_count() const {
    std::lock_guard lock(mutex_);
    return connection_count_;
}

void HostileServer::serve(int fd) {
    RawRequest request;
    RequestReader reader(fd, socket_.wake_fd());
    if (reader.read_head(request)) {
        reader.read_body(request, kMaxRequestBody);
        Script script;
        {
            std::lock_guard lock(mutex_);
            script = script_;
        }
        HostileConnection connection(fd, socket_.wake_fd(), std::move(request));
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

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

std::string ok_reply(std::string_view content_type, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(content_type) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace zorvik::test
