#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each of them.
#   scripts/fuzz.sh                 every target for 60 s
#   scripts/fuzz.sh -t 1800         every target for 30 minutes
#   scripts/fuzz.sh -r 10000000     every target for ten million runs
#   scripts/fuzz.sh fuzz_parser     one target (options as above)
# Corpora grow in fuzz/corpus/<target> (seeded from the shipped data and the tests' bytes); a crash
# is written to fuzz/artifacts/ and ends the run with a non-zero status.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=60 runs=-1 targets=()
while (($#)); do
  case "$1" in
    -t) seconds="$2"; shift 2 ;;
    -r) runs="$2"; seconds=0; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
"$root/scripts/install-deps.sh"
if ! command -v clang++-14 >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-14 libclang-rt-14-dev
fi
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKX_BUILD_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
all=$(sed -n 's/^kx_fuzzer(\(fuzz_[a-z_]*\).*/\1/p' "$root/fuzz/CMakeLists.txt")
((${#targets[@]})) || read -r -a targets <<<"$(echo $all)"
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
"$root/fuzz/seed.sh" "$root"
mkdir -p "$root/fuzz/artifacts"
export QT_QPA_PLATFORM=offscreen
# The targets write their files into a scratch folder and every write is flushed to disk: on a
# memory file system that costs nothing, on a real disk it halves the speed of the file targets.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
for t in "${targets[@]}"; do
  echo "== $t"
  "$build/fuzz/$t" -dict="$root/fuzz/protocol.dict" -max_total_time="$seconds" -runs="$runs" \
    -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$root/fuzz/artifacts/$t-" \
    "$root/fuzz/corpus/$t" 2>&1 | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==|SUMMARY|invariant|Done)' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$t failed; see fuzz/artifacts/"; exit 1; }
done
