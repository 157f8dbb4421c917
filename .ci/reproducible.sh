#!/usr/bin/env bash
# CI: the packages of this commit come out the same twice.  Two clones in
# folders of different names and depths are built one after the other
# (so at different times) under different umasks (022, 077), locales and
# time zones, with SOURCE_DATE_EPOCH set to the commit's time, and each
# makes its Debian package and its RPM: the two of each kind must be the
# same byte for byte, and hold folders rwxr-xr-x and files rw-r--r-- or
# rwxr-xr-x only.  Installs what the machine lacks first
# (scripts/setup.sh repro).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh repro
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
work=$(mktemp -d "${TMPDIR:-/tmp}/zorvat-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

# build FOLDER UMASK LOCALE TZ: the README's packaging commands in a clone.
build() {
    local dir=$1
    git clone -q "$PWD" "$dir"
    (
        umask "$2"
        export LC_ALL=$3 TZ=$4
        echo "== $dir: umask $(umask), LC_ALL=$LC_ALL, TZ=$TZ, $(date)"
        cmake -S "$dir" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
        cmake --build "$dir/build" -j2 >/dev/null
        cd "$dir/build"
        cpack -G DEB >/dev/null
        cpack -G RPM >/dev/null
    )
}
build "$work/a/zorvat" 022 C.UTF-8 UTC
build "$work/elsewhere/deeper/zorvat-2" 077 C XYZ-14

failed=0
for first in "$work"/a/zorvat/build/zorvat*.deb "$work"/a/zorvat/build/zorvat*.rpm; do
    second=$work/elsewhere/deeper/zorvat-2/build/${first##*/}
    if cmp -s "$first" "$second"; then
        echo "same: ${first##*/} ($(sha256sum <"$first" | cut -c1-16))"
    else
        echo "DIFFERENT: ${first##*/}"
        cmp "$first" "$second" || true
        failed=1
    fi
    case $first in
    *.deb) modes=$(dpkg-deb -c "$second" | awk '{ print $1 }') ;;
    *.rpm) modes=$(rpm -qp --qf '[%{FILEMODES:perms}\n]' "$second") ;;
    esac
    bad=$(printf '%s\n' "$modes" | grep -Ev '^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x|lrwxrwxrwx)$' || true)
    if [[ -n $bad ]]; then
        echo "${first##*/} built under umask 077 holds entries of these modes:"
        printf '%s\n' "$bad" | sort | uniq -c
        failed=1
    fi
done
[[ $failed -eq 0 ]] || { echo "the packages differ"; exit 1; }
echo "the packages of two builds are the same"
