#!/usr/bin/env bash
# Builds and runs the benchmarks against the wire, and prints every figure beside its reference and
# the ratio (about six minutes):
#   bench_scaling  parser and model file worst cases at several sizes
#   bench_proc     start-up and memory beside an empty window; CPU of the idle program (60 s)
#   bench_wire     wake-up, read, write, factory settings and a log of 200 records over COM, the
#                  simulated adapter and the emulated chip; the longest event-loop stall of each
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
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target korvalinex regsim kx_ftdiemu emptywindow emptylabel bench_scaling \
    bench_proc bench_wire
fi
dist="$(mktemp -d /tmp/kx-bench-dist.XXXXXX)"
trap 'rm -rf "$dist"' EXIT
BUILD_DIR="$build" DIST_DIR="$dist" "$root/scripts/make-dist.sh"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
export QT_QPA_PLATFORM=offscreen
"$build/bench/bench_scaling"
"$build/bench/bench_proc" "$dist" "$build/bench/emptywindow" "$build/ftdiemu" "$idle" "$runs"
LD_LIBRARY_PATH="$build/ftdiemu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  "$build/bench/bench_wire" "$records"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
