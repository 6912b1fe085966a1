#!/usr/bin/env bash
# Installs what is needed, builds, prepares dist/ and starts the program talking to the demo
# regulator: our simulator on a pseudo-terminal; with --usb, `korvalinex --demo`, behind a
# simulated FTDI adapter. With a real regulator configured in dist/setup.ini (DEVICE=COM and
# COM=<device>, see the README), no simulator is started.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
"$root/scripts/make-dist.sh"
dist="${DIST_DIR:-$root/dist}"
setup="$dist/setup.ini"

# --usb: the program's own demo, which keeps its settings in dist/Demo/, so that the serial demo's
# settings stay as they are.
if [ "${1:-}" = "--usb" ]; then
  exec "$dist/korvalinex" --demo "$dist/demo.regsim"
fi
port="$dist/demo-regulator"

if [ -f "$setup" ] && ! grep -q "^COM=$port" "$setup"; then
  echo "Using the regulator configured in $setup"
  exec "$dist/korvalinex"
fi

"$dist/regsim" --file "$dist/demo.regsim" --link "$port" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
if [ ! -f "$setup" ]; then
  printf '[SETUP]\r\nCOM=%s\r\nDEVICE=COM\r\nLANGUAGE=CZ\r\n' "$port" > "$setup"
fi
"$dist/korvalinex"
