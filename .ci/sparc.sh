#!/usr/bin/env bash
# CI: the big-endian SPARC cross build, with its test suite run under
# user-mode emulation.  Installs what a fresh machine lacks first.
set -euo pipefail
cd "$(dirname "$0")/.."

pkgs=()
command -v cmake >/dev/null || pkgs+=(cmake)
command -v ip >/dev/null || pkgs+=(iproute2)
command -v groff >/dev/null || pkgs+=(groff)
command -v man >/dev/null || pkgs+=(man-db)
command -v sparc64-linux-gnu-g++ >/dev/null || pkgs+=(g++-sparc64-linux-gnu)
command -v qemu-sparc64 >/dev/null || pkgs+=(qemu-user)
[ -e /usr/src/googletest/CMakeLists.txt ] || pkgs+=(googletest)
if [ ${#pkgs[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${pkgs[@]}"
fi

# The README's cross-build test command; ctest ends with its summary.
time (cmake -S . -B build-sparc -DCMAKE_TOOLCHAIN_FILE=cmake/sparc64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release &&
  cmake --build build-sparc -j2 && ctest --test-dir build-sparc --output-on-failure)
