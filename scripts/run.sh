#!/usr/bin/env bash
# Installs what is missing, builds, writes a sample backup and starts Ferrowick on it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" build
data="$root/build/demo-data"
backup="$data/Apple Computer/MobileSync/Backup/00008030-demo"
rm -rf "$backup"
"$root/build/tools/samplegen/ferrowick-samplegen" --demo "$backup"
cd "$root"
XDG_DATA_HOME="$data" exec "$root/build/src/ferrowick" "$@"
