#pragma once

// web_fetch_object: one synchronous HTTP request through the request object of the automation
// layer ("WinHttp.WinHttpRequest.5.1"). Returns the response body; the headers, status and
// cookies come back through the pointer arguments. Failures are not reported: a request that
// fails gives an empty body, empty headers and status 0. The window keeps painting while it
// waits.
//
// Arguments left out: an empty optional or a null pointer. "Not given" differs from "empty"
// for send_cookies (no cookie handling at all) and request_object (a new object is made).
// Out and in/out arguments are written only when given, and left as they were when the request
// object cannot be created.
//
//  #  argument                direction  when not given
//  1  url                     in         required; also the default Referer
//  2  method                  in         0; 0..7 = GET POST HEAD PUT OPTIONS DELETE TRACE
//                                        CONNECT, anything else GET
//  3  post_text               in         empty; the body when post_bytes is empty
//  4  send_cookies            in/out     no cookies; on return "Cookie:" removed from it and,
//                                        when merging, the merged list
//  5  returned_cookies        out        the cookies the response set (merged when merging)
//  6  extra_headers           in/out     empty; on return completed and normalised
//  7  response_headers        out        the response header lines, CR LF after each
//  8  status_code             out        the response status, 0 on failure
//  9  no_redirect             in         false
// 10  post_bytes              in         empty; sent instead of post_text when not empty
// 11  proxy                   in         empty: no proxy; passed to the object unchanged
// 12  timeout_seconds         in         0 (15 s); -1 keeps the object's own time-outs
// 13  proxy_user_name         in         empty
// 14  proxy_password          in         empty
// 15  credential_target       in         1 (the proxy); 0 means the server
// 16  request_object          in         a new object for this call
// 17  merge_cookies           in         true
// 18  add_default_headers     in         true
// 19  normalise_header_names  in         true

#include "platform/automation.h"
#include "text/text.h"

#include <optional>
#include <string_view>

namespace zorvik {

Bytes web_fetch_object(std::string_view url, std::optional<int> method = std::nullopt,
                       std::optional<Text> post_text = std::nullopt, Text* send_cookies = nullptr,
                       Text* returned_cookies = nullptr, Text* extra_headers = nullptr,
                       Text* response_headers = nullptr, int* status_code = nullptr,
                       std::optional<bool> no_redirect = std::nullopt,
                       std::optional<Bytes> post_bytes = std::nullopt,
                       std::optional<Text> proxy = std::nullopt,
                       std::optional<int> timeout_seconds = std::nullopt,
                       std::optional<Text> proxy_user_name = std::nullopt,
                       std::optional<Text> proxy_password = std::nullopt,
                       std::optional<int> credential_target = std::nullopt,
                       std::optional<ObjectRef> request_object = std::nullopt,
                       std::optional<bool> merge_cookies = std::nullopt,
                       std::optional<bool> add_default_headers = std::nullopt,
                       std::optional<bool> normalise_header_names = std::nullopt);

// The same arguments by name, for callers that give only a few of the later ones:
//     web_fetch_object({.url = u, .status_code = &status, .timeout_seconds = 5});
// (designated initialisers must keep the order of the fields below).
struct WebFetchObjectArgs final {
    Text url = {};
    std::optional<int> method = std::nullopt;
    std::optional<Text> post_text = std::nullopt;
    Text* send_cookies = nullptr;
    Text* returned_cookies = nullptr;
    Text* extra_headers = nullptr;
    Text* response_headers = nullptr;
    int* status_code = nullptr;
    std::optional<bool> no_redirect = std::nullopt;
    std::optional<Bytes> post_bytes = std::nullopt;
    std::optional<Text> proxy = std::nullopt;
    std::optional<int> timeout_seconds = std::nullopt;
    std::optional<Text> proxy_user_name = std::nullopt;
    std::optional<Text> proxy_password = std::nullopt;
    std::optional<int> credential_target = std::nullopt;
    std::optional<ObjectRef> request_object = std::nullopt;
    std::optional<bool> merge_cookies = std::nullopt;
    std::optional<bool> add_default_headers = std::nullopt;
    std::optional<bool> normalise_header_names = std::nullopt;
};

Bytes web_fetch_object(WebFetchObjectArgs args);

} // namespace zorvik
