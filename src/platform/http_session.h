#pragma once

// One HTTP exchange over libcurl, set up step by step the way the flat WinHTTP calls are made
// (split the URL, open a session, set time-outs, connect, open the request, credentials,
// certificates, cookies, redirects, headers, send, receive, read), so that every step that can
// fail fails on its own and its caller can name it.
//
// libcurl does the whole exchange in one go, so the set-up steps only configure the handle and
// send() runs the transfer (pumping Qt events, see curl_transfer.h). Its outcome is then told
// step by step, by where the transfer stopped:
//   send()             false: the request never got out: name resolution, connection, TLS
//                      handshake or certificate verification, proxy, or writing the request
//                      failed (as with WinHTTP, whose connection is made when it sends);
//   receive_response() false: the request went out but no complete response head came back:
//                      no answer, an answer that is not HTTP, too many redirects, a head over
//                      the size cap, or the time-out while waiting;
//   read_body()        false: the head came but the body did not arrive whole: the connection
//                      broke, the time-out struck, or the body passed the size cap.
//
// Time-outs: name resolution plus connection (TLS included) get the time-out once; after that
// the exchange fails when nothing moves (no byte sent or received) for the time-out; and the
// whole exchange ends after four time-outs at most, so a server that trickles a byte now and
// then cannot hold the window forever.

#include "platform/curl_transfer.h"
#include "text/text.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zorvik {

// The parts of an absolute http or https URL that a request needs.
struct UrlParts final {
    bool secure = false; // https
    Text host;           // as written, IPv6 literals with their brackets
    int port = 0;        // from the URL, or 80 / 443
    Text object_name;    // path and query ("/" when the path is empty, "/?query" with a query)
};

// Splits an absolute URL; nullopt when it has no http or https scheme, no host, a bad port or
// characters no URL holds (spaces and control characters). User name and password before "@"
// are dropped.
std::optional<UrlParts> split_url(std::string_view url);

enum class CredentialTarget { Server, Proxy };

class HttpSession final {
public:
    // Bodies and response heads beyond these sizes fail like broken reads.
    static constexpr std::size_t kBodyCap = 64u << 20;
    static constexpr std::size_t kHeadCap = 256u << 10;

    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Whether this libcurl speaks HTTP and HTTPS at all.
    static bool platform_supported();

    // --- set-up steps: each false when libcurl refuses it ------------------------------

    // An empty proxy means direct connections only (proxy variables of the environment are
    // ignored too); otherwise "host:port" of an HTTP proxy used for both schemes.
    bool open(std::string_view proxy);
    bool set_timeouts(std::chrono::milliseconds timeout);
    bool connect(std::string_view host, int port);
    // The verb goes out as given; "HEAD" asks for no body.
    bool open_request(std::string_view verb, std::string_view object_name, bool secure);
    // Basic credentials, sent with the first request.
    bool set_credentials(CredentialTarget target, std::string_view user_name,
                         std::string_view password);
    // Server certificates are verified (peer and host name); nothing here turns that off.
    bool apply_certificate_policy();
    // libcurl's own cookie store stays off: cookies travel only in the header block.
    bool disable_cookie_engine();
    bool set_follow_redirects(bool follow);
    // A block of "Name: value" lines separated by CR LF; empty lines are skipped. False for
    // a line without a name and colon, or with a lone CR or LF in it.
    bool add_headers(std::string_view block);

    // --- the exchange ----------------------------------------------------------------------

    bool send(const Bytes& body);
    bool receive_response() const;
    // Hands over the body read so far, as raw bytes; false when it did not arrive whole.
    bool read_body(std::string& body);

    // The head of the final response: status line and header lines, each ending CR LF, then
    // an empty line; empty before a response came.
    const Text& raw_headers() const { return head_; }
    // libcurl's own words about a failure, for diagnosis.
    const std::string& failure_detail() const { return detail_; }

private:
    struct Progress;
    // Where the exchange stopped; Done when it did not fail.
    enum class Phase { Connecting, Sending, Waiting, Reading, Done };

    static bool setopt_ok(CURLcode code) { return code == CURLE_OK; }
    bool set_method(const Bytes& body);
    void finish(CURLcode code);

    CurlEasy easy_;
    CurlSlist header_list_;
    Text host_;
    int port_ = 0;
    std::chrono::milliseconds timeout_{30000};
    bool follow_redirects_ = true;
    Text verb_;
    bool head_only_ = false;
    std::string url_;
    std::string body_copy_;
    std::unique_ptr<Progress> progress_;

    Text head_;
    std::string body_;
    Phase failed_in_ = Phase::Done; // Done: no failure
    bool sent_ = false;
    std::string detail_;
};

} // namespace zorvik
