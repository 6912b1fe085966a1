#!/usr/bin/env bash
# Builds and runs the benchmarks against the wire, and prints every figure beside its reference and
# the ratio (about six minutes):
#   bench_scaling  parser and model file worst cases at several sizes
#   bench_proc     start-up and memory beside an empty window (offscreen, then on Xvfb with
#                  openbox); CPU of the idle program (60 s)
#   bench_wire     wake-up, read, write, factory settings and a log of 200 records over COM, the
#                  simulated adapter and the emulated chip; the longest event-loop stall of each
#   bench_cli      korvalinex-cli in a batch over four paced regulators: write, write
#                  --if-different, diff, write --dry-run
#
#   scripts/bench.sh [--no-build] [--quick]
#     --quick   10 s of idle CPU, 3 start-up runs and a log of 20 records, to try the script
# Environment: BUILD_DIR (default build/), IDLE_SECONDS, LOG_RECORDS, KX_BENCH_LINKS (COM,USB,chip).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
buildit=1
idle="${IDLE_SECONDS:-60}"
records="${LOG_RECORDS:-200}"
runs=5
for a in "$@"; do
  case "$a" in
    --no-build) buildit=0 ;;
    --quick) idle=10; records=20; runs=3 ;;
    *) echo "unknown option: $a" >&2; exit 2 ;;
  esac
done
if ((buildit)); then
  "$root/scripts/install-deps.sh"
  # The start-up figures are taken a second time on an X server with a window manager, as a
  # desktop shows the window.
  if ! command -v Xvfb >/dev/null || ! command -v openbox >/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq xvfb openbox
  fi
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target korvalinex regsim kx_ftdiemu emptywindow emptylabel bench_scaling \
    bench_proc bench_wire bench_cli
fi
dist="$(mktemp -d /tmp/kx-bench-dist.XXXXXX)"
trap 'rm -rf "$dist"' EXIT
BUILD_DIR="$build" DIST_DIR="$dist" "$root/scripts/make-dist.sh"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
export QT_QPA_PLATFORM=offscreen
"$build/bench/bench_scaling"
"$build/bench/bench_proc" "$dist" "$build/bench/emptywindow" "$build/ftdiemu" "$idle" "$runs"
if command -v Xvfb >/dev/null && command -v openbox >/dev/null; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  sleep 1
  DISPLAY="$display" openbox >/dev/null 2>&1 &
  wmpid=$!
  sleep 1
  DISPLAY="$display" KX_BENCH_PLATFORM=xcb KX_BENCH_PROC=start \
    "$build/bench/bench_proc" "$dist" "$build/bench/emptywindow" "$build/ftdiemu" "$idle" "$runs"
  kill "$wmpid" "$xpid" 2>/dev/null || true
  wait "$wmpid" "$xpid" 2>/dev/null || true
else
  echo "start-up on an X server: skipped (Xvfb or openbox missing)"
fi
LD_LIBRARY_PATH="$build/ftdiemu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  "$build/bench/bench_wire" "$records"
"$build/bench/bench_cli" 4
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
