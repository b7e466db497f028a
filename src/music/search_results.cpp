#include "music/search_results.h"

#include "codepage/codepage.h"
#include "script/json_object.h"
#include "script/url_encode.h"

#include <QList>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace zorvik {

Text search_form_body(std::string_view keyword, std::string_view type) {
    Text body = "input=";
    body += url_encode(keyword);
    body += "&filter=name&type=";
    body += type;
    body += "&page=1";
    return body;
}

Text song_id_text(double songid) {
    constexpr double kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
    if (std::isnan(songid)) {
        return "0";
    }
    // Clamped before the cast: converting an out-of-range double is undefined.
    const double cut = std::trunc(std::clamp(songid, kLowest, kHighest));
    return std::to_string(static_cast<std::int32_t>(cut));
}

SearchFill fill_search_results(const Bytes& reply, QTreeWidget& list,
                               std::vector<Text>& download_urls) {
    list.clear();
    download_urls.clear();

    SearchFill fill;
    if (reply.size() > kMaxSearchReplyBytes) {
        fill.reply = SearchReply::TooLarge;
        return fill;
    }
    JsonObject json;
    if (!json.parse(utf8_to_ansi(text_of(reply)))) {
        fill.reply = SearchReply::NotJson;
        return fill;
    }

    fill.songs = json.count("data");
    fill.rows = std::min(fill.songs, kMaxSearchRows);
    download_urls.resize(static_cast<std::size_t>(fill.rows));
    QList<QTreeWidgetItem*> rows;
    rows.reserve(fill.rows);
    for (int k = 0; k < fill.rows; ++k) {
        const Text element = "data[" + std::to_string(k) + "]";
        const Text title = json.get_text(element + ".title");
        const Text author = json.get_text(element + ".author");
        const Text songid = song_id_text(json.get_number(element + ".songid"));
        download_urls[static_cast<std::size_t>(k)] = json.get_text(element + ".url");
        rows.append(new QTreeWidgetItem(
            QStringList{to_qstring(title), to_qstring(author), to_qstring(songid)}));
    }
    // All at once: one layout pass instead of one per row. The list owns the items.
    list.addTopLevelItems(rows);
    return fill;
}

} // namespace zorvik
