#pragma once

// The music-search service's request and reply, and the result list a reply fills.
//
// Request: a form-encoded POST body "input=<keyword>&filter=name&type=<source>&page=1".
// Reply: UTF-8 JSON {"data":[{"title","author","songid","url",...}, ...], ...}; one row per
// element of "data", in order, and its "url" at the same index of download_urls.

#include "text/text.h"

#include <cstddef>
#include <string_view>
#include <vector>

class QTreeWidget;

namespace zorvik {

// A real page of results is a few kilobytes. The cap keeps a hostile reply from tying up the
// script engine: well below it, one array of that many tiny elements already brings the
// engine down.
inline constexpr std::size_t kMaxSearchReplyBytes = 512u * 1024u;
// Each row costs a handful of engine calls; this many still fill in a fraction of a second.
inline constexpr int kMaxSearchRows = 5000;

// The request body. `keyword` is Text as typed, escaped with url_encode (default mode), so
// "&", "=", "+", "#", "/" and "?" in it reach the body as they are; `type` is "netease" or
// "kugou".
Text search_form_body(std::string_view keyword, std::string_view type);

// A songid as the list shows it: cut toward zero to a 32-bit integer. Values beyond that range
// stop at its ends; NaN gives "0".
Text song_id_text(double songid);

enum class SearchReply {
    Songs,    // JSON: the rows of its "data" (none when it has no such array)
    NotJson,  // empty, or not a JSON document: no rows
    TooLarge, // over kMaxSearchReplyBytes, not read: no rows
};

struct SearchFill final {
    SearchReply reply = SearchReply::Songs;
    // Elements of "data", and the rows made from them (fewer when over kMaxSearchRows).
    int songs = 0;
    int rows = 0;
};

// Empties `list` and `download_urls`, then fills both from a reply body: row r shows title,
// author and songid of element r, and download_urls[r] (entry r + 1 counted from 1) holds
// its address. A missing member gives an empty cell or address, or "0" for the songid.
SearchFill fill_search_results(const Bytes& reply, QTreeWidget& list,
                               std::vector<Text>& download_urls);

} // namespace zorvik
