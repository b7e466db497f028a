# Shared by the smoke scripts: a private Xvfb, the program under test, and cleanup on every
# path. Source it, then call x_session_start and app_start.
#
#   x_session_start                 starts Xvfb on a free display and exports DISPLAY
#   app_start BINARY                starts the program on it (QT_QPA_PLATFORM=xcb)
#   window_wait TITLE               prints the id of the window titled TITLE (bounded wait)
#   window_origin WID               sets WIN_X and WIN_Y to the window's screen position
#   click_at X Y                    left click at screen position X, Y
#   clipboard_text                  prints the clipboard's text (bounded wait)
#   screenshot FILE                 saves the whole screen
#   smoke_app_window BINARY         starts zorvik_smoke_app, waits for its window and sets
#                                   WIN_X, WIN_Y
#   page_at X Y                     screen position of a page control placed at X, Y
#   open_tab INDEX                  clicks that tab of the main window
#   fail MESSAGE                    prints MESSAGE, exits 1 (cleanup runs)

set -euo pipefail

SMOKE_TIME_LIMIT=${SMOKE_TIME_LIMIT:-90}
# The whole script runs under a time limit, whatever hangs; the TERM that ends it runs cleanup.
if [[ -z ${_SMOKE_TIMED:-} ]]; then
    command -v timeout >/dev/null 2>&1 || { echo "SKIP: timeout is not installed" >&2; exit 77; }
    _SMOKE_TIMED=1 exec timeout -k 5 "$SMOKE_TIME_LIMIT" bash "$0" "$@"
fi

_smoke_tmp=$(mktemp -d)
_smoke_xvfb_pid=
_smoke_app_pid=

_smoke_cleanup() {
    local status=$?
    for pid in "$_smoke_app_pid" "$_smoke_xvfb_pid"; do
        if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$_smoke_tmp"
    exit "$status"
}
trap _smoke_cleanup EXIT
trap 'echo "FAIL: interrupted (time limit ${SMOKE_TIME_LIMIT} s?)" >&2; exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

_smoke_require() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed" >&2
            exit 77
        fi
    done
}

x_session_start() {
    _smoke_require Xvfb xdotool xclip import
    local display_file=$_smoke_tmp/display
    : >"$display_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$_smoke_tmp/xvfb.log" &
    _smoke_xvfb_pid=$!
    local tries=0
    while [[ ! -s $display_file ]]; do
        ((++tries <= 100)) || fail "Xvfb did not start: $(cat "$_smoke_tmp/xvfb.log")"
        kill -0 "$_smoke_xvfb_pid" 2>/dev/null || fail "Xvfb exited: $(cat "$_smoke_tmp/xvfb.log")"
        sleep 0.1
    done
    export DISPLAY=:$(tr -d '[:space:]' <"$display_file")
}

app_start() {
    [[ -x $1 ]] || fail "no program at $1"
    QT_QPA_PLATFORM=xcb "$1" >"$_smoke_tmp/app.log" 2>&1 &
    _smoke_app_pid=$!
}

window_wait() {
    local wid
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) ||
        true
    [[ -n $wid ]] || fail "no window titled '$1' appeared; program log: $(cat "$_smoke_tmp/app.log")"
    echo "$wid"
}

window_origin() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    WIN_X=$X
    WIN_Y=$Y
}

click_at() {
    xdotool mousemove --sync "$1" "$2" click 1
    sleep 0.2
}

clipboard_text() {
    timeout 5 xclip -o -selection clipboard 2>/dev/null || true
}

smoke_app_window() {
    export ZORVIK_SMOKE_GEOMETRY=$_smoke_tmp/geometry
    app_start "$1"
    local wid
    wid=$(window_wait Zorvik)
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    window_origin "$wid"
}

# Page controls are placed from the tab control, which sits at 9, 7 in the window.
page_at() {
    echo $((WIN_X + 9 + $1)) $((WIN_Y + 7 + $2))
}

# zorvik_smoke_app writes one line "<index> <x> <y>" per tab once its window shows.
open_tab() {
    local tries=0 tab_x tab_y
    while ! grep -q '^3 ' "$ZORVIK_SMOKE_GEOMETRY" 2>/dev/null; do
        ((++tries <= 50)) || fail "the smoke app did not tell where its tabs are"
        sleep 0.1
    done
    read -r _ tab_x tab_y < <(grep "^$1 " "$ZORVIK_SMOKE_GEOMETRY")
    click_at $((WIN_X + tab_x)) $((WIN_Y + tab_y))
}

screenshot() {
    import -window root "$1" 2>/dev/null || echo "note: no screenshot taken" >&2
}
