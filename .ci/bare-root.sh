#!/usr/bin/env bash
# CI: the README's test command, run as a new user would run it on a bare
# Debian system of the release named (trixie by default): a root made by
# debootstrap --variant=minbase with git and ca-certificates, entered with
# chroot, /proc, /sys and /dev bound into it and a tmpfs on /run (for the
# namespaces that the end-to-end tests make).  A clone of this commit is
# built and tested there with that release's compiler and tools.
#
#   .ci/bare-root.sh [SUITE]
#
# The bare root is cached outside the clone, in
# ${ZORVAT_ROOT_CACHE:-/var/cache/zorvat-ci}/SUITE, and made again when it
# is missing, was left half made, or is older than a week.  It is never
# used in place: each run works in a copy of it, brought up to date with
# apt-get (so the packages tested are the release's current ones, whatever
# the cache's age) and removed at the end, so that one run leaves nothing
# behind for the next and setup.sh always starts from a bare system.
# Installs what the machine lacks first (scripts/setup.sh bareroot).
set -euo pipefail
cd "$(dirname "$0")/.."

suite=${1:-trixie}
cache=${ZORVAT_ROOT_CACHE:-/var/cache/zorvat-ci}
mirror=$(sed -n 's/^URIs: *\([^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}
maxage=$((7 * 24 * 3600))
recipe="debootstrap --variant=minbase --include=git,ca-certificates $suite $mirror"

scripts/setup.sh bareroot
mkdir -p "$cache"
exec 9>"$cache/$suite.lock"
flock 9

# The cached bare root: made in a folder of its own and renamed into place
# once debootstrap is done, with a stamp that says how it was made.
base=$cache/$suite
stamp=$base/.zorvat-root
if [[ -f $stamp && $(head -n 1 "$stamp") == "$recipe" &&
    $(($(date +%s) - $(stat -c %Y "$stamp"))) -lt $maxage ]]; then
    echo "bare $suite root: cached, made $(date -u -r "$stamp" '+%F %T UTC')"
else
    echo "bare $suite root: $recipe"
    rm -rf "$base" "$base.new"
    time debootstrap --variant=minbase --include=git,ca-certificates "$suite" "$base.new" "$mirror" >"$cache/$suite.log" 2>&1 ||
        { tail -n 20 "$cache/$suite.log"; echo "debootstrap failed"; exit 1; }
    echo "$recipe" >"$base.new/.zorvat-root"
    mv "$base.new" "$base"
fi

# The run's own copy, with the machine's name service and its file
# systems; all of it undone at the end, whatever happens.
root=$(mktemp -d "${TMPDIR:-/var/tmp}/zorvat-$suite.XXXXXX")
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -l "${mounts[i]}" 2>/dev/null || true
    done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
for fs in proc sys dev; do
    mount --rbind "/$fs" "$root/$fs"
    mounts+=("$root/$fs")
done
mount -t tmpfs tmpfs "$root/run"
mounts+=("$root/run")
git clone -q "$PWD" "$root/root/zorvat"

in_root() {
    chroot "$root" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive bash -euo pipefail -c "$1"
}
in_root 'apt-get -qq update && apt-get -qq -o Dpkg::Use-Pty=0 -y upgrade >/dev/null'
echo "Debian $(cat "$root/etc/debian_version") ($suite)"
# The README's test command, as it stands there; ctest ends with its
# summary.
command=$(sed -n 's/^    \(scripts\/setup\.sh test && .*ctest .*\)$/\1/p' README.md)
[[ -n $command ]] || { echo "no test command in README.md"; exit 1; }
echo "$command"
time in_root "cd /root/zorvat && rc=0 && { $command || rc=\$?; } && g++ --version | head -n 1 && exit \$rc"
