#pragma once

// RawListener: a bare TCP listener on 127.0.0.1 for tests that must see a request byte for
// byte, or answer with bytes no well-behaved server would send.
//
// Per connection it reads one request (the head up to the empty line, then Content-Length
// bytes of body; "Expect: 100-continue" is answered), records it, writes the reply and closes
// the connection. Connections are served one after the other on a background thread, which
// the destructor stops and joins without waiting on a silent client.
//
// As a proxy:   set the client's proxy to listener.address(); for an http URL the recorded
//               head starts "GET http://host:port/path HTTP/1.1" and holds every header the
//               client sent, Proxy-Authorization included. The reply goes back as the
//               response (there is no upstream).
// As a server:  fetch listener.url("/x"); the head shows the header lines in wire order.

#include "support/server/loopback_socket.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zorvik::test {

struct RawRequest final {
    std::string head; // request line and header lines, each ending CR LF, then CR LF
    std::string body;

    std::string request_line() const;
    // The header lines, in order, without their CR LF.
    std::vector<std::string> header_lines() const;
    // The value (after ":" and optional spaces) of the first header of that name, compared
    // case-insensitively; empty when absent.
    std::string header(std::string_view name) const;
    std::size_t header_count(std::string_view name) const;
};

class RawListener final {
public:
    using Responder = std::function<std::string(const RawRequest&)>;

    // Every request is answered with `reply` (raw bytes: status line, headers, body); by
    // default 200 with the body "raw".
    RawListener();
    explicit RawListener(std::string reply);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    bool ok() const { return socket_.port() > 0; }
    int port() const { return socket_.port(); }
    // "127.0.0.1:<port>", the form a proxy setting takes.
    std::string address() const;
    // "http://127.0.0.1:<port>" followed by `path_and_query`.
    std::string url(std::string_view path_and_query = "/") const;

    void set_reply(std::string reply);
    // Computes each reply from the request; replaces the fixed reply.
    void set_responder(Responder responder);

    std::vector<RawRequest> requests() const;
    std::optional<RawRequest> last_request() const;
    std::size_t request_count() const;

    // A complete reply with Content-Length and "Connection: close"; `extra_header_lines` go
    // after the status line, each without CR LF.
    static std::string response(int status, std::string_view reason, std::string_view body,
                                const std::vector<std::string>& extra_header_lines = {});
    // 407 asking for Basic credentials.
    static std::string proxy_auth_required();

private:
    void serve(int fd);

    LoopbackSocket socket_;
    std::thread thread_;

    mutable std::mutex mutex_;
    Responder responder_;
    std::vector<RawRequest> requests_;
};

} // namespace zorvik::test
