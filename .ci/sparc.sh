#!/usr/bin/env bash
# CI: the big-endian SPARC cross build, with its test suite run under
# user-mode emulation; the suite's install test makes the sparc64 Debian
# package and checks it with lintian.  Installs what a fresh machine lacks
# first (scripts/setup.sh sparc).
set -euo pipefail
cd "$(dirname "$0")/.."

# The README's cross-build test command, its set-up outside the timing;
# ctest ends with its summary.
scripts/setup.sh sparc
time (cmake -S . -B build-sparc -DCMAKE_TOOLCHAIN_FILE=cmake/sparc64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release &&
  cmake --build build-sparc -j2 && ctest --test-dir build-sparc --output-on-failure)
