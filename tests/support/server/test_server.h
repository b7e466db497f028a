#pragma once

// LocalServer: an HTTP or HTTPS server on 127.0.0.1 for tests, on a port the OS picks, served
// from a background thread and stopped (and joined) when the object ends.
//
//     zorvik::test::LocalServer server;                      // http
//     server.serve_echo("/echo");
//     fetch(server.url("/echo?a=1"));
//     auto req = server.last_request();                      // what arrived
//
//     zorvik::test::LocalServer tls(zorvik::test::Scheme::Https);   // trusted certificate
//     zorvik::set_ca_file_override(zorvik::test::test_certificates().ca_file);
//
// Routes can be added at any time, also while requests run; a path is matched exactly (the
// query is not part of it) and an unknown one answers 404 "no route". Every request is recorded
// before its handler runs. HEAD requests reach the GET route of their path, without body.
//
// Header order: cpp-httplib keeps request headers sorted by name (case-insensitively), so a
// RecordedRequest lists them in that order. A test about the order on the wire uses
// RawListener (raw_listener.h) instead, which records the request head byte for byte.

#include "support/server/test_certs.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace zorvik::test {

struct RecordedRequest final {
    std::string method;
    std::string target; // as on the request line: path and query
    std::string path;   // decoded, without the query
    std::string query;  // the raw text after "?", empty when none
    std::vector<std::pair<std::string, std::string>> headers; // sorted by name, see above
    std::string body;                                         // as received (de-chunked)

    // The first value of a header (name compared case-insensitively); empty when absent.
    std::string header(std::string_view name) const;
    bool has_header(std::string_view name) const;
    std::size_t header_count(std::string_view name) const;
};

enum class Scheme { Http, Https };

class LocalServer final {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // For Https, `cert` picks the certificate the server presents.
    explicit LocalServer(Scheme scheme = Scheme::Http, ServerCert cert = ServerCert::Trusted);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // False when the server could not start (no certificates, no port); tests should assert it.
    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>".
    std::string base_url() const;
    // base_url() followed by `path_and_query`, which should start with "/".
    std::string url(std::string_view path_and_query = "/") const;

    // A handler for `method` ("GET", "POST", ...; empty for any) on exactly `path`.
    // A later route for the same method and path replaces the earlier one.
    void on(std::string method, std::string path, Handler handler);

    // --- ready-made behaviours (any method) ---------------------------------------------

    // 200, text/plain: the request line "<method> <target>", then one "Name: value" line per
    // header (the order of RecordedRequest), an empty line, and the body as received. Lines
    // end with CR LF.
    void serve_echo(const std::string& path);
    // `status` with `body` (e.g. 404 or 500 with a page) and any extra response headers, in
    // the given order; headers of one name keep their order.
    void serve_text(const std::string& path, int status, std::string body,
                    std::vector<std::pair<std::string, std::string>> headers = {},
                    std::string content_type = "text/plain");
    // 200 "cookies" with one "Set-Cookie: <value>" header per value, in order.
    void serve_set_cookies(const std::string& path, std::vector<std::string> set_cookie_values);
    // `status` (301, 302, 303, 307, 308) with "Location: <location>" and a short body.
    void serve_redirect(const std::string& path, int status, std::string location);
    // Waits before answering 200 `body`: until `max_wait` passes, release_stalls() is called or
    // the server ends (so a stalled handler never holds up the destructor).
    void serve_stall(const std::string& path, std::chrono::milliseconds max_wait,
                     std::string body = "late");
    // Announces `first_bytes` + 16 bytes, sends `first_bytes` of generated_body() at once, then
    // stalls like serve_stall before sending the rest.
    void serve_stall_mid_body(const std::string& path, std::size_t first_bytes,
                              std::chrono::milliseconds max_wait);
    // 200 with generated_body(size), made on the fly in 64 KiB pieces: with a Content-Length,
    // or chunked (no length announced) when `chunked`.
    void serve_generated(const std::string& path, std::size_t size, bool chunked = false);
    // Wakes every handler stalled so far.
    void release_stalls();

    // The body serve_generated sends: byte i is 'a' + i % 26.
    static std::string generated_body(std::size_t size);
    // A handler (for on()) that announces `announced` bytes of `content_type`, sends the first
    // `sent` of generated_body(), then drops the connection.
    static Handler cut_short(std::size_t announced, std::size_t sent, std::string content_type);

    // --- what arrived (thread-safe) -----------------------------------------------------

    std::vector<RecordedRequest> requests() const;
    std::optional<RecordedRequest> last_request() const;
    std::size_t request_count() const;
    void clear_requests();

    // The underlying server, for settings the helpers above do not cover. Configure it before
    // any request arrives.
    httplib::Server& raw() { return *server_; }

private:
    struct Route final {
        std::string method;
        std::string path;
        Handler handler;
    };

    void dispatch(const httplib::Request& req, httplib::Response& res);
    // Blocks until `max_wait`, a release or the end of the server; true when released/ending.
    bool stall(std::chrono::milliseconds max_wait);

    std::unique_ptr<httplib::Server> server_;
    Scheme scheme_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> listen_returned_{false};

    mutable std::mutex mutex_;
    std::vector<Route> routes_;
    std::vector<RecordedRequest> requests_;

    std::mutex stall_mutex_;
    std::condition_variable stall_cv_;
    unsigned long stall_generation_ = 0;
    bool ending_ = false;
};

} // namespace zorvik::test
