#!/usr/bin/env bash
# Builds the Debian package into build/package/ (or $BUILD_DIR/package/) and prints its path. The
# package gets a build folder of its own (build/package-build/, or $PACKAGE_BUILD_DIR) without the
# tests and benchmarks, and only what it ships is built there: the two programs, the demo module,
# the icons and the compressed pages. ccache makes the objects the main build has already compiled
# cheap.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
pkg="${PACKAGE_BUILD_DIR:-$build/package-build}"
"$root/scripts/install-deps.sh"
# CMAKE_SKIP_INSTALL_ALL_DEPENDENCY: cpack installs without building the whole tree first.
cmake -S "$root" -B "$pkg" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF -DKX_BUILD_FUZZ=OFF -DKX_SANITIZE= \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$pkg" -j"$(nproc)" --target korvalinex korvalinex-cli korvalinex-demo kx_package_files >&2
rm -f "$build"/package/korvalinex_*.deb
(cd "$pkg" && cpack -G DEB -B "$build/package" >/dev/null)
ls "$build"/package/korvalinex_*.deb
