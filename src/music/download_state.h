#pragma once

// The program-wide values of the song download, owned by the main window: the search writes
// the addresses, the menu item "下载" the pending ones, the download window reads those.

#include "text/text.h"

#include <vector>

namespace zorvik {

struct DownloadState {
    // The address of each result row of the latest search, in row order.
    std::vector<Text> download_urls;
    // What the download window is opened for.
    Text pending_download_url;
    // The file-name part of the default save place.
    Text pending_file_name;
};

} // namespace zorvik
