#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it as Debian would: its fields (dependencies found
# by dpkg-shlibdeps, the desktop tools recommended), its contents, and lintian without errors.
set -euo pipefail
build=$1
tmp=$(mktemp -d -t muralo-package.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(ls "$tmp"/*.deb)
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = muralo ] || fail "package name"
depends=$(field Depends)
for lib in libqt6widgets6 libjpeg62-turbo libc6 libx11-6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q xdg-utils <<<"$(field Recommends)" || fail "Recommends lacks xdg-utils"
grep -q qt6-wayland <<<"$(field Recommends)" || fail "Recommends lacks qt6-wayland"
[ -n "$(field Section)" ] || fail "no Section"
dpkg-deb -c "$deb" >"$tmp/contents.txt"
for f in ./usr/bin/muralo ./usr/bin/muralo-img ./usr/share/applications/fr.brenwick.Muralo.desktop \
         ./usr/share/doc/muralo/copyright ./usr/share/man/fr/man1/muralo.1.gz; do
  grep -q " $f\$" "$tmp/contents.txt" || fail "no $f in the package"
done

# Errors fail the test; warnings are printed for the record.
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$tmp/lintian.txt"
echo "package: $(basename "$deb"), $(grep -c '^W:' "$tmp/lintian.txt" || true) lintian warnings"
