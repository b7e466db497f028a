#include "support/server/loopback_socket.h"

#include "support/server/raw_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace zorvik::test {

namespace {

constexpr std::size_t kMaxHead = 1024 * 1024;
// A client silent for this long while its request is read loses the connection.
constexpr int kIdleMs = 5000;

} // namespace

LoopbackSocket::LoopbackSocket() {
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
}

LoopbackSocket::~LoopbackSocket() {
    for (int fd : {listen_fd_, wake_read_, wake_write_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void LoopbackSocket::wake() {
    if (wake_write_ >= 0) {
        const char byte = 'x';
        [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
    }
}

void LoopbackSocket::accept_until_woken(const std::function<void(int)>& on_connection) {
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
            on_connection(conn);
        }
    }
}

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

RequestReader::RequestReader(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}

bool RequestReader::read_more() {
    if (!wait_for(fd_, POLLIN, wake_fd_, kIdleMs)) {
        return false;
    }
    char buf[16384];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        return false;
    }
    data_.append(buf, static_cast<std::size_t>(n));
    return true;
}

bool RequestReader::read_head(RawRequest& request) {
    std::size_t head_end;
    while ((head_end = data_.find("\r\n\r\n")) == std::string::npos) {
        if (data_.size() > kMaxHead || !read_more()) {
            return false;
        }
    }
    request.head = data_.substr(0, head_end + 4);
    data_.erase(0, head_end + 4);
    return true;
}

void RequestReader::read_body(RawRequest& request, std::size_t max_body) {
    std::size_t length = 0;
    if (const std::string cl = request.header("Content-Length"); !cl.empty()) {
        length = std::min<std::size_t>(std::strtoull(cl.c_str(), nullptr, 10), max_body);
    }
    while (data_.size() < length && read_more()) {
    }
    request.body = data_.substr(0, std::min(length, data_.size()));
}

} // namespace zorvik::test
