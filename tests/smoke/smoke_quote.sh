#!/usr/bin/env bash
# The quote page of the real main window: open the tab "获取一言", click "获取" and read the
# quote back from the X clipboard. The window comes from zorvik_smoke_app (smoke_app.cpp), which
# aims the quote endpoints at a local HTTPS server that answers with a fixed quote followed by
# the query it received.
# Usage: smoke_quote.sh ZORVIK_BINARY OUTPUT_DIR SMOKE_APP

source "$(dirname "${BASH_SOURCE[0]}")/lib/x_session.bash"

out_dir=$2
helper=${3:-}
if [[ ! -x $helper ]]; then
    echo "SKIP: $helper is not built" >&2
    exit 77
fi
expected='人生若只如初见。 encode=text&charset=utf-8'

x_session_start
smoke_app_window "$helper"
fetch_button=$(page_at 259 356) # 按钮6: 167, 336, 184 x 40

printf 'before' | xclip -selection clipboard -i
open_tab 2
click_at $fetch_button

quote=
for _ in $(seq 1 50); do
    quote=$(clipboard_text)
    [[ $quote == "$expected" ]] && break
    sleep 0.2
done
screenshot "$out_dir/smoke_quote.png"
[[ $quote == "$expected" ]] || fail "clipboard holds '$quote', expected '$expected'"

echo "smoke_quote: '$quote'"
