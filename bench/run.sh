#!/usr/bin/env bash
# Cost of the monitors in private network namespaces, against ifstat and
# against floor programs (bench/floor.cpp) that do only the unavoidable
# work of the same report.  Three parts, each run or left out on its own:
#   1001   1000 links and lo: CPU time of whole runs and of a turn, peak
#          memory; the default build, a build that reads /proc/net/dev
#          only, a fully static build
#   10001  10,000 links and lo: the cost of watching a few of many links,
#          against 11 links and against a floor that asks for the watched
#          links alone
#   churn  the 10,000 links while 200 more are made and deleted without
#          end: CPU time of a turn, ioctl and receive calls a turn
# Run by hand as root:
#   bench/run.sh [BINDIR]
# (BINDIR holds zorvat2 and zorvat3; default build/bin of the repository).
# Environment: PARTS (default "1001 10001 churn"); REPS (rounds, median
# kept; default 5); PROCFS_BINDIR and STATIC_BINDIR (the programs built
# with -DZORVAT_PROCFS_ONLY=ON and with -DZORVAT_STATIC=ON; default: built
# here, in build-procfs and build-bench-static of the repository);
# CHURN_RATE (link announcements a second that the churn makes, about;
# default 3300).
#
# Exit status: 0 when it measured (goals met or not), non-zero when it
# could not run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
bindir=${1:-$repo/build/bin}
reps=${REPS:-5}
parts=${PARTS:-1001 10001 churn}
procfs_build=$repo/build-procfs
static_build=$repo/build-bench-static
pairs=500          # veth pairs of the part of 1001 links
bigpairs=5000      # of the parts of 10,001 links and of churn
smallpairs=5       # of the namespace of 11 links set against 10,001
churnpairs=100     # made and deleted together, again and again
churngroup=77      # the link group of those, deleted as one
churn_rate=${CHURN_RATE:-3300}  # link announcements a second they make, about
listmax=256        # names zorvat3's table holds
turns=(1 5)        # interval and times of the whole runs
short=(1 1)        # the two runs whose difference is nturns turns
long=(1 11)
nturns=10
ratio_goal=0.25    # CPU of a whole run of zorvat / of ifstat's, at most
run_goal=1.10      # CPU of a whole run over 1001 links / of the floor's
floor_goal=1.25    # CPU of a turn / of the floor's; 10,001 links too
rss_goal_kib=4096  # peak RSS of each program over 1001 links
few_goal=1.5       # a turn of zorvat3 lo over 10,001 links / over 11
listed_goal=1.25   # zorvat3 over 10,001 links / the floor of its links alone
bigrss_goal=1.5    # peak RSS of zorvat2 over 10,001 links / the floor's
churn_goal=1.5     # a turn of zorvat2 under churn / the floor's
ioctl_goal=4       # ioctl calls of a turn under churn, at most

die() {
    echo "run.sh: $*" >&2
    exit 2
}

# --- Checks ---------------------------------------------------------------
[[ $(id -u) -eq 0 ]] || die "must run as root (it makes network namespaces)"
[[ $reps =~ ^[1-9][0-9]*$ ]] || die "REPS must be a positive number"
[[ $churn_rate =~ ^[1-9][0-9]*$ ]] || die "CHURN_RATE must be a positive number"
want1001=false want10001=false wantchurn=false
for p in $parts; do
    case $p in
    1001) want1001=true ;;
    10001) want10001=true ;;
    churn) wantchurn=true ;;
    *) die "PARTS: no part $p (the parts: 1001 10001 churn)" ;;
    esac
done
$want1001 || $want10001 || $wantchurn || die "PARTS names no part (the parts: 1001 10001 churn)"
[[ -d $bindir ]] || die "no folder $bindir (build first, or pass the folder of the programs)"
bindir=$(cd "$bindir" && pwd)
for p in zorvat2 zorvat3; do
    [[ -x $bindir/$p ]] || die "no program $bindir/$p"
done
command -v ip >/dev/null || die "the ip command (iproute2) is missing"
command -v readelf >/dev/null || command -v file >/dev/null ||
    die "neither readelf (binutils) nor file is there to tell a static program from a dynamic one"

# isstatic PROGRAM: true when it has no program interpreter, that is no
# dynamic loader to start it.
isstatic() {
    if command -v readelf >/dev/null; then
        readelf -h "$1" >/dev/null 2>&1 && ! readelf -lW "$1" | grep -q 'INTERP'
    else
        file -L "$1" | grep -qE 'statically linked|static-pie linked'
    fi
}
kindof() { if isstatic "$1"; then echo static; else echo dynamic; fi; }
bindir_kind=$(kindof "$bindir/zorvat2")

procfs_bindir=${PROCFS_BINDIR:-}
static_bindir=${STATIC_BINDIR:-}
if $want1001; then
    if [[ -n $procfs_bindir ]]; then
        [[ -d $procfs_bindir ]] || die "no folder $procfs_bindir (PROCFS_BINDIR)"
        procfs_bindir=$(cd "$procfs_bindir" && pwd)
        for p in zorvat2 zorvat3; do
            [[ -x $procfs_bindir/$p ]] || die "no program $procfs_bindir/$p (PROCFS_BINDIR)"
        done
    fi
    if [[ -n $static_bindir ]]; then
        [[ -d $static_bindir ]] || die "no folder $static_bindir (STATIC_BINDIR)"
        static_bindir=$(cd "$static_bindir" && pwd)
        for p in zorvat2 zorvat3; do
            [[ -x $static_bindir/$p ]] || die "no program $static_bindir/$p (STATIC_BINDIR)"
        done
    fi
    if [[ -z $procfs_bindir || -z $static_bindir ]]; then
        command -v cmake >/dev/null ||
            die "cmake is missing (it builds the procfs-only and static programs;" \
                "or set PROCFS_BINDIR and STATIC_BINDIR)"
    fi
    if ! command -v ifstat >/dev/null; then
        echo "ifstat is missing: installing the ifstat package" >&2
        { apt-get update && apt-get install -y ifstat; } >/dev/null || die "could not install ifstat"
    fi
    ifstat_bin=$(command -v ifstat)
