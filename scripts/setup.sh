#!/usr/bin/env bash
# Installs the Debian 12 packages Ferrowick needs to build, run and test, skipping those present.
# Further package names given as arguments are installed too (scripts/package.sh's tools).
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
    qt6-webengine-dev qt6-webengine-dev-tools
    libplist-dev libpugixml-dev libsqlite3-dev libssl-dev
    libavformat-dev libavcodec-dev libavfilter-dev libavdevice-dev
    libswresample-dev libswscale-dev libavutil-dev
    libsdl2-dev libsdl2-mixer-dev libxcb1-dev
    xvfb xauth ffmpeg sqlite3 dbus-daemon
    libopencore-amrnb-dev
    libheif-dev libheif-examples qt6-image-formats-plugins
    qt6-translations-l10n cmark-gfm librsvg2-bin
    zlib1g-dev python3-vobject
    "$@"
)
# The SILK voice decoder runs on Node.js; install Debian's only when no node is present
# (a node from elsewhere brings its own npm, which Debian's npm package would conflict with).
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

# silk-wasm for tools/silkdecoder, at the version pinned in its package-lock.json.
silk="$(cd "$(dirname "$0")/.." && pwd)/tools/silkdecoder"
if [[ ! -f "$silk/node_modules/silk-wasm/package.json" || "$silk/package-lock.json" -nt "$silk/node_modules/.package-lock.json" ]]; then
    echo "setup: npm ci in tools/silkdecoder"
    (cd "$silk" && npm ci --no-audit --no-fund --loglevel=error)
fi
