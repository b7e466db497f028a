#pragma once

// The system clipboard, as Text.

#include "text/text.h"

namespace zorvik {

// Replaces the clipboard's content with the text; false when there is no clipboard.
bool set_clipboard_text(const Text& text);
// The clipboard's text, converted to the program's code page; empty when none.
Text clipboard_text();

} // namespace zorvik
