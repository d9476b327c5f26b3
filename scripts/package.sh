#!/usr/bin/env bash
# Builds ferrowick_<version>_<arch>.deb in the folder $1 (default: build-deb) with Debian's build
# flags and checks it: lintian, desktop-file-validate and appstreamcli validate must pass. Installs
# what is missing first, the packaging tools too. The package's path is the last line printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-deb}
[[ "$dir" = /* ]] || dir="$root/$dir"

"$root/scripts/setup.sh" lintian appstream desktop-file-utils dpkg-dev

# Debian's flags, hardening included; file names in the binaries relative to the sources.
cd "$root"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DFERROWICK_BUILD_TESTS=OFF \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/ferrowick_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/ferrowick_*.deb)
deb=${debs[0]}

echo "package: lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb"

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
echo "package: desktop-file-validate"
desktop-file-validate "$contents"/usr/share/applications/*.desktop
echo "package: appstreamcli validate"
# The screenshots' web addresses are not fetched: the check must not depend on the network.
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml

echo "$deb"
