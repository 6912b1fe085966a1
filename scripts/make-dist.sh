#!/usr/bin/env bash
# Prepares the portable program folder dist/ (or $DIST_DIR): the executable, the demo module
# (korvalinex --demo) and the data files that ship with it. The program creates its working
# directories there itself.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
dist="${DIST_DIR:-$root/dist}"
mkdir -p "$dist"
cp "$build/korvalinex" "$build/korvalinex-demo.so" "$dist/"
cp "$build/tools/regsim/regsim" "$dist/"
cp -r "$root/data/Regulators" "$root/data/Languages" "$root/data/Help" "$dist/"
cp "$root/data/Teplota1.txt" "$root/data/Teplota2.txt" "$dist/"
cp "$root/data/regsim/demo.regsim" "$dist/"
cp "$root/data/60-korvalinex-ftdi.rules" "$dist/"
