#!/usr/bin/env bash
# Builds Zorvik and starts it. Without a display it starts a virtual one (Xvfb), opens the
# window, saves a screenshot, prints its path and exits 0.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_BUILD_DIR:-$root/build}"
source "$root/scripts/deps.sh"
zorvik_configure "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zorvik -j2

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$build/src/app/zorvik"
fi

echo "No display: starting a virtual one to show that Zorvik works."
tmp="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n1 "$tmp/display")"
export QT_QPA_PLATFORM=xcb

"$build/src/app/zorvik" &
app_pid=$!
if ! timeout 20 xdotool search --sync --name '^Zorvik$' >/dev/null; then
    echo "The Zorvik window did not appear." >&2
    exit 1
fi
sleep 1
shot="$build/zorvik-screenshot.png"
import -window root "$shot"
echo "Zorvik started; screenshot: $shot"
