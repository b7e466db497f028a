#!/usr/bin/env bash
# Builds the program and its Debian package; prints the package's path.
#   sudo apt install ./build/zorvik_<version>_amd64.deb     installs it (menu entry and icon)
#   sudo apt remove zorvik                                   removes it again
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVIK_BUILD_DIR:-$root/build}"
source "$root/scripts/deps.sh"
zorvik_configure "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target zorvik -j2
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/zorvik_*.deb
