#!/usr/bin/env bash
# Installs what is needed, builds, runs every test, then builds and checks the Debian package.
# This is what CI runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 300
"$root/scripts/check-package.sh"
