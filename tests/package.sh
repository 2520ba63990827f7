#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from a finished build folder, unpacks it, and
# checks that everything lands where Debian expects it and that Debian's own
# checkers accept it.
#   tests/package.sh BUILD_DIR SCRATCH_DIR VERSION EXECUTABLE...
set -euo pipefail
build=$1 scratch=$2 version=$3
shift 3
executables=("$@")

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch"
cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; exit 1; }
deb="$scratch/korvale-panel_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$scratch" >&2; echo "FAIL: no $deb" >&2; exit 1; }
root="$scratch/root"
dpkg-deb -x "$deb" "$root"

desktop=usr/share/applications/org.korvale.Panel.desktop
metainfo=usr/share/metainfo/org.korvale.Panel.metainfo.xml
for f in "$desktop" "$metainfo" usr/share/doc/korvale-panel/copyright \
         usr/share/doc/korvale-panel/changelog.gz \
         usr/share/icons/hicolor/scalable/apps/org.korvale.Panel.svg \
         usr/share/icons/hicolor/48x48/apps/org.korvale.Panel.png \
         lib/systemd/system/korvale-logger@.service \
         usr/share/doc/korvale-panel/examples/logger-example.conf; do
    [ -f "$root/$f" ] || fail "missing /$f"
done
for exe in "${executables[@]}"; do
    [ -x "$root/usr/bin/$exe" ] || fail "missing /usr/bin/$exe"
    gzip -t "$root/usr/share/man/man1/$exe.1.gz" 2>/dev/null || fail "missing /usr/share/man/man1/$exe.1.gz"
    grep -q "<binary>$exe</binary>" "$root/$metainfo" || fail "metainfo does not provide $exe"
done
# The version is written once, in CMake; everything that names it must agree.
zcat "$root/usr/share/doc/korvale-panel/changelog.gz" | head -n 1 | grep -qF "korvale-panel ($version)" ||
    fail "changelog does not start at $version"
grep -qF "<release version=\"$version\"" "$root/$metainfo" || fail "metainfo lacks release $version"
exec_line=$(sed -n 's/^Exec=//p' "$root/$desktop")
[ -x "$root/usr/bin/${exec_line%% *}" ] || fail "desktop entry runs '$exec_line', not in /usr/bin"

# Computed by dpkg-shlibdeps from what the binaries link, plus the font.
depends=$(dpkg-deb -f "$deb" Depends)
for p in fonts-liberation libqt6serialport6 libqt6svg6 libqt6widgets6 libc6; do
    grep -q "\b$p\b" <<<"$depends" || fail "Depends lacks $p: $depends"
done

desktop-file-validate "$root/$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/$metainfo" || fail "appstreamcli validate"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian"

[ "$failures" -eq 0 ] || exit 1
echo "package: $(basename "$deb") passed"
