#pragma once

// Percent-encoding of a Text for URLs and form bodies, the way the script engine's
// encodeURI (mode other than 1) and encodeURIComponent (mode 1) do it: every character that is
// not kept becomes "%" and two upper-case hex digits per byte of its UTF-8 form.

#include "text/text.h"

#include <string_view>

namespace zorvik {

Text url_encode(std::string_view text, int mode = 0);

} // namespace zorvik
