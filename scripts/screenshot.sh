#!/usr/bin/env bash
# Takes a screenshot of the program with the demo regulator as a user sees it: on Xvfb with the
# openbox window manager, at a screen size, scale, language and desktop theme of your choice.
#
#   scripts/screenshot.sh [--size 1366x768] [--scale 1.5] [--lang GE] [--dark] [--panel 32]
#                         [--keys "alt+s"] [--wait 4] OUT.png
#
# --dark: GTK's Adwaita dark through Qt's GTK platform theme. --panel: pixels a desktop panel
# takes at the bottom of the screen (openbox keeps windows off it). --keys: xdotool key names sent
# to the window before the picture (a menu, a dialog). The program runs from dist/ (or $DIST_DIR,
# built by scripts/make-dist.sh) in a copy of its folder, so dist/ keeps its own settings.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="${DIST_DIR:-$root/dist}"
size=1366x768 scale="" lang=CZ dark="" panel=0 keys="" wait=4 out=""
while (($#)); do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --scale) scale="$2"; shift 2 ;;
    --lang) lang="$2"; shift 2 ;;
    --dark) dark=1; shift ;;
    --panel) panel="$2"; shift 2 ;;
    --keys) keys="$2"; shift 2 ;;
    --wait) wait="$2"; shift 2 ;;
    *) out="$1"; shift ;;
  esac
done
[ -n "$out" ] || { echo "usage: $0 [options] OUT.png" >&2; exit 2; }
for tool in Xvfb openbox import xdotool; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install xvfb openbox imagemagick xdotool)" >&2; exit 2; }
done

work="$(mktemp -d)"
cleanup() {
  for pid in ${app:-} ${wm:-} ${xvfb:-}; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$dist" "$work/dist"
mkdir -p "$work/dist/Demo"
printf '[SETUP]\r\nLANGUAGE=%s\r\n' "$lang" > "$work/dist/Demo/setup.ini"

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
if ((panel > 0)); then
  mkdir -p "$work/openbox"
  # The first <bottom> of openbox's configuration is that of its screen margins.
  sed "0,/<bottom>0<\/bottom>/s//<bottom>$panel<\/bottom>/" /etc/xdg/openbox/rc.xml \
    >"$work/openbox/rc.xml"
  openbox --config-file "$work/openbox/rc.xml" >/dev/null 2>&1 &
else
  openbox >/dev/null 2>&1 &
fi
wm=$!
sleep 1

env=(QT_QPA_PLATFORM=xcb)
[ -n "$scale" ] && env+=(QT_SCALE_FACTOR="$scale")
[ -n "$dark" ] && env+=(QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark)
env "${env[@]}" "$work/dist/korvalinex" --demo --demo-unpaced >"$work/app.log" 2>&1 &
app=$!
sleep "$wait"
if [ -n "$keys" ]; then
  window="$(xdotool search --sync --onlyvisible --name KORVALINEX | head -1)"
  xdotool windowactivate --sync "$window" 2>/dev/null || true
  for k in $keys; do xdotool key --clearmodifiers "$k"; sleep 0.7; done
fi
import -window root "$out"
echo "$out"
