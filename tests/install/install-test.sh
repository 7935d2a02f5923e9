#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks what a desktop finds there: the menu entry,
# the metadata and the icons pass their validators, the manual pages and the help are in place,
# the installed muralo-img runs, and the installed muralo makes its one-shot change under Xvfb.
set -euo pipefail
build=$1
src=$2
source "$src/scripts/one-shot-settings.sh"
tmp=$(mktemp -d -t muralo-install.XXXXXX)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$tmp/stage" cmake --install "$build" --prefix /usr >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
usr="$tmp/stage/usr"
id=$(basename "$(ls "$usr"/share/applications/*.desktop)" .desktop)

# Programs, help, entry, metadata, autostart example, manual pages, Debian documents.
for f in bin/muralo bin/muralo-img share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/doc/muralo/examples/muralo-autostart.desktop share/doc/muralo/copyright \
         share/doc/muralo/changelog.gz share/icons/hicolor/scalable/apps/$id.svg \
         share/man/man1/muralo.1.gz share/man/man1/muralo-img.1.gz \
         share/man/fr/man1/muralo.1.gz share/man/fr/man1/muralo-img.1.gz; do
  [ -e "$usr/$f" ] || fail "$f is not installed"
done
[ -f "$usr/share/muralo/muralo.chm" ] || [ -f "$usr/share/muralo/aide/index.html" ] || fail "no help in share/muralo"

# Debian 12's desktop-file-validate (0.26) predates version 1.5 of the Desktop Entry format: it refuses
# the version number and SingleMainWindow, the key that 1.5 added. Those two reports are expected;
# anything else it says is an error.
desktop-file-validate "$usr/share/applications/$id.desktop" >"$tmp/validate.txt" 2>&1 || true
if grep ': error: ' "$tmp/validate.txt" | grep -v -e 'value "1.5" for key "Version"' -e 'key "SingleMainWindow"'; then
  fail "desktop-file-validate (menu entry)"
fi
desktop-file-validate "$usr/share/doc/muralo/examples/muralo-autostart.desktop" || fail "desktop-file-validate (autostart)"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -qx "Icon=$id" "$usr/share/applications/$id.desktop" || fail "the entry's icon is not the theme icon $id"

# Each PNG of the theme has the size of its folder (read from the PNG header, not from our reader).
for png in "$usr"/share/icons/hicolor/*/apps/$id.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  got=$(/usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$png")
  [ "$got" = "$size" ] || fail "$png is $got"
done
[ "$(ls "$usr"/share/icons/hicolor/*/apps/$id.png | wc -l)" -ge 6 ] || fail "fewer than six icon sizes"

# The manual pages are well-formed roff (man's own checker prints nothing for a clean page).
for page in "$usr"/share/man/man1/*.gz "$usr"/share/man/fr/man1/*.gz; do
  out=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -k -man -Tutf8 -ww -z 2>&1) || fail "groff $page"
  [ -z "$out" ] || fail "groff warns on $page: $out"
done

# The installed tool lists the formats.
"$usr/bin/muralo-img" formats >"$tmp/formats.txt" || fail "installed muralo-img formats"
grep -q "bmp" "$tmp/formats.txt" || fail "muralo-img formats lists no bmp"

# The installed program's one-shot change under a private Xvfb, with private XDG folders.
export XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$XDG_CONFIG_HOME/muralo" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '%s\r\n' "$src/resources/samples/plasma.bmp" >"$tmp/list.que"
write_one_shot_settings "$tmp/list.que" 0 0
Xvfb -displayfd 3 -screen 0 640x480x24 -noreset -nolisten tcp >"$tmp/xvfb.log" 2>&1 3>"$tmp/display" &
xvfb=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$tmp/display")" MURALO_DESKTOP=x11
timeout 60 "$usr/bin/muralo" once || fail "installed muralo once"
[ -s "$XDG_DATA_HOME/muralo/muralo.bmp" ] || fail "the installed program wrote no wallpaper"
xprop -root _XROOTPMAP_ID | grep -q "pixmap id" || fail "no root pixmap after the change"
echo "install tree: all checks passed"
