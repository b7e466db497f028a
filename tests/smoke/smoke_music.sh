#!/usr/bin/env bash
# The song page of the real main window, aimed at the local stand-in of zorvik_smoke_app: open
# the tab "音乐下载", search, right-click the first song, choose "下载", press "下载" in the
# download window, and find the song saved in the default save folder (the stand-in's run
# directory) with every byte.
# Usage: smoke_music.sh ZORVIK_BINARY OUTPUT_DIR ZORVIK_SMOKE_APP

source "$(dirname "${BASH_SOURCE[0]}")/lib/x_session.bash"

out_dir=$2
smoke_app=${3:-}
if [[ -z $smoke_app || ! -x $smoke_app ]]; then
    echo "SKIP: zorvik_smoke_app is not built" >&2
    exit 77
fi
song_bytes=300000
song_file=$(cd "$(dirname "$smoke_app")" && pwd)/"Smoke Song-Tester.mp3"
[[ -w $(dirname "$song_file") ]] || fail "the stand-in's folder $(dirname "$song_file") is not writable"

# The song is removed on every way out, then the session's own cleanup runs.
rm -f "$song_file"
trap 'status=$?; rm -f "$song_file"; (exit $status); _smoke_cleanup' EXIT

x_session_start
smoke_app_window "$smoke_app"
keyword_box=$(page_at 203 110)   # 编辑框4: 87, 90, 232 x 40
search_button=$(page_at 262 158) # 按钮5: 206, 138, 112 x 40
first_row=$(page_at 81 222)      # 超级列表框1 at 31, 186: below its header, in the first row

open_tab 1
click_at $keyword_box
xdotool type --delay 15 "smoke"
click_at $search_button
sleep 1

# The download window has no caption; it is the stand-in's 380 x 250 window.
download_window() {
    local id WIDTH HEIGHT X Y SCREEN WINDOW
    for id in $(xdotool search --onlyvisible --class zorvik_smoke_app 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if [[ $WIDTH == 380 && $HEIGHT == 250 ]]; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

read -r row_x row_y <<<"$first_row"
xdotool mousemove --sync "$row_x" "$row_y" click 3
sleep 0.5
# The menu opens 3 pixels right of and below the pointer; its only item is "下载".
click_at $((row_x + 20)) $((row_y + 15))

dialog=
for _ in $(seq 1 50); do
    dialog=$(download_window) && break
    sleep 0.1
done
if [[ -z $dialog ]]; then
    screenshot "$out_dir/smoke_music.png"
    fail "the download window did not open; program log: $(cat "$_smoke_tmp/app.log")"
fi
window_origin "$dialog"
screenshot "$out_dir/smoke_music.png"
click_at $((WIN_X + 98)) $((WIN_Y + 187)) # 按钮2 "下载": 23, 167, 150 x 40

size=
for _ in $(seq 1 100); do
    size=$(stat -c %s "$song_file" 2>/dev/null || true)
    [[ $size == "$song_bytes" ]] && break
    sleep 0.1
done
screenshot "$out_dir/smoke_music_saved.png"
[[ $size == "$song_bytes" ]] || fail "'$song_file' holds '${size:-nothing}', expected $song_bytes bytes"
# The stand-in serves byte i as 'a' + i % 26.
cmp -s "$song_file" <(yes abcdefghijklmnopqrstuvwxyz | tr -d '\n' | head -c "$song_bytes") ||
    fail "'$song_file' does not hold the bytes the stand-in served"

# The confirmation closes itself after a second, and the window with it.
for _ in $(seq 1 50); do
    download_window >/dev/null || break
    sleep 0.1
done
download_window >/dev/null && fail "the download window is still open after the download"

echo "smoke_music: saved $size bytes to '$song_file'"
