#!/usr/bin/env bash
# CI: the ARM cross builds, their tests run under user-mode emulation.
# armhf (32-bit: long, size_t and time_t of 32 bits, unlike every other
# build) runs the whole suite; arm64 runs its unit tests and its install
# test.  Each install test makes that architecture's Debian package and
# checks it with lintian.  Installs what a fresh machine lacks first
# (scripts/setup.sh armhf arm64).
set -euo pipefail
cd "$(dirname "$0")/.."

# The README's cross-build commands (arm64's ctest with only its unit tests
# and its install test), their set-up outside the timing; ctest ends with
# its summary.
scripts/setup.sh armhf arm64
time (cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake -DCMAKE_BUILD_TYPE=Release &&
  cmake --build build-armhf -j2 && ctest --test-dir build-armhf --output-on-failure)
time (cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release &&
  cmake --build build-arm64 -j2 && ctest --test-dir build-arm64 --output-on-failure -R '^(unit_|install_and_pages$)')
