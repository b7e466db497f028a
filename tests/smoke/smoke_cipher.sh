#!/usr/bin/env bash
# The cipher page of the real program: type a text, encrypt it, read the cipher back through
# the clipboard; then decrypt it into the emptied upper box and read that back.
# Usage: smoke_cipher.sh ZORVIK_BINARY OUTPUT_DIR

source "$(dirname "${BASH_SOURCE[0]}")/lib/x_session.bash"

binary=$1
out_dir=$2
plain='Hello Zorvik 123'
expected_cipher='R2Rra24fWW5xdWhqHzAxMg=='

x_session_start
app_start "$binary"
wid=$(window_wait Zorvik)
xdotool windowfocus --sync "$wid" 2>/dev/null || true
window_origin "$wid"

# Places on the page are relative to the tab control, which sits at 9, 7 in the window.
at() { echo $((WIN_X + 9 + $1)) $((WIN_Y + 7 + $2)); }
plain_box=$(at 178 139)     # 编辑框2: 31, 85, 295 x 108
encrypt_button=$(at 183 213) # 按钮3: 139, 197, 88 x 32
decrypt_button=$(at 281 213) # 按钮4: 237, 197, 88 x 32
cipher_box=$(at 178 331)    # 编辑框3: 31, 269, 295 x 124

copy_box() {
    click_at "$@"
    xdotool key --clearmodifiers ctrl+a ctrl+c
    sleep 0.3
    clipboard_text
}

click_at $plain_box
xdotool type --delay 15 "$plain"
click_at $encrypt_button
cipher=$(copy_box $cipher_box)
screenshot "$out_dir/smoke_cipher.png"
[[ $cipher == "$expected_cipher" ]] || fail "cipher is '$cipher', expected '$expected_cipher'"

click_at $plain_box
xdotool key --clearmodifiers ctrl+a Delete
click_at $decrypt_button
decrypted=$(copy_box $plain_box)
[[ $decrypted == "$plain" ]] || fail "decrypted text is '$decrypted', expected '$plain'"

echo "smoke_cipher: '$plain' -> '$cipher' -> '$decrypted'"