fi
if $wantchurn && ! command -v strace >/dev/null; then
    echo "strace is missing: installing the strace package" >&2
    { apt-get update && apt-get install -y strace; } >/dev/null || die "could not install strace"
fi

work=$(mktemp -d /tmp/zorvat-bench.XXXXXX)
namespaces=()
churn_pid=""
# stopchurn: ends the loop that makes and deletes links, after the batch
# it is at.
stopchurn() {
    if [[ -n $churn_pid ]]; then
        touch "$work/churn.stop"
        wait "$churn_pid" 2>/dev/null || true
        churn_pid=""
    fi
}
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
    stopchurn
    local n
    for n in "${namespaces[@]}"; do
        ip netns del "$n" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The measuring wrapper --------------------------------------------------
# Runs a command, waits for it, and writes "user_us sys_us maxrss_kib
# turn_us" of it and its children (getrusage RUSAGE_CHILDREN) to a file:
# microsecond figures, finer than GNU time's hundredths.  With -t TURNS (a
# run of TURNS turns one second apart), turn_us is the CPU of one turn,
# from the process's own run time (/proc/PID/schedstat) 1.5 s after it
# starts and half a second before its last turn: the turns 2 to TURNS - 1,
# with no start and no exit among them, and no second run to subtract;
# otherwise it is -1.
cat >"$work/rusage.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static void sleepuntil(double t) {
    double left = t - now();
    if (left > 0) {
        struct timespec d = {(time_t)left, (long)((left - (time_t)left) * 1e9)};
        nanosleep(&d, NULL);
    }
}

/* Nanoseconds the process has run, or -1. */
static long long ran(pid_t pid) {
    char path[64];
    long long ns = -1;
    snprintf(path, sizeof path, "/proc/%d/schedstat", (int)pid);
    FILE *f = fopen(path, "r");
    if (f) {
        if (fscanf(f, "%lld", &ns) != 1) {
            ns = -1;
        }
        fclose(f);
    }
    return ns;
}

