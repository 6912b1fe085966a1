#!/usr/bin/env bash
# Runs the program over "USB" without USB hardware: the demo regulator (our simulator) answers on a
# pseudo-terminal, and the program finds it behind an emulated FTDI adapter, a stand-in for
# libusb-1.0 built with the tests (build/ftdiemu). Uses its own program folder (dist-usb/) so that
# the serial demo's setup.ini stays as it is.
#
#   scripts/run-emulated-usb.sh [--pace] [--no-build]
#     --pace      bytes take their real time on the 600-baud line, on both sides
#     --no-build  use what is already built
#
# While it runs:  touch dist-usb/unplugged   unplugs the adapter;  rm dist-usb/unplugged  plugs it
# in again. dist-usb/usb-line.log lists every byte the adapter sent with its line settings, and
# dist-usb/regsim-record.txt every message the simulator recognised.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
dist="${DIST_DIR:-$root/dist-usb}"
pace=0
buildit=1
for a in "$@"; do
  case "$a" in
    --pace) pace=1 ;;
    --no-build) buildit=0 ;;
    *) echo "unknown option: $a" >&2; exit 2 ;;
  esac
done

if ((buildit)); then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target korvalinex regsim kx_ftdiemu
fi
BUILD_DIR="$build" DIST_DIR="$dist" "$root/scripts/make-dist.sh"
mkdir -p "$dist/ftdiemu"
cp -P "$build"/ftdiemu/libusb-1.0.so* "$dist/ftdiemu/"

port="$dist/demo-regulator-usb"
rm -f "$dist/unplugged" "$dist/usb-line.log"
simargs=(--file "$dist/demo.regsim" --link "$port" --record "$dist/regsim-record.txt")
((pace)) && simargs+=(--pace --stop-bits 2)
"$dist/regsim" "${simargs[@]}" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

# USB is the link mode when setup.ini names none.
[ -f "$dist/setup.ini" ] || printf '[SETUP]\r\nDEVICE=USB\r\nLANGUAGE=CZ\r\n' > "$dist/setup.ini"

env LD_LIBRARY_PATH="$dist/ftdiemu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    KXEMU_PORT="$port" KXEMU_UNPLUG_FILE="$dist/unplugged" KXEMU_LINE_LOG="$dist/usb-line.log" \
    KXEMU_SERIAL="KXDEMO01" KXEMU_DESCRIPTION="FT232R USB UART" KXEMU_PACE="$( ((pace)) && echo 1 )" \
    "$dist/korvalinex"
