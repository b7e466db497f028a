#pragma once

// Socket plumbing for the servers that speak bytes themselves (RawListener, the hostile
// servers): a listening socket on 127.0.0.1 with a pipe that wakes whatever waits on it, and
// the reading of one request off a connection.

#include <cstddef>
#include <functional>
#include <string>

namespace zorvik::test {

struct RawRequest;

// A listening socket on 127.0.0.1, on a port the OS picks, and its wake pipe. port() is 0
// when either could not be made. Both are closed when the object ends, so a thread running
// accept_until_woken() must be woken and joined before that.
class LoopbackSocket final {
public:
    LoopbackSocket();
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int port() const { return port_; }
    // Readable from the first wake() on; every wait on a connection watches it too.
    int wake_fd() const { return wake_read_; }
    void wake();
    // Hands each accepted connection to `on_connection`, which then owns it, until wake().
    void accept_until_woken(const std::function<void(int)>& on_connection);

private:
    int listen_fd_ = -1;
    int wake_read_ = -1;
    int wake_write_ = -1;
    int port_ = 0;
};

// True when `fd` became ready for `events` before `wake_fd` became readable or `timeout_ms`
// passed (-1: no limit).
bool wait_for(int fd, short events, int wake_fd, int timeout_ms);

// Reads one request off a connection. A client silent for 5 s, one that goes away and the
// wake pipe all end the reading.
class RequestReader final {
public:
    RequestReader(int fd, int wake_fd);

    // The head, up to and with the empty line; false when no whole head (of at most 1 MiB)
    // came.
    bool read_head(RawRequest& request);
    // The body Content-Length announces, cut at `max_body` bytes; what came of it when the
    // client stops short.
    void read_body(RawRequest& request, std::size_t max_body);

private:
    bool read_more();

    int fd_;
    int wake_fd_;
    std::string data_;
};

} // namespace zorvik::test
