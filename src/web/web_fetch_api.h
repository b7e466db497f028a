#pragma once

// web_fetch_api: one synchronous HTTP or HTTPS request, step by step, returning the body as
// Text decoded by the charset its page declares.
//
// Inputs left out (nullopt) take their defaults; in/out and out parameters are the caller's
// variables (nullptr: not given). Every failing step writes its numbered text to
// `status_text` and returns empty Text; the other outputs are written only once a response
// head arrived. While it waits the window keeps painting.
//
// Differences from the routine this one follows, on purpose:
// - server certificates are verified; a bad one fails the request ("711 ...", the request
//   never got out);
// - a URL with an empty path keeps its query ("http://host?q" asks for "/?q");
// - a body that broke off keeps "713 读取数据失败!" in `status_text` (the rest of the outputs
//   hold what arrived), instead of being reported with the status line as if whole;
// - new cookies are joined to a non-empty `returned_cookies` with "; ";
// - a page whose declared charset cannot be decoded comes back undecoded instead of empty.

#include "text/text.h"

#include <optional>
#include <string_view>

namespace zorvik {

// Method numbers: 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT;
// anything else GET.
Text web_fetch_api(std::string_view url,                                       // 1
                   std::optional<int> method = std::nullopt,                   // 2, 0
                   const std::optional<Text>& post_text = std::nullopt,        // 3
                   Text* send_cookies = nullptr,                               // 4, merged list out
                   Text* returned_cookies = nullptr,                           // 5, appended to
                   const std::optional<Text>& extra_headers = std::nullopt,    // 6
                   Text* response_headers = nullptr,                           // 7
                   std::optional<bool> no_redirect = std::nullopt,             // 8, false
                   const std::optional<Text>& user_name = std::nullopt,        // 9
                   const std::optional<Text>& password = std::nullopt,         // 10
                   const std::optional<Text>& proxy = std::nullopt,            // 11, "host:port"
                   const std::optional<Text>& proxy_user_name = std::nullopt,  // 12
                   const std::optional<Text>& proxy_password = std::nullopt,   // 13
                   std::optional<int> timeout_seconds = std::nullopt,          // 14, 0 or less: 30
                   Text* redirect_location = nullptr,                          // 15
                   Text* status_text = nullptr,                                // 16
                   Bytes* response_bytes = nullptr,                            // 17
                   std::optional<bool> merge_cookies = std::nullopt,           // 18, true
                   std::optional<bool> add_default_headers = std::nullopt,     // 19, true
                   const std::optional<Bytes>& post_bytes = std::nullopt,      // 20
                   std::optional<bool> normalise_header_names = std::nullopt); // 21, true

} // namespace zorvik
