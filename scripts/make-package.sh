#!/usr/bin/env bash
# Builds the Debian package into build/package/ (or $BUILD_DIR/package/) and prints its path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
rm -f "$build"/package/korvalinex_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/package/korvalinex_*.deb
