#!/usr/bin/env bash
# CI: cross builds for the Debian architectures named, each with its tests
# run under user-mode emulation: the whole suite for i386 (32-bit x86)
# and s390x (big-endian, 64-bit), the unit tests and the install test for
# the others.  Each install test makes that architecture's Debian package
# and checks it with lintian.  Installs what a fresh machine lacks first
# (scripts/setup.sh ARCH...).
#
#   .ci/cross.sh ARCH...    armel i386 mips64el mipsel ppc64el riscv64 s390x
set -euo pipefail
cd "$(dirname "$0")/.."

# The toolchain file of each, and the tests run: all, or those the
# README's arm64 command runs.
declare -A toolchain=(
    [armel]=arm-linux-gnueabi [i386]=i686-linux-gnu [mips64el]=mips64el-linux-gnuabi64
    [mipsel]=mipsel-linux-gnu [ppc64el]=powerpc64le-linux-gnu [riscv64]=riscv64-linux-gnu
    [s390x]=s390x-linux-gnu
)
declare -A whole=([i386]=1 [s390x]=1)
[[ $# -gt 0 ]] || { echo "usage: $0 ARCH..." >&2; exit 2; }
for arch in "$@"; do
    [[ -n ${toolchain[$arch]:-} ]] || { echo "$0: no cross build for $arch" >&2; exit 2; }
done

# The README's cross-build commands, their set-up outside the timing;
# ctest ends with its summary.
scripts/setup.sh "$@"
for arch in "$@"; do
    echo "--- $arch"
    tests=()
    [[ -n ${whole[$arch]:-} ]] || tests=(-R '^(unit_|install_and_pages$)')
    time (cmake -S . -B "build-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/${toolchain[$arch]}.cmake" -DCMAKE_BUILD_TYPE=Release &&
        cmake --build "build-$arch" -j2 && ctest --test-dir "build-$arch" --output-on-failure "${tests[@]}")
done
