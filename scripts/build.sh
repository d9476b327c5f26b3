#!/usr/bin/env bash
# Installs what is missing, then configures and builds into the folder given as $1 (default:
# build), passing further arguments to CMake. Every build, sanitizer builds too, gets what the
# tests need (the Debian packages and the voice decoder's npm package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
dir=${1:-build}
shift || true
cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$root/$dir" -j"$(nproc)"
