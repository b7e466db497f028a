#pragma once

// The HTTP request object, registered as "WinHttp.WinHttpRequest.5.1" and driven through the
// automation layer (make_winhttp_request_object() in builtin_objects.h). libcurl does the work.
//
// Members (names compare case-insensitively; a failing member sets last_error()):
//   SetTimeouts(resolve, connect, send, receive)   milliseconds. resolve + connect bound the
//       connection (TLS handshake and proxy tunnel included); a connect of 0 or less leaves
//       libcurl's own limit (300 s). Once connected, the request gives up when no byte has
//       moved either way for the longer of send and receive, and four times that after it
//       connected at the latest; 0 or less for both: no limit.
//       Defaults: 0, 60000, 30000, 30000.
//   SetProxy(setting[, server])   2: use `server` ("host:port", "http://host:port", or
//       per-scheme entries "http=host:port;https=host:port"); 0 or 1: no proxy. Proxy
//       settings of the environment are never used.
//   Open(verb, url[, async])   prepares a request; url must be http or https, async false.
//       Forgets the headers and the response of the previous request; keeps time-outs, proxy,
//       options and credentials.
//   Option(index) get / Option(index, value) put   6: follow redirects (default true, at most
//       10); 4: certificate-error flags, stored and read back but never obeyed: certificates
//       are always verified. Other indices are stored.
//   SetCredentials(user, password, flags)   Basic credentials for the server (0) or proxy (1).
//   SetRequestHeader(name, value)   adds the header, or replaces the value of one of that name
//       (case-insensitively). An empty value is sent as "Name:". A name or value holding CR,
//       LF or NUL, or a name with ":" or spaces, is refused. Content-Length is computed, never
//       taken from here. Proxy-Authorization goes to the proxy only.
//   Send([body])   a byte array as is, a text as UTF-8, nothing or empty for no body. Returns
//       once the final response has fully arrived, keeping the window painting meanwhile; fails
//       on any network or TLS failure, a time-out, a body over kMaxResponseBodyBytes, headers
//       over kMaxResponseHeaderBytes, and while another Send of this object runs.
//   Status, StatusText, ResponseBody (byte array), ResponseText (UTF-8 decoded),
//   GetAllResponseHeaders (each header line of the final response followed by CR LF, status
//   line left out), GetResponseHeader(name)   read the last response; they fail when the
//   last Send failed or none was made.
//
// Response header lines are read as UTF-8 where they are valid UTF-8, else as Latin-1.

#include <cstddef>
#include <string_view>

namespace zorvik {

inline constexpr std::string_view kRequestObjectProgId = "WinHttp.WinHttpRequest.5.1";

// A reply body beyond this fails the request instead of filling memory.
inline constexpr std::size_t kMaxResponseBodyBytes = 64u * 1024u * 1024u;
// Likewise for the header lines of one response (the limit WinHTTP has by default). It also
// bounds the cookie merge, whose work grows with the square of the Set-Cookie lines.
inline constexpr std::size_t kMaxResponseHeaderBytes = 64u * 1024u;

inline constexpr int kRequestOptionSslErrorIgnoreFlags = 4;
inline constexpr int kRequestOptionEnableRedirects = 6;

inline constexpr long kMaxRedirects = 10;

} // namespace zorvik