int main(int argc, char **argv) {
    int turns = 0;
    if (argc >= 4 && strcmp(argv[2], "-t") == 0) {
        turns = atoi(argv[3]);
        argv[3] = argv[1];
        argv += 2;
        argc -= 2;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: rusage OUTFILE [-t TURNS] COMMAND [ARG...]\n");
        return 127;
    }
    const double t0 = now();
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 127;
    }
    if (pid == 0) {
        execv(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    long long turn = -1;
    if (turns >= 4) {
        sleepuntil(t0 + 1.5);
        long long a = ran(pid);
        sleepuntil(t0 + turns - 0.5);
        long long b = ran(pid);
        if (a >= 0 && b >= a) {
            turn = (b - a) / 1000 / (turns - 2);
        }
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    struct rusage ru;
    getrusage(RUSAGE_CHILDREN, &ru);
    FILE *f = fopen(argv[1], "w");
    if (!f) {
        perror(argv[1]);
        return 127;
    }
    fprintf(f, "%lld %lld %ld %lld\n",
            (long long)ru.ru_utime.tv_sec * 1000000 + ru.ru_utime.tv_usec,
            (long long)ru.ru_stime.tv_sec * 1000000 + ru.ru_stime.tv_usec,
            ru.ru_maxrss, turn);
    fclose(f);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
EOF
cc=""
for c in cc gcc c++ g++; do
    if command -v "$c" >/dev/null; then
        cc=$c
        break
    fi
done
[[ -n $cc ]] || die "no C compiler (cc, gcc, c++) to build the measuring wrapper"
if [[ $cc == c++ || $cc == g++ ]]; then
    "$cc" -O2 -x c++ -o "$work/rusage" "$work/rusage.c" || die "could not build the measuring wrapper"
else
    "$cc" -O2 -o "$work/rusage" "$work/rusage.c" || die "could not build the measuring wrapper"
fi

# --- The floor programs -------------------------------------------------------
# Built here rather than by the project's build: so they serve any BINDIR
# (a build made before they existed, the procfs-only build), stay out of
# the programs, the install and the package, and get the same flags
# whatever the build type.  Two builds of the one source: fully static,
# whose start is the least a process can cost, with no dynamic loader and
# no shared libraries to map, the floor of programs built static; and
# dynamic as the programs are (the shared C library, the C++ runtime
# linked in, the same hardening), the floor of a whole run of the
# programs of the default build.  A turn costs both the same.
cxx=""
for c in c++ g++ clang++; do
    if command -v "$c" >/dev/null; then
        cxx=$c
        break
    fi
done
[[ -n $cxx ]] || die "no C++ compiler (c++, g++, clang++) to build the floor programs"
floor_static=$work/floor-static
floor_dynamic=$work/floor-dynamic
"$cxx" -std=c++20 -O2 -Wall -Wextra -Wpedantic -static \
    -o "$floor_static" "$here/floor.cpp" || die "could not build the static floor program"
"$cxx" -std=c++20 -O2 -Wall -Wextra -Wpedantic -D_FORTIFY_SOURCE=2 -static-libstdc++ -static-libgcc \
    -Wl,-z,relro -Wl,-z,now -o "$floor_dynamic" "$here/floor.cpp" || die "could not build the dynamic floor program"
# The floor of BINDIR's programs is built as they are.
if [[ $bindir_kind == static ]]; then
    floor=$floor_static
else
    floor=$floor_dynamic
fi

# --- The procfs-only and static builds --------------------------------------
# The same sources built with -DZORVAT_PROCFS_ONLY=ON, so that the programs
# read /proc/net/dev only, and with -DZORVAT_STATIC=ON, fully static; only
# the two programs are built.  An option the project does not declare stays
# UNINITIALIZED in the cache.
procfs_note=""
static_note=""
# optbuild FOLDER OPTION: configure and build the two programs there with
# OPTION on; false when the sources have no such option (nothing is built).
optbuild() {
    local folder=$1 option=$2
    echo "Building the programs with -D$option=ON in $folder..." >&2
    if ! cmake -S "$repo" -B "$folder" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "-D$option=ON" \
        >"$work/build.log" 2>&1; then
        tail -n 30 "$work/build.log" >&2
        die "could not configure the programs in $folder"
    fi
    grep -q "^$option:BOOL=ON\$" "$folder/CMakeCache.txt" || return 1
    if ! cmake --build "$folder" -j2 --target zorvat2 zorvat3 >"$work/build.log" 2>&1; then
        tail -n 30 "$work/build.log" >&2
        die "could not build the programs in $folder"
    fi
}
if $want1001 && [[ -z $procfs_bindir ]]; then
    if ! optbuild "$procfs_build" ZORVAT_PROCFS_ONLY; then
        procfs_note="this tree has no ZORVAT_PROCFS_ONLY option: the procfs-only build reads what the default build reads"
        echo "run.sh: note: $procfs_note" >&2
        cmake --build "$procfs_build" -j2 --target zorvat2 zorvat3 >"$work/build.log" 2>&1 ||
            die "could not build the programs in $procfs_build"
    fi
    procfs_bindir=$procfs_build/bin
fi
if $want1001 && [[ -z $static_bindir ]]; then
    if optbuild "$static_build" ZORVAT_STATIC; then
        static_bindir=$static_build/bin
    else
        static_note="this tree has no ZORVAT_STATIC option; STATIC_BINDIR can name a static build made otherwise"
    fi
fi
if [[ -n $static_bindir ]] &&
    [[ $(kindof "$static_bindir/zorvat2") != static || $(kindof "$static_bindir/zorvat3") != static ]]; then
    static_note="the programs in $static_bindir are not static"
    static_bindir=""
fi
[[ -z $static_note ]] || echo "run.sh: note: $static_note: the static rows are skipped" >&2

# --- Namespaces -----------------------------------------------------------------
# makens NAME PAIRS DIGITS: a network namespace NAME (deleted on exit)
# holding PAIRS veth pairs zaN/zbN, N of DIGITS digits, all up, and lo up.
# No IPv6 on the links made in it: no router solicitations or listener
# reports after a link comes up, so the links stay without traffic and the
# reports of two runs are the same byte for byte.
makens() {
    local name=$1 n=$2 d=$3 i v6=/proc/sys/net/ipv6/conf
    echo "Making namespace $name with $((2 * n)) links ($n veth pairs) and lo..." >&2
    namespaces+=("$name")
    ip netns add "$name" || die "could not make network namespace $name"
    if ip netns exec "$name" test -e "$v6/default/disable_ipv6"; then
        ip netns exec "$name" sh -c "echo 1 >$v6/all/disable_ipv6 && echo 1 >$v6/default/disable_ipv6" ||
            die "could not turn IPv6 off in namespace $name"
    fi
    {
        echo "link set lo up"
        for ((i = 0; i < n; i++)); do
            printf 'link add za%0*d type veth peer name zb%0*d\n' "$d" "$i" "$d" "$i"
        done
        for ((i = 0; i < n; i++)); do
            printf 'link set za%0*d up\nlink set zb%0*d up\n' "$d" "$i" "$d" "$i"
        done
    } >"$work/links.batch"
    ip -n "$name" -batch "$work/links.batch" || die "could not make the links of namespace $name"
    local up
    up=$(ip -n "$name" -o link show up | grep -c ': z[ab][0-9]' || true)
    [[ $up -eq $((2 * n)) ]] || die "expected $((2 * n)) links up in namespace $name, found $up"
}

# listnames DIGITS: the 256 names that zorvat3 watches, the first 128
# pairs, into names (an array), spaced (blank-separated) and commas.
listnames() {
    local i
    names=()
    for ((i = 0; ${#names[@]} < listmax; i++)); do
        names+=("$(printf 'za%0*d' "$1" "$i")" "$(printf 'zb%0*d' "$1" "$i")")
    done
    spaced="${names[*]}"
    commas=$(
        IFS=,
        echo "${names[*]}"
    )
}

# --- Checking that the programs watch what they should --------------------------
# seen NS EXPECTED PROGRAM ARG...: one short run (one turn); the distinct
# za/zb link names in its output must number EXPECTED.
seen() {
    local ns=$1 want=$2
    shift 2
    local got
    got=$(ip netns exec "$ns" "$@" 1 1 2>&1 | grep -oE 'z[ab][0-9]+' | sort -u | wc -l || true)
    [[ $got -eq $want ]] || die "$(basename "$1") showed $got of the $want links it should watch"
}

# same NS A... -- B...: one run of one turn of each; their reports must be
# the same byte for byte (the floor stands for the same report as the
# monitor).
same() {
    local ns=$1 a=() b=()
    shift
    while [[ $1 != -- ]]; do
        a+=("$1")
        shift
    done
    shift
    b=("$@")
    ip netns exec "$ns" "${a[@]}" 1 1 >"$work/same.a" 2>&1 || true
    ip netns exec "$ns" "${b[@]}" 1 1 >"$work/same.b" 2>&1 || true
    if ! cmp -s "$work/same.a" "$work/same.b"; then
        diff "$work/same.a" "$work/same.b" | head -n 10 >&2 || true
        die "$(basename "${a[0]}") and $(basename "${b[0]}") did not print the same report"
    fi
}

# --- Measuring ----------------------------------------------------------------
# measure KEY NS PROGRAM ARG...: one run inside namespace NS, output to
# /dev/null; appends "cpu_us rss_kib turn_us" to $work/KEY (turn_us: the
# CPU of a turn within the run, for the runs of the long kind; else -1).
measure() {
    local key=$1 ns=$2
    shift 2
    local out="$work/$key.one" each=()
    if [[ "${*: -2}" == "${long[*]}" ]]; then
        each=(-t "${long[1]}")
    fi
    if ! ip netns exec "$ns" "$work/rusage" "$out" "${each[@]}" "$@" >/dev/null 2>"$work/$key.err"; then
        echo "run.sh: this run failed: $*" >&2
        head -c 2000 "$work/$key.err" >&2
        exit 3
    fi
    local u s m t
    read -r u s m t <"$out"
    echo "$((u + s)) $m $t" >>"$work/$key"
}

# rounds KEY...: REPS rounds, each of which runs every KEY once, in
# reverse order every other round, so that no run always comes right
# after the same one.
rounds() {
    local keys=("$@") order k r i
    for ((r = 1; r <= reps; r++)); do
        order=("${keys[@]}")
        if ((r % 2 == 0)); then
            order=()
            for ((i = ${#keys[@]} - 1; i >= 0; i--)); do
                order+=("${keys[i]}")
            done
        fi
        for k in "${order[@]}"; do
            run "$k"
        done
        echo "  round $r of $reps done" >&2
    done
}

# run KEY: one run of a part, by its key (see the parts below).
run() {
    case $1 in
    z2) measure "$1" "$ns1001" "$bindir/zorvat2" "${turns[@]}" ;;
    p2) measure "$1" "$ns1001" "$procfs_bindir/zorvat2" "${turns[@]}" ;;
    s2) measure "$1" "$ns1001" "$static_bindir/zorvat2" "${turns[@]}" ;;
    i2) measure "$1" "$ns1001" "$ifstat_bin" -a -n "${turns[@]}" ;;
    a2) measure "$1" "$ns1001" "$floor" -a "${turns[@]}" ;;
    sa2) measure "$1" "$ns1001" "$floor_static" -a "${turns[@]}" ;;
    z3) measure "$1" "$ns1001" "$bindir/zorvat3" "$spaced" "${turns[@]}" ;;
    p3) measure "$1" "$ns1001" "$procfs_bindir/zorvat3" "$spaced" "${turns[@]}" ;;
    s3) measure "$1" "$ns1001" "$static_bindir/zorvat3" "$spaced" "${turns[@]}" ;;
    i3) measure "$1" "$ns1001" "$ifstat_bin" -n -i "$commas" "${turns[@]}" ;;
    f3) measure "$1" "$ns1001" "$floor" -i "$spaced" "${turns[@]}" ;;
    sf3) measure "$1" "$ns1001" "$floor_static" -i "$spaced" "${turns[@]}" ;;
    z2s) measure "$1" "$ns1001" "$bindir/zorvat2" "${short[@]}" ;;
    p2s) measure "$1" "$ns1001" "$procfs_bindir/zorvat2" "${short[@]}" ;;
    fs) measure "$1" "$ns1001" "$floor" "${short[@]}" ;;
    z2l) measure "$1" "$ns1001" "$bindir/zorvat2" "${long[@]}" ;;
    p2l) measure "$1" "$ns1001" "$procfs_bindir/zorvat2" "${long[@]}" ;;
    fl) measure "$1" "$ns1001" "$floor" "${long[@]}" ;;
    L3los) measure "$1" "$bigns" "$bindir/zorvat3" lo "${short[@]}" ;;
    L3lol) measure "$1" "$bigns" "$bindir/zorvat3" lo "${long[@]}" ;;
    S3los) measure "$1" "$smallns" "$bindir/zorvat3" lo "${short[@]}" ;;
    S3lol) measure "$1" "$smallns" "$bindir/zorvat3" lo "${long[@]}" ;;
    L3ns) measure "$1" "$bigns" "$bindir/zorvat3" "$spaced" "${short[@]}" ;;
    L3nl) measure "$1" "$bigns" "$bindir/zorvat3" "$spaced" "${long[@]}" ;;
    Ltns) measure "$1" "$bigns" "$floor" -i "$spaced" -t "${short[@]}" ;;
    Ltnl) measure "$1" "$bigns" "$floor" -i "$spaced" -t "${long[@]}" ;;
    L3lo5) measure "$1" "$bigns" "$bindir/zorvat3" lo "${turns[@]}" ;;
    Ltlo5) measure "$1" "$bigns" "$floor" -i lo -t "${turns[@]}" ;;
    L2s) measure "$1" "$bigns" "$bindir/zorvat2" "${short[@]}" ;;
    L2l) measure "$1" "$bigns" "$bindir/zorvat2" "${long[@]}" ;;
    Lfs) measure "$1" "$bigns" "$floor" "${short[@]}" ;;
    Lfl) measure "$1" "$bigns" "$floor" "${long[@]}" ;;
    C2s) churning && measure "$1" "$bigns" "$bindir/zorvat2" "${short[@]}" ;;
    C2l) churning && measure "$1" "$bigns" "$bindir/zorvat2" "${long[@]}" ;;
    Cfs) churning && measure "$1" "$bigns" "$floor" "${short[@]}" ;;
    Cfl) churning && measure "$1" "$bigns" "$floor" "${long[@]}" ;;
    Cx3) churning && calls "$1" "$bigns" "$bindir/zorvat3" va "${turns[@]}" ;;
    Cx2) churning && calls "$1" "$bigns" "$bindir/zorvat2" "${turns[@]}" ;;
    *) die "no run $1" ;;
    esac
}

