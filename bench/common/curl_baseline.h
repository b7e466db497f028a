#pragma once

// The baseline the fetch benchmarks measure against: one blocking curl_easy_perform on a fresh
// handle, HTTP/1.1, the whole body kept in memory.

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zorvik::bench {

struct CurlBaselineRequest final {
    std::string url;
    std::vector<std::string> header_lines;
    // A form body to POST; a GET when null.
    const std::string* post = nullptr;
    bool follow_redirects = false;
};

namespace detail {

struct CurlDeleter final {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter final {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

inline std::size_t append(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

} // namespace detail

// True when the transfer worked and brought `expected_size` bytes of body.
inline bool curl_baseline(const CurlBaselineRequest& request, std::size_t expected_size) {
    std::unique_ptr<CURL, detail::CurlDeleter> h(curl_easy_init());
    if (!h) {
        return false;
    }
    std::unique_ptr<curl_slist, detail::SlistDeleter> headers;
    for (const auto& line : request.header_lines) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (grown == nullptr) {
            return false;
        }
        (void)headers.release();
        headers.reset(grown);
    }
    std::string body;
    bool ok = curl_easy_setopt(h.get(), CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_HTTP_VERSION,
                               static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, detail::append) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &body) == CURLE_OK;
    if (request.follow_redirects) {
        ok = ok && curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    }
    if (request.post != nullptr) {
        ok = ok &&
             curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE,
                              static_cast<long>(request.post->size())) == CURLE_OK &&
             curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, request.post->c_str()) == CURLE_OK;
    }
    return ok && curl_easy_perform(h.get()) == CURLE_OK && body.size() == expected_size;
}

} // namespace zorvik::bench
