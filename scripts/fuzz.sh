#!/usr/bin/env bash
# Runs one fuzz target for SECONDS (default 60) under libFuzzer, AddressSanitizer and UBSan:
#   bash scripts/fuzz.sh TARGET [SECONDS]
# TARGET: mbdb, plist, keybag, mbfile, chatpayload, typedstream, contactremark, notestore or mp4title. The seed corpus comes from the sample-backup
# generator on the first run and grows in build-fuzz/corpus/TARGET; inputs that crash land in
# build-fuzz/crashes/TARGET.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: fuzz.sh TARGET [SECONDS]}
seconds=${2:-60}
"$root/scripts/setup.sh"
# clang and its fuzzer runtime are needed here only.
missing=()
for p in clang libclang-rt-14-dev; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
dir="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROWICK_FUZZ=ON >/dev/null
cmake --build "$dir" --target "fuzz_$target" fuzz_seeds -j"$(nproc)"
corpus="$dir/corpus/$target"
[[ -d "$corpus" ]] || "$dir/tests/fuzz/fuzz_seeds" "$dir/corpus"
mkdir -p "$corpus" "$dir/crashes/$target"
cd "$dir"
UBSAN_OPTIONS=print_stacktrace=1 "$dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$dir/crashes/$target/" "$corpus"
