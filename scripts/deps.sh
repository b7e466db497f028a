#!/usr/bin/env bash
# Installs the Debian 12 packages Zorvik needs to build, run and test, when any is missing.
# Sourced by the other scripts, which configure their builds through zorvik_configure; safe to
# run again.
set -euo pipefail

ZORVIK_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-declarative-dev qt6-qpa-plugins libgl-dev
    libcurl4-openssl-dev libicu-dev libssl-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
    clang libclang-rt-14-dev
    xvfb xauth xdotool imagemagick xclip x11-utils
    fonts-wqy-microhei coreutils curl
)

zorvik_install_deps() {
    local missing=()
    local pkg
    for pkg in "${ZORVIK_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# zorvik_configure BUILD_DIR [cmake arguments...]
# Installs what is missing, then configures a Ninja build of the tree in BUILD_DIR.
zorvik_configure() {
    local build="$1"
    shift
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    zorvik_install_deps
    cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    zorvik_install_deps
fi
