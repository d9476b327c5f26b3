#!/usr/bin/env bash
# Installs what is missing, builds, writes the sample backups and starts Ferrowick on them: the
# demo backup (an iOS 6-era phone), an encrypted copy of it (password "ferrowick", the ten
# million key-derivation rounds of a current iPhone), and a current iPhone's backup.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" build
data="$root/build/demo-data"
backups="$data/Apple Computer/MobileSync/Backup"
gen="$root/build/tools/samplegen/ferrowick-samplegen"
rm -rf "$backups/00008030-demo" "$backups/00008030-demo-encrypted" "$backups/00008110-demo-current"
"$gen" --demo "$backups/00008030-demo"
"$gen" --demo --password ferrowick --device-name "Ferrowick Demo iPhone (encrypted)" \
    "$backups/00008030-demo-encrypted"
"$gen" --demo-current "$backups/00008110-demo-current"
cd "$root"
XDG_DATA_HOME="$data" exec "$root/build/src/ferrowick" "$@"
