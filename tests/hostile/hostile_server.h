#pragma once

// HostileServer: a plain TCP server on 127.0.0.1 that misbehaves on purpose. Per connection it
// reads the request head (and a body of Content-Length bytes), then hands the connection to a
// script that writes what it likes, when it likes: a byte a second, a body without end, a reset
// in the middle, bytes that are no HTTP at all.
//
// Every connection gets its own thread, so a script that trickles on one connection does not
// hold up the next. The destructor wakes every script (pause() and send() return false at
// once) and joins them; a script must return when they do.

#include "support/server/loopback_socket.h"
#include "support/server/raw_listener.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zorvik::test {

class HostileConnection final {
public:
    HostileConnection(int fd, int wake_fd, RawRequest request);

    const RawRequest& request() const { return request_; }
    // Writes all of `bytes`; false when the client went away or the server is stopping.
    bool send(std::string_view bytes);
    // Waits; false when the server is stopping (then at once).
    bool pause(std::chrono::milliseconds how_long);
    // Ends the connection with a TCP reset instead of an orderly close.
    void reset();
    std::size_t bytes_sent() const { return sent_; }

private:
    int fd_;
    int wake_fd_;
    RawRequest request_;
    std::size_t sent_ = 0;
    bool reset_ = false;

    friend class HostileServer;
};

class HostileServer final {
public:
    using Script = std::function<void(HostileConnection&)>;

    explicit HostileServer(Script script);
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    bool ok() const { return socket_.port() > 0; }
    int port() const { return socket_.port(); }
    // "http://127.0.0.1:<port>" followed by `path_and_query`.
    std::string url(std::string_view path_and_query = "/") const;

    void set_script(Script script);
    std::size_t connection_count() const;

private:
    void serve(int fd);

    LoopbackSocket socket_;
    std::thread acceptor_;

    mutable std::mutex mutex_;
    Script script_;
    std::vector<std::thread> connections_;
    std::size_t connection_count_ = 0;
};

// --- scripts ---------------------------------------------------------------------------------

// Sends `bytes` one at a time, `every` apart, then closes.
HostileServer::Script trickle(std::string bytes, std::chrono::milliseconds every);

// Sends `head`, then `piece` again and again until the client goes away or the server stops.
HostileServer::Script endless(std::string head, std::string piece);

// Sends `bytes` and closes in order.
HostileServer::Script reply(std::string bytes);

// Sends `bytes`, waits a moment for them to leave, then resets the connection.
HostileServer::Script reply_then_reset(std::string bytes);

// --- what they send --------------------------------------------------------------------------

// `piece`, `times` over: documents too deep and bodies too long to write out.
std::string repeat(const std::string& piece, std::size_t times);

// A whole "200 OK" reply: the Content-Type, a Content-Length that tells the truth, `body`.
std::string ok_reply(std::string_view content_type, const std::string& body);

} // namespace zorvik::test