# median KEY FIELD: the median of one field of the runs of KEY (of
# measure: 1 CPU us, 2 RSS KiB).
median() {
    cut -d' ' -f"$2" "$work/$1" | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
declare -A cpu rss turn
medians() {
    local k
    for k in "$@"; do
        cpu[$k]=$(median "$k" 1)
        rss[$k]=$(median "$k" 2)
        turn[$k]=$(median "$k" 3)
    done
}

# --- Report -------------------------------------------------------------------
ms() { awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000 }'; }
turnms() { awk -v u="$1" 'BEGIN { printf "%.3f", u / 1000 }'; }
# ratio A B: A / B, or n/a when noise made a figure meaningless (B not above
# 0, A below 0: a run of 11 turns that cost less than a run of 1).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a >= 0) printf "%.3f", a / b; else print "n/a" }'; }
# perturn SHORT LONG: CPU us of one turn: the median of the turns measured
# within the runs of 1 + nturns turns, or where there are none, from the
# medians of the runs of 1 and of 1 + nturns turns.
perturn() {
    awk -v s="${cpu[$1]}" -v l="${cpu[$2]}" -v t="${turn[$2]:--1}" -v n="$nturns" \
        'BEGIN { printf "%d", (t >= 0 ? t : (l - s) / n) }'
}

runrow() { printf '  %-62s %9s %9s\n' "$1" "$2" "$3"; }
runhead() { runrow "run (median of $reps)" "CPU ms" "RSS KiB"; }
runkey() { runrow "$1" "$(ms "${cpu[$2]}")" "${rss[$2]}"; }

met=0
missed=0
# goal LABEL FIGURE AGAINST COMPARED LIMIT: a row of the goals, COMPARED
# (the ratio FIGURE / AGAINST, or FIGURE itself) set against LIMIT; a LIMIT
# of - is a figure shown without a goal.  A COMPARED of n/a misses.
goal() {
    local verdict=-
    if [[ $5 != - ]]; then
        verdict=$(awk -v v="$4" -v l="$5" 'BEGIN { print (v ~ /^[0-9.]+$/ && v + 0 <= l + 0) ? "PASS" : "MISS" }')
        if [[ $verdict == PASS ]]; then
            met=$((met + 1))
        else
            missed=$((missed + 1))
        fi
    fi
    printf '  %-62s %9s %9s %8s %6s  %s\n' "$1" "$2" "$3" "$4" "$5" "$verdict"
}
goalhead() { printf '  %-62s %9s %9s %8s %6s  %s\n' "goal" "zorvat" "against" "figure" "limit" "met"; }
skips=0
skipped() {
    skips=$((skips + 1))
    printf '  %-62s %s\n    (%s)\n' "$1" "skipped" "$2"
}

echo "zorvat bench: parts $parts; median of $reps rounds"
echo "host: $(uname -r), $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo "CPU = user + sys of the process and its children; RSS = peak resident set"
echo "programs: $bindir ($bindir_kind); their floor: bench/floor.cpp built $bindir_kind"

# --- Part 1001: the default, procfs-only and static builds --------------------
part1001() {
    local start=$SECONDS
    ns1001=zvbench-$$-1001
    makens "$ns1001" "$pairs" 3
    listnames 3
    local ns=$ns1001 s2=() s3=()
    echo "Checking that every program sees its links and that the floors print the same reports..." >&2
    seen "$ns" $((2 * pairs)) "$bindir/zorvat2"
    seen "$ns" $((2 * pairs)) "$procfs_bindir/zorvat2"
    seen "$ns" $((2 * pairs)) "$ifstat_bin" -a -n
    seen "$ns" $((2 * pairs)) "$floor"
    seen "$ns" "$listmax" "$bindir/zorvat3" "$spaced"
    seen "$ns" "$listmax" "$procfs_bindir/zorvat3" "$spaced"
    seen "$ns" "$listmax" "$ifstat_bin" -n -i "$commas"
    seen "$ns" "$listmax" "$floor" -i "$spaced"
    same "$ns" "$bindir/zorvat2" -- "$floor"
    same "$ns" "$bindir/zorvat2" -- "$floor" -a
    same "$ns" "$procfs_bindir/zorvat2" -- "$floor" -a
    same "$ns" "$bindir/zorvat3" "$spaced" -- "$floor" -i "$spaced"
    same "$ns" "$procfs_bindir/zorvat3" "$spaced" -- "$floor" -i "$spaced"
    if [[ -n $static_bindir ]]; then
        seen "$ns" $((2 * pairs)) "$static_bindir/zorvat2"
        seen "$ns" "$listmax" "$static_bindir/zorvat3" "$spaced"
        same "$ns" "$static_bindir/zorvat2" -- "$floor_static" -a
        same "$ns" "$static_bindir/zorvat3" "$spaced" -- "$floor_static" -i "$spaced"
        s2=(s2 sa2)
        s3=(s3 sf3)
    fi
    # z default build, p procfs-only, s static; i ifstat; a, f the floor of
    # BINDIR's kind (with the address dump, without), sa, sf the static one;
    # 2 and 3 the program; s and l the runs of 1 and 11 turns.
    local keys=(z2 i2 p2 a2 "${s2[@]}" z3 i3 p3 f3 "${s3[@]}" z2s fs p2s z2l fl p2l)
    echo "Measuring over 1001 links: $reps rounds of ${#keys[@]} runs..." >&2
    rounds "${keys[@]}"
    medians "${keys[@]}"

    local tz tp tf
    tz=$(perturn z2s z2l)
    tp=$(perturn p2s p2l)
    tf=$(perturn fs fl)
    echo
    echo "== 1001 links: $((2 * pairs)) veth links + lo in a private namespace"
    echo "   default: $bindir; procfs: $procfs_bindir (-DZORVAT_PROCFS_ONLY=ON)"
    [[ -z $procfs_note ]] || echo "   ($procfs_note)"
    if [[ -n $static_bindir ]]; then
        echo "   static: $static_bindir"
    else
        echo "   static: none ($static_note)"
    fi
    echo "   <256> stands for the $listmax names za000 zb000 ... za127 zb127"
    runhead
    runkey "zorvat2 ${turns[*]}" z2
    runkey "zorvat2 ${turns[*]}, procfs build" p2
    [[ -z $static_bindir ]] || runkey "zorvat2 ${turns[*]}, static build" s2
    runkey "ifstat -a -n ${turns[*]}" i2
    runkey "floor -a ${turns[*]}, $bindir_kind" a2
    [[ -z $static_bindir ]] || runkey "floor -a ${turns[*]}, static" sa2
    runkey "zorvat3 <256> ${turns[*]}" z3
    runkey "zorvat3 <256> ${turns[*]}, procfs build" p3
    [[ -z $static_bindir ]] || runkey "zorvat3 <256> ${turns[*]}, static build" s3
    runkey "ifstat -n -i <256> ${turns[*]}" i3
    runkey "floor -i <256> ${turns[*]}, $bindir_kind" f3
    [[ -z $static_bindir ]] || runkey "floor -i <256> ${turns[*]}, static" sf3
    runkey "zorvat2 ${short[*]}" z2s
    runkey "zorvat2 ${long[*]}" z2l
    runkey "zorvat2 ${short[*]}, procfs build" p2s
    runkey "zorvat2 ${long[*]}, procfs build" p2l
    runkey "floor ${short[*]}, $bindir_kind" fs
    runkey "floor ${long[*]}, $bindir_kind" fl
    goalhead
    goal "zorvat2 ${turns[*]} / ifstat -a -n, CPU ms" "$(ms "${cpu[z2]}")" "$(ms "${cpu[i2]}")" \
        "$(ratio "${cpu[z2]}" "${cpu[i2]}")" "$ratio_goal"
    goal "zorvat3 <256> ${turns[*]} / ifstat -n -i, CPU ms" "$(ms "${cpu[z3]}")" "$(ms "${cpu[i3]}")" \
        "$(ratio "${cpu[z3]}" "${cpu[i3]}")" "$ratio_goal"
    goal "zorvat2 ${turns[*]} / floor -a ($bindir_kind), CPU ms, start included" "$(ms "${cpu[z2]}")" \
        "$(ms "${cpu[a2]}")" "$(ratio "${cpu[z2]}" "${cpu[a2]}")" "$run_goal"
    goal "zorvat3 <256> ${turns[*]} / floor -i ($bindir_kind), CPU ms, start included" "$(ms "${cpu[z3]}")" \
        "$(ms "${cpu[f3]}")" "$(ratio "${cpu[z3]}" "${cpu[f3]}")" "$run_goal"
    if [[ -n $static_bindir ]]; then
        goal "static zorvat2 ${turns[*]} / floor -a (static), CPU ms" "$(ms "${cpu[s2]}")" \
            "$(ms "${cpu[sa2]}")" "$(ratio "${cpu[s2]}" "${cpu[sa2]}")" "$run_goal"
        goal "static zorvat3 <256> ${turns[*]} / floor -i (static), CPU ms" "$(ms "${cpu[s3]}")" \
            "$(ms "${cpu[sf3]}")" "$(ratio "${cpu[s3]}" "${cpu[sf3]}")" "$run_goal"
    else
        skipped "static zorvat2, zorvat3 <256> ${turns[*]} / static floor, CPU ms" "$static_note"
    fi
    goal "zorvat2 a turn / floor's, CPU ms" "$(turnms "$tz")" "$(turnms "$tf")" "$(ratio "$tz" "$tf")" "$floor_goal"
    goal "zorvat2 ${turns[*]} peak RSS KiB" "${rss[z2]}" - "${rss[z2]}" "$rss_goal_kib"
    goal "zorvat3 <256> ${turns[*]} peak RSS KiB" "${rss[z3]}" - "${rss[z3]}" "$rss_goal_kib"
    goal "procfs zorvat2 ${turns[*]} / ifstat -a -n, CPU ms" "$(ms "${cpu[p2]}")" "$(ms "${cpu[i2]}")" \
        "$(ratio "${cpu[p2]}" "${cpu[i2]}")" -
    goal "procfs zorvat3 <256> ${turns[*]} / ifstat -n -i, CPU ms" "$(ms "${cpu[p3]}")" "$(ms "${cpu[i3]}")" \
        "$(ratio "${cpu[p3]}" "${cpu[i3]}")" -
    goal "procfs zorvat2 ${turns[*]} / floor -a ($bindir_kind), CPU ms" "$(ms "${cpu[p2]}")" "$(ms "${cpu[a2]}")" \
        "$(ratio "${cpu[p2]}" "${cpu[a2]}")" -
    goal "procfs zorvat3 <256> ${turns[*]} / floor -i ($bindir_kind), CPU ms" "$(ms "${cpu[p3]}")" \
        "$(ms "${cpu[f3]}")" "$(ratio "${cpu[p3]}" "${cpu[f3]}")" -
    goal "procfs zorvat2 a turn / floor's, CPU ms" "$(turnms "$tp")" "$(turnms "$tf")" "$(ratio "$tp" "$tf")" -
    echo "   part 1001 took $((SECONDS - start)) s"
}

# --- The namespace of 10,001 links, of the parts 10001 and churn ---------------
bigns=""
makebig() {
    [[ -z $bigns ]] || return 0
    bigns=zvbench-$$-10001
    makens "$bigns" "$bigpairs" 4
    echo "Checking that zorvat2 sees the 10,000 links and that the floor prints its report..." >&2
    seen "$bigns" $((2 * bigpairs)) "$bindir/zorvat2"
    same "$bigns" "$bindir/zorvat2" -- "$floor"
}

# --- Part 10001: a few links of many ------------------------------------------
part10001() {
    local start=$SECONDS
    makebig
    smallns=zvbench-$$-11
    makens "$smallns" "$smallpairs" 1
    listnames 4
    echo "Checking that zorvat3 and the floor that asks for its links alone print the same reports..." >&2
    seen "$bigns" "$listmax" "$bindir/zorvat3" "$spaced"
    same "$bigns" "$bindir/zorvat3" "$spaced" -- "$floor" -i "$spaced" -t
    same "$bigns" "$bindir/zorvat3" lo -- "$floor" -i lo -t
    same "$smallns" "$bindir/zorvat3" lo -- "$floor" -i lo -t
    # L over 10,001 links, S over 11; 3lo zorvat3 lo, 3n zorvat3 with the
    # 256 names, t the floor of the listed links alone, 2 zorvat2, f the
    # floor of every link; s and l the runs of 1 and 11 turns, 5 of "1 5".
    local keys=(L3los L3lol S3los S3lol L3ns L3nl Ltns Ltnl L3lo5 Ltlo5 L2s L2l Lfs Lfl)
    echo "Measuring over 10,001 links: $reps rounds of ${#keys[@]} runs..." >&2
    rounds "${keys[@]}"
    medians "${keys[@]}"

    local tbig tsmall tn tt t2 tf
    tbig=$(perturn L3los L3lol)
    tsmall=$(perturn S3los S3lol)
    tn=$(perturn L3ns L3nl)
    tt=$(perturn Ltns Ltnl)
    t2=$(perturn L2s L2l)
    tf=$(perturn Lfs Lfl)
    echo
    echo "== 10001 links: $((2 * bigpairs)) veth links + lo, and 11 links ($((2 * smallpairs)) + lo)," \
        "private namespaces"
    echo "   <256> stands for the $listmax names za0000 zb0000 ... za0127 zb0127; floor -t: a request a listed link"
    runhead
    runkey "zorvat3 lo ${short[*]}, 10,001 links" L3los
    runkey "zorvat3 lo ${long[*]}, 10,001 links" L3lol
    runkey "zorvat3 lo ${short[*]}, 11 links" S3los
    runkey "zorvat3 lo ${long[*]}, 11 links" S3lol
    runkey "zorvat3 <256> ${short[*]}" L3ns
    runkey "zorvat3 <256> ${long[*]}" L3nl
    runkey "floor -i <256> -t ${short[*]}, $bindir_kind" Ltns
    runkey "floor -i <256> -t ${long[*]}, $bindir_kind" Ltnl
    runkey "zorvat3 lo ${turns[*]}" L3lo5
    runkey "floor -i lo -t ${turns[*]}, $bindir_kind" Ltlo5
    runkey "zorvat2 ${short[*]}" L2s
    runkey "zorvat2 ${long[*]}" L2l
    runkey "floor ${short[*]}, $bindir_kind" Lfs
    runkey "floor ${long[*]}, $bindir_kind" Lfl
    goalhead
    goal "zorvat3 lo a turn, 10,001 links / 11 links, CPU ms" "$(turnms "$tbig")" "$(turnms "$tsmall")" \
        "$(ratio "$tbig" "$tsmall")" "$few_goal"
    goal "zorvat3 <256> a turn / floor -i <256> -t's, CPU ms" "$(turnms "$tn")" "$(turnms "$tt")" \
        "$(ratio "$tn" "$tt")" "$listed_goal"
    goal "zorvat3 lo ${turns[*]} / floor -i lo -t ($bindir_kind), CPU ms" "$(ms "${cpu[L3lo5]}")" \
        "$(ms "${cpu[Ltlo5]}")" "$(ratio "${cpu[L3lo5]}" "${cpu[Ltlo5]}")" "$listed_goal"
    goal "zorvat2 a turn / floor's, CPU ms" "$(turnms "$t2")" "$(turnms "$tf")" "$(ratio "$t2" "$tf")" "$floor_goal"
    goal "zorvat2 ${long[*]} / floor ${long[*]} ($bindir_kind), peak RSS KiB" "${rss[L2l]}" "${rss[Lfl]}" \
        "$(ratio "${rss[L2l]}" "${rss[Lfl]}")" "$bigrss_goal"
    echo "   part 10001 took $((SECONDS - start)) s"
}

# --- Part churn: links made and deleted while the monitors run -----------------
# startchurn NS: in the background, again and again until stopchurn (or
# until this script is gone), one batch that makes churnpairs veth pairs
# yaNN/ybNN in the link group churngroup, then the deletion of that group,
# at once; paced so that about churn_rate link announcements come a second
# (one batch and its deletion, counted once, tell how many a batch makes).
startchurn() {
    local i
    for ((i = 0; i < churnpairs; i++)); do
        printf 'link add ya%02d group %d type veth peer name yb%02d group %d\n' "$i" "$churngroup" "$i" "$churngroup"
    done >"$work/churn.batch"
    ip netns exec "$1" ip -o monitor link >"$work/churn.count" 2>/dev/null &
    local monitor=$!
    sleep 0.3
    ip -n "$1" -force -batch "$work/churn.batch" >/dev/null 2>&1 || true
    ip -n "$1" link del group "$churngroup" >/dev/null 2>&1 || true
    sleep 0.3
    kill "$monitor" 2>/dev/null || true
    wait "$monitor" 2>/dev/null || true
    local each
    each=$(wc -l <"$work/churn.count")
    [[ $each -gt 0 ]] || die "a batch of links made and deleted was not announced"
    # Microseconds a batch and its deletion take, with the pause after them.
    local period=$((each * 1000000 / churn_rate))
    rm -f "$work/churn.stop"
    (
        while [[ ! -e $work/churn.stop ]] && kill -0 "$$" 2>/dev/null; do
            t0=${EPOCHREALTIME/./}
            ip -n "$1" -force -batch "$work/churn.batch" || true
            ip -n "$1" link del group "$churngroup" || exit 1
            left=$((period - (${EPOCHREALTIME/./} - t0)))
            if ((left > 0)); then
                sleep "$((left / 1000000)).$(printf '%06d' $((left % 1000000)))"
            fi
        done
    ) >"$work/churn.log" 2>&1 &
    churn_pid=$!
}
churning() {
    if [[ -z $churn_pid ]] || ! kill -0 "$churn_pid" 2>/dev/null; then
        die "the links stopped coming and going: $(tail -n 3 "$work/churn.log" 2>/dev/null)"
    fi
}
# announcements NS: link announcements a second in NS, counted for 2 s.
announcements() {
    local n
    n=$(ip netns exec "$1" timeout 2 ip -o monitor link 2>/dev/null | wc -l || true)
    echo $((n / 2))
}
# calls KEY NS PROGRAM ARG...: one run of the program under strace, output
# to /dev/null; appends to $work/KEY "IOCTL MOST RECV IOCTL0 RECV0": the
# ioctl calls of a turn (the mean of the turns after the first), of the
# turn that made most, the receive calls (recvfrom, recvmsg, recvmmsg) of
# a turn, and both of the start with the first turn.  A turn is what came
# after the last report's write, up to its own.
calls() {
    local key=$1 ns=$2
    shift 2
    if ! ip netns exec "$ns" strace -f -o "$work/$key.trace" -e trace=ioctl,recvfrom,recvmsg,recvmmsg,write \
        -e raw=all "$@" >/dev/null 2>"$work/$key.err"; then
        echo "run.sh: this run failed under strace: $*" >&2
        head -c 2000 "$work/$key.err" >&2
        exit 3
    fi
    awk '
        / ioctl\(|^ioctl\(/ { io++ }
        / recv(from|msg|mmsg)\(|^recv(from|msg|mmsg)\(/ { rc++ }
        / write\((0x)?1,|^write\((0x)?1,/ {
            if (++w == 1) { io0 = io; rc0 = rc } else { sio += io; src += rc; if (io > most) most = io }
            io = 0; rc = 0
        }
        END {
            if (w < 2) exit 1
            printf "%d %d %d %d %d\n", sio / (w - 1) + 0.5, most, src / (w - 1) + 0.5, io0, rc0
        }' "$work/$key.trace" >>"$work/$key" || die "no reports in the trace of: $*"
    rm -f "$work/$key.trace"
}
partchurn() {
    local start=$SECONDS
    makebig
    local ns=$bigns
    # zorvat3 watches va, a pair of links that stays: its kstat is there
    # whatever the churn is at when it starts.
    if ! { ip -n "$ns" link add va type veth peer name vb && ip -n "$ns" link set va up &&
        ip -n "$ns" link set vb up; }; then
        die "could not make the links va and vb"
    fi
    same "$ns" "$bindir/zorvat3" va -- "$floor" -i va -t
    echo "Starting the churn: $churnpairs veth pairs made and deleted again and again..." >&2
    startchurn "$ns"
    sleep 1
    churning
    local rate0 rate1
    rate0=$(announcements "$ns")
    # C under churn: 2 zorvat2, f the floor of every link, s and l the runs
    # of 1 and 11 turns; x3 and x2 zorvat3 va and zorvat2 under strace.
    local keys=(C2s C2l Cfs Cfl Cx3 Cx2)
    echo "Measuring under churn (about $rate0 link announcements a second): $reps rounds of ${#keys[@]} runs..." >&2
    rounds "${keys[@]}"
    rate1=$(announcements "$ns")
    stopchurn
    medians C2s C2l Cfs Cfl

    local t2 tf f
    t2=$(perturn C2s C2l)
    tf=$(perturn Cfs Cfl)
    declare -A x3 x2
    for f in 1 2 3 4 5; do
        x3[$f]=$(median Cx3 "$f")
        x2[$f]=$(median Cx2 "$f")
    done
    echo
    echo "== churn: $((2 * bigpairs)) veth links + va, vb and lo, while $((2 * churnpairs)) links are made and deleted"
    echo "   link announcements a second: about $rate0 at the start of the part, $rate1 at its end"
    runhead
    runkey "zorvat2 ${short[*]}" C2s
    runkey "zorvat2 ${long[*]}" C2l
    runkey "floor ${short[*]}, $bindir_kind" Cfs
    runkey "floor ${long[*]}, $bindir_kind" Cfl
    printf '  %-62s %9s %9s %9s\n' "calls under strace (median of $reps)" "a turn" "most" "start+1st"
    printf '  %-62s %9s %9s %9s\n' "zorvat3 va ${turns[*]}: ioctl" "${x3[1]}" "${x3[2]}" "${x3[4]}"
    printf '  %-62s %9s %9s %9s\n' "zorvat3 va ${turns[*]}: recvfrom, recvmsg, recvmmsg" "${x3[3]}" - "${x3[5]}"
    printf '  %-62s %9s %9s %9s\n' "zorvat2 ${turns[*]}: ioctl" "${x2[1]}" "${x2[2]}" "${x2[4]}"
    printf '  %-62s %9s %9s %9s\n' "zorvat2 ${turns[*]}: recvfrom, recvmsg, recvmmsg" "${x2[3]}" - "${x2[5]}"
    goalhead
    goal "zorvat2 a turn / floor's, under churn, CPU ms" "$(turnms "$t2")" "$(turnms "$tf")" \
        "$(ratio "$t2" "$tf")" "$churn_goal"
    goal "zorvat3 va ${turns[*]}, ioctl calls a turn" "${x3[1]}" - "${x3[1]}" "$ioctl_goal"
    goal "zorvat2 ${turns[*]}, ioctl calls a turn" "${x2[1]}" - "${x2[1]}" "$ioctl_goal"
    goal "zorvat3 va ${turns[*]}, receive calls a turn" "${x3[3]}" - "${x3[3]}" -
    goal "zorvat2 ${turns[*]}, receive calls a turn" "${x2[3]}" - "${x2[3]}" -
    echo "   part churn took $((SECONDS - start)) s"
}

! $want1001 || part1001
! $want10001 || part10001
! $wantchurn || partchurn

echo
echo "goals met: $met of $((met + missed))$( ((skips == 0)) || echo ", $skips skipped")"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; run time: $SECONDS s"
exit 0
