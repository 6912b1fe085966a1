#!/usr/bin/env bash
# The program as a screen reader meets it: starts the window with the demo regulator on Xvfb, on
# a session bus of its own with the accessibility bus, and lets check-atspi.py walk what AT-SPI
# shows in Czech, English and German.
#
#   scripts/check-atspi.sh [BUILD_DIR]
#
# Needs xvfb, dbus, at-spi2-core and python3-pyatspi (scripts/install-deps.sh installs them).
# Exit status 0 when every check holds, 77 when a tool is missing (CTest counts that as skipped).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${BUILD_DIR:-$root/build}}"
launcher=/usr/libexec/at-spi-bus-launcher
for need in Xvfb dbus-run-session "$launcher"; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 77; }
done
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || { echo "missing: python3-pyatspi" >&2; exit 77; }

if [ -z "${KX_ATSPI_SESSION:-}" ]; then
  # A bus of our own, so that nothing of the user's desktop takes part.
  exec env KX_ATSPI_SESSION=1 dbus-run-session -- "$0" "$build"
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A program folder of its own: the executable, the demo module and the shipped data.
mkdir -p "$work/dist/Demo"
cp "$build/korvalinex" "$build/korvalinex-demo.so" "$work/dist/"
cp -r "$root/data/Regulators" "$root/data/Languages" "$work/dist/"
cp "$root/data/Teplota1.txt" "$root/data/Teplota2.txt" "$work/dist/"
printf '[SETUP]\r\nLANGUAGE=CZ\r\n' >"$work/dist/Demo/setup.ini"

for _ in $(seq 20); do
  display=":$((100 + RANDOM % 800))"
  [ -e "/tmp/.X${display#:}-lock" ] || break
done
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
"$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
sleep 1

QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  "$work/dist/korvalinex" --demo --demo-unpaced >"$work/app.log" 2>&1 &
pids+=($!)
/usr/bin/python3 "$root/scripts/check-atspi.py"
