#!/usr/bin/env bash
# The whole wallpaper change at 4K beside its peers, in one run: a 4000 × 3000 JPEG stretched to a
# 3840 × 2160 X screen (a private Xvfb) by `muralo once`, `xwallpaper --stretch` and `feh --bg-scale`.
# Prints each command's median wall time over RUNS runs and the ratios to ours.
#   bench/desktop/wallpaper-4k.sh [path/to/muralo]   (default: build/app/muralo)
set -euo pipefail

muralo=$(realpath "${1:-build/app/muralo}")
runs=${RUNS:-7}
source "$(dirname "$0")/../../scripts/one-shot-settings.sh"
for tool in Xvfb convert-im6.q16 xwallpaper feh "$muralo"; do
  command -v "$tool" >/dev/null || { echo "wallpaper-4k: $tool is missing" >&2; exit 1; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/muralo-bench-XXXXXX")
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

exec 3>"$dir/display"
Xvfb -displayfd 3 -screen 0 3840x2160x24 -noreset -nolisten tcp >"$dir/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$dir/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$dir/display")"

photo="$dir/photo.jpg"
convert-im6.q16 -seed 7 -size 4000x3000 plasma:fractal -quality 90 "$photo"

# Muralo's settings: stretched to the screen without keeping proportions, the photo as the only
# entry, changed at start-up.
export XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" XDG_RUNTIME_DIR="$dir/run" HOME="$dir"
export MURALO_DESKTOP=x11 DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus
mkdir -p "$XDG_CONFIG_HOME/muralo" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '%s\r\n' "$photo" >"$dir/list.que"
write_one_shot_settings "$dir/list.que" 0 0

# Median wall time of a command, in milliseconds.
median_ms() {
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

ours=$(median_ms "$muralo" once)
[ -s "$XDG_DATA_HOME/muralo/muralo.bmp" ] || { echo "wallpaper-4k: muralo wrote no wallpaper" >&2; exit 1; }
xw=$(median_ms xwallpaper --stretch "$photo")
fe=$(median_ms feh --no-fehbg --bg-scale "$photo")

echo "4000x3000 JPEG stretched to a 3840x2160 screen, median of $runs runs (ms):"
printf '  %-28s %6d\n' "muralo once" "$ours" "xwallpaper --stretch" "$xw" "feh --bg-scale" "$fe"
awk -v o="$ours" -v x="$xw" -v f="$fe" 'BEGIN {
  printf "  muralo / xwallpaper = %.2f   muralo / feh = %.2f\n", o / x, o / f }'
