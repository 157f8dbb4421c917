#!/usr/bin/env bash
# Install, with apt-get, the Debian packages that a task of this project
# needs and that the machine lacks:
#
#   scripts/setup.sh TASK...
#
#   build    build the programs (README's first command)
#   test     build them and run the test suite (README's second command)
#   sparc    the SPARC cross build and its suite under emulation (.ci/sparc.sh)
#   armhf    the 32-bit ARM cross build and its suite under emulation (.ci/arm.sh)
#   arm64    the 64-bit ARM cross build and its suite under emulation (.ci/arm.sh
#            runs its unit tests and its install test)
#   armel i386 mips64el mipsel ppc64el riscv64 s390x
#            the cross build for that Debian architecture and its suite under
#            emulation (.ci/cross.sh runs the whole suite of i386 and s390x,
#            the unit tests and the install test of the others)
#   bareroot the README's test command in a bare root of another Debian
#            release (.ci/bare-root.sh)
#   fuzz     the libFuzzer targets (fuzz/run.sh)
#   static   clang-format, clang-tidy and cppcheck (.ci/static.sh)
#   repro    two builds of the packages, compared (.ci/reproducible.sh)
#   bench    the tools of the benchmark beside the build (bench/run.sh)
#   ci       all of the above but bench (.ci/run)
#
# It says what it installs, runs apt-get update first, and installs
# nothing when every package is there already (so it needs root, or sudo,
# only then).  Exit status: 0 when the packages are there, 1 when they
# could not be installed, 2 for a wrong command line.
set -euo pipefail

# The one list of the packages, with the tasks that need each.  Test
# parts that find a tool missing skip themselves (valgrind, groff, ip,
# lintian, rpmbuild, rpmlint, bash-completion), so "test" lists all of them
# for a run that leaves none out.  The cross builds' install tests check
# their packages with lintian too.
packages='
cmake                    build test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x fuzz static repro
make                     build test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x fuzz static repro
g++                      build test repro
libgtest-dev             test static
iproute2                 test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x bench
man-db                   test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x repro
valgrind                 test
dpkg-dev                 test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x repro
lintian                  test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x
rpm                      test repro
rpmlint                  test
bash-completion          test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x
g++-sparc64-linux-gnu    sparc
g++-arm-linux-gnueabihf  armhf
g++-aarch64-linux-gnu    arm64
g++-arm-linux-gnueabi    armel
g++-i686-linux-gnu       i386
g++-mips64el-linux-gnuabi64 mips64el
g++-mipsel-linux-gnu     mipsel
g++-powerpc64le-linux-gnu ppc64el
g++-riscv64-linux-gnu    riscv64
g++-s390x-linux-gnu      s390x
qemu-user                sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x
googletest               sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x
clang                    fuzz static
libclang-rt-14-dev       fuzz
ifstat                   bench
strace                   bench
clang-tidy               static
clang-format             static
cppcheck                 static
git                      static repro bareroot
debootstrap              bareroot
'

usage() {
    echo "usage: $0 build|test|sparc|armhf|arm64|armel|i386|mips64el|mipsel|ppc64el|riscv64|s390x|fuzz|static|repro|bareroot|bench|ci ..." >&2
    exit 2
}
[[ $# -gt 0 ]] || usage
tasks=()
for t in "$@"; do
    case $t in
    build | test | sparc | armhf | arm64 | armel | i386 | mips64el | mipsel | ppc64el | riscv64 | s390x | \
        fuzz | static | repro | bareroot | bench) tasks+=("$t") ;;
    ci) tasks+=(build test sparc armhf arm64 armel i386 mips64el mipsel ppc64el riscv64 s390x fuzz static repro bareroot) ;;
    *) usage ;;
    esac
done

# The packages of the tasks asked for, in the list's order.
wanted=()
while read -r pkg needs; do
    [[ -n $pkg ]] || continue
    for t in "${tasks[@]}"; do
        if [[ " $needs " == *" $t "* ]]; then
            wanted+=("$pkg")
            break
        fi
    done
done <<<"$packages"

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
    echo "setup.sh: no apt-get here; make sure these (Debian names) or their equivalents are installed:" >&2
    echo "  ${wanted[*]}" >&2
    exit 0
fi

missing=()
for pkg in "${wanted[@]}"; do
    if [[ $(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null) != installed ]]; then
        missing+=("$pkg")
    fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
    echo "setup.sh: the packages for ${*} are installed"
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "setup.sh: missing packages: ${missing[*]}; run this as root to install them" >&2
        exit 1
    fi
    sudo=(sudo)
fi
echo "setup.sh: installing for ${*}: ${missing[*]}"
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -qq -o Dpkg::Use-Pty=0)
if ! "${apt[@]}" update || ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
    echo "setup.sh: could not install ${missing[*]}" >&2
    exit 1
fi
echo "setup.sh: installed ${missing[*]}"
