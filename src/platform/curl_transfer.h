#pragma once

// The one way this program drives libcurl: RAII handles, safe defaults, and a blocking loop
// over the multi interface that keeps the window painting.

#include <curl/curl.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zorvik {

struct CurlEasyDeleter final {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlSlistDeleter final {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// A new easy handle (null when libcurl cannot make one), global init done once.
CurlEasy make_curl_easy();

// Appends a line to a header list; false when libcurl could not allocate.
bool append_header(CurlSlist& list, const std::string& line);

// Safe defaults for every transfer: TLS peer and host verified against the system's CA store
// (or the test override below), only http and https (redirects included), no proxy from the
// environment (a proxy is used only when a caller names one), no signals, no cookie engine,
// no progress meter. False when libcurl refused one of them; do not go on then.
bool apply_safe_defaults(CURL* easy);

// Runs one transfer to completion through its own multi handle, polling about every 20 ms and
// pumping Qt events in between, so the window keeps painting. `cancelled` is asked between
// polls; when it answers true the transfer stops with CURLE_ABORTED_BY_CALLBACK.
CURLcode perform_pumped(CURL* easy, const std::function<bool()>& cancelled = {});

// For header callbacks. A Content-Length that is not a plain decimal number libcurl can hold is
// ignored by libcurl, which then reads to the end of the connection, so a cut body would pass
// for a whole one; such a reply must be treated as broken unless its body is chunked.
bool announces_unreadable_length(std::string_view header_line);
bool announces_chunked_body(std::string_view header_line);

// For tests: trust the CA certificates in this PEM file instead of the system store.
// An empty path goes back to the system store.
void set_ca_file_override(const std::string& pem_path);

} // namespace zorvik
