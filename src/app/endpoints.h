#pragma once

// The outside services the pages talk to. Users get no setting for them; tests hand the
// pages local addresses instead.

namespace zorvik {

// The music-search service: POST at the path "/music". The service's real host is still to be
// confirmed; until then the name sits under the reserved ".invalid" domain, so no keyword can
// ever reach a host somebody else registered, and a search says it could not connect.
inline constexpr char16_t kMusicSearchEndpoint[] = u"https://music-search.invalid/music";
// The quote service: GET at "/", the query directly after "?".
inline constexpr char16_t kQuotePrimaryEndpoint[] = u"https://v1.hitokoto.cn/?";
inline constexpr char16_t kQuoteInternationalEndpoint[] = u"https://international.v1.hitokoto.cn/?";

} // namespace zorvik
