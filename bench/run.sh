#!/usr/bin/env bash
# Cost of the monitors over 1000 links in a private network namespace: CPU
# time against ifstat, CPU time of a whole run and of one turn against the
# floor program (bench/floor.cpp), peak memory; for the default build and
# for a build that reads /proc/net/dev only.  Run by hand as root:
#   bench/run.sh [BINDIR]
# (BINDIR holds zorvat2 and zorvat3; default build/bin of the repository).
# Environment: REPS (rounds, median kept; default 5); PROCFS_BINDIR (the
# programs built with -DZORVAT_PROCFS_ONLY=ON; default: built here, in
# build-procfs of the repository).
#
# Exit status: 0 when it measured (goals met or not), non-zero when it
# could not run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
bindir=${1:-$repo/build/bin}
reps=${REPS:-5}
procfs_build=$repo/build-procfs
pairs=500          # veth pairs: 2 * pairs links
listmax=256        # names zorvat3's table holds
turns=(1 5)        # interval and times of the runs set against ifstat
short=(1 1)        # the two runs whose difference is ten turns
long=(1 11)
ratio_goal=0.25    # CPU time of zorvat / CPU time of ifstat, at most
run_goal=1.10      # CPU time of a whole run of zorvat / of the floor's, at most
floor_goal=1.25    # CPU per turn of zorvat2 / CPU per turn of floor, at most
rss_goal_kib=4096  # peak RSS of each zorvat program, at most

die() {
    echo "run.sh: $*" >&2
    exit 2
}

# --- Checks ---------------------------------------------------------------
[[ $(id -u) -eq 0 ]] || die "must run as root (it makes a network namespace)"
[[ $reps =~ ^[1-9][0-9]*$ ]] || die "REPS must be a positive number"
[[ -d $bindir ]] || die "no folder $bindir (build first, or pass the folder of the programs)"
bindir=$(cd "$bindir" && pwd)
for p in zorvat2 zorvat3; do
    [[ -x $bindir/$p ]] || die "no program $bindir/$p"
done
procfs_bindir=${PROCFS_BINDIR:-}
if [[ -n $procfs_bindir ]]; then
    [[ -d $procfs_bindir ]] || die "no folder $procfs_bindir (PROCFS_BINDIR)"
    procfs_bindir=$(cd "$procfs_bindir" && pwd)
    for p in zorvat2 zorvat3; do
        [[ -x $procfs_bindir/$p ]] || die "no program $procfs_bindir/$p (PROCFS_BINDIR)"
    done
else
    command -v cmake >/dev/null || die "cmake is missing (it builds the procfs-only programs; or set PROCFS_BINDIR)"
fi
command -v ip >/dev/null || die "the ip command (iproute2) is missing"
if ! command -v ifstat >/dev/null; then
    echo "ifstat is missing: installing the ifstat package" >&2
    { apt-get update && apt-get install -y ifstat; } >/dev/null || die "could not install ifstat"
fi
ifstat_bin=$(command -v ifstat)

work=$(mktemp -d /tmp/zorvat-bench.XXXXXX)
ns=zvbench-$$-$RANDOM
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The measuring wrapper --------------------------------------------------
# Runs a command, waits for it, and writes "user_us sys_us maxrss_kib" of it
# and its children (getrusage RUSAGE_CHILDREN) to a file: microsecond
# figures, finer than GNU time's hundredths.
cat >"$work/rusage.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: rusage OUTFILE COMMAND [ARG...]\n");
        return 127;
    }
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
    fprintf(f, "%lld %lld %ld\n",
            (long long)ru.ru_utime.tv_sec * 1000000 + ru.ru_utime.tv_usec,
            (long long)ru.ru_stime.tv_sec * 1000000 + ru.ru_stime.tv_usec,
            ru.ru_maxrss);
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

# --- The floor program ------------------------------------------------------
# Built here rather than by the project's build: so it serves any BINDIR
# (a build made before it existed, the procfs-only build), stays out of the
# programs, the install and the package, and gets the same flags whatever
# the build type.  Fully static: its start is then the least a process
# can cost, with no dynamic loader and no shared libraries to map.
cxx=""
for c in c++ g++ clang++; do
    if command -v "$c" >/dev/null; then
        cxx=$c
        break
    fi
done
[[ -n $cxx ]] || die "no C++ compiler (c++, g++, clang++) to build the floor program"
"$cxx" -std=c++20 -O2 -Wall -Wextra -Wpedantic -static \
    -o "$work/floor" "$here/floor.cpp" || die "could not build the floor program"

# --- The procfs-only build ----------------------------------------------------
# The same sources built with -DZORVAT_PROCFS_ONLY=ON, so that the programs
# read /proc/net/dev only; only the two programs are built.
procfs_note=""
if [[ -z $procfs_bindir ]]; then
    echo "Building the procfs-only programs in $procfs_build..." >&2
    if ! { cmake -S "$repo" -B "$procfs_build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DZORVAT_PROCFS_ONLY=ON && cmake --build "$procfs_build" -j2 --target zorvat2 zorvat3; } \
        >"$work/procfs-build.log" 2>&1; then
        tail -n 30 "$work/procfs-build.log" >&2
        die "could not build the procfs-only programs in $procfs_build"
    fi
    # An option the project does not declare stays UNINITIALIZED in the cache.
    if ! grep -q '^ZORVAT_PROCFS_ONLY:BOOL=ON$' "$procfs_build/CMakeCache.txt"; then
        procfs_note="this tree has no ZORVAT_PROCFS_ONLY option: the procfs-only build reads what the default build reads"
        echo "run.sh: note: $procfs_note" >&2
    fi
    procfs_bindir=$procfs_build/bin
fi

# --- The namespace ------------------------------------------------------------
echo "Making namespace $ns with $((2 * pairs)) links ($pairs veth pairs)..." >&2
ip netns add "$ns" || die "could not make network namespace $ns"
# No IPv6 on the links made in it: no router solicitations or listener
# reports after a link comes up, so the links stay without traffic and the
# reports of two runs are the same byte for byte.
v6=/proc/sys/net/ipv6/conf
if ip netns exec "$ns" test -e "$v6/default/disable_ipv6"; then
    ip netns exec "$ns" sh -c "echo 1 >$v6/all/disable_ipv6 && echo 1 >$v6/default/disable_ipv6" ||
        die "could not turn IPv6 off in namespace $ns"
fi
{
    echo "link set lo up"
    for ((i = 0; i < pairs; i++)); do
        printf 'link add za%03d type veth peer name zb%03d\n' "$i" "$i"
    done
    for ((i = 0; i < pairs; i++)); do
        printf 'link set za%03d up\nlink set zb%03d up\n' "$i" "$i"
    done
} >"$work/links.batch"
ip -n "$ns" -batch "$work/links.batch" || die "could not make the links"
nlinks=$(ip -n "$ns" -o link show up | grep -c ': z[ab][0-9]' || true)
[[ $nlinks -eq $((2 * pairs)) ]] || die "expected $((2 * pairs)) links up, found $nlinks"

# The 256 names zorvat3 and ifstat -i watch: the first 128 pairs.
names=()
for ((i = 0; ${#names[@]} < listmax; i++)); do
    names+=("$(printf 'za%03d' "$i")" "$(printf 'zb%03d' "$i")")
done
spaced="${names[*]}"
commas=$(IFS=,; echo "${names[*]}")

# --- Checking that each pair watches the same links -----------------------------
# seen EXPECTED PROGRAM ARG...: one short run (one turn); the distinct
# za/zb link names in its output must number EXPECTED.
seen() {
    local want=$1
    shift
    local got
    got=$(ip netns exec "$ns" "$@" 1 1 2>&1 | grep -oE 'z[ab][0-9]{3}' | sort -u | wc -l || true)
    [[ $got -eq $want ]] || die "$(basename "$1") showed $got of the $want links it should watch"
}
echo "Checking that every program sees its links..." >&2
seen $((2 * pairs)) "$bindir/zorvat2"
seen $((2 * pairs)) "$procfs_bindir/zorvat2"
seen $((2 * pairs)) "$ifstat_bin" -a -n
seen $((2 * pairs)) "$work/floor"
seen "$listmax" "$bindir/zorvat3" "$spaced"
seen "$listmax" "$procfs_bindir/zorvat3" "$spaced"
seen "$listmax" "$ifstat_bin" -n -i "$commas"
seen "$listmax" "$work/floor" -i "$spaced"

# same A... -- B...: one run of one turn of each; their reports must be the
# same byte for byte (the floor stands for the same report as the monitor).
same() {
    local a=() b=()
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
echo "Checking that the floor prints what the monitors print..." >&2
same "$bindir/zorvat2" -- "$work/floor"
same "$procfs_bindir/zorvat2" -- "$work/floor"
same "$bindir/zorvat3" "$spaced" -- "$work/floor" -i "$spaced"
same "$procfs_bindir/zorvat3" "$spaced" -- "$work/floor" -i "$spaced"

# --- Measuring ----------------------------------------------------------------
# measure KEY PROGRAM ARG...: one run inside the namespace, output to
# /dev/null; appends "cpu_us rss_kib" to $work/KEY.
measure() {
    local key=$1
    shift
    local out="$work/$key.one"
    if ! ip netns exec "$ns" "$work/rusage" "$out" "$@" >/dev/null 2>"$work/$key.err"; then
        echo "run.sh: this run failed: $*" >&2
        head -c 2000 "$work/$key.err" >&2
        exit 3
    fi
    local u s m
    read -r u s m <"$out"
    echo "$((u + s)) $m" >>"$work/$key"
}

# The runs of a round, each named by a key: z default build, p procfs-only
# build, i ifstat, f floor; 2 and 3 the program (f3 the floor with the
# names of zorvat3), s and l the runs of 1 and 11 turns.  Each run set
# against another comes next to it.
keys=(z2 i2 p2 f2 z3 i3 p3 f3 z2s fs p2s z2l fl p2l)
run() {
    case $1 in
    z2) measure "$1" "$bindir/zorvat2" "${turns[@]}" ;;
    p2) measure "$1" "$procfs_bindir/zorvat2" "${turns[@]}" ;;
    i2) measure "$1" "$ifstat_bin" -a -n "${turns[@]}" ;;
    f2) measure "$1" "$work/floor" "${turns[@]}" ;;
    z3) measure "$1" "$bindir/zorvat3" "$spaced" "${turns[@]}" ;;
    p3) measure "$1" "$procfs_bindir/zorvat3" "$spaced" "${turns[@]}" ;;
    i3) measure "$1" "$ifstat_bin" -n -i "$commas" "${turns[@]}" ;;
    f3) measure "$1" "$work/floor" -i "$spaced" "${turns[@]}" ;;
    z2s) measure "$1" "$bindir/zorvat2" "${short[@]}" ;;
    p2s) measure "$1" "$procfs_bindir/zorvat2" "${short[@]}" ;;
    fs) measure "$1" "$work/floor" "${short[@]}" ;;
    z2l) measure "$1" "$bindir/zorvat2" "${long[@]}" ;;
    p2l) measure "$1" "$procfs_bindir/zorvat2" "${long[@]}" ;;
    fl) measure "$1" "$work/floor" "${long[@]}" ;;
    *) die "no run $1" ;;
    esac
}

# median KEY FIELD: the median of one field (1 CPU us, 2 RSS KiB) of the
# runs of KEY.
median() {
    cut -d' ' -f"$2" "$work/$1" | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
round_s=$((8 * turns[0] * turns[1] + 3 * short[0] * short[1] + 3 * long[0] * long[1]))
echo "Measuring: $reps rounds of ${#keys[@]} runs, $round_s s a round..." >&2
for ((r = 1; r <= reps; r++)); do
    # Every program once a round; every other round in reverse order, so
    # that no program always runs right after the same one.
    order=("${keys[@]}")
    if ((r % 2 == 0)); then
        order=()
        for ((k = ${#keys[@]} - 1; k >= 0; k--)); do
            order+=("${keys[k]}")
        done
    fi
    for k in "${order[@]}"; do
        run "$k"
    done
    echo "  round $r of $reps done" >&2
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

# --- Report -------------------------------------------------------------------
verdict() { # verdict VALUE LIMIT -> PASS or MISS (a figure that is n/a misses)
    awk -v v="$1" -v l="$2" 'BEGIN { print (v ~ /^[0-9.]+$/ && v + 0 <= l + 0) ? "PASS" : "MISS" }'
}
ms() { awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000 }'; }
# ratio A B: A / B, or n/a when noise made a figure meaningless (B not above
# 0, A below 0: a run of 11 turns that cost less than a run of 1).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a >= 0) printf "%.3f", a / b; else print "n/a" }'; }
# perturn SHORT LONG: CPU us of one turn, from the medians of the runs of
# 1 and of 11 turns.
perturn() { awk -v s="${cpu[$1]}" -v l="${cpu[$2]}" 'BEGIN { printf "%d", (l - s) / 10 }'; }
turnms() { awk -v u="$1" 'BEGIN { printf "%.2f", u / 1000 }'; }

declare -A cpu rss
for k in "${keys[@]}"; do
    cpu[$k]=$(median "$k" 1)
    rss[$k]=$(median "$k" 2)
done
r2=$(ratio "${cpu[z2]}" "${cpu[i2]}")
r3=$(ratio "${cpu[z3]}" "${cpu[i3]}")
pr2=$(ratio "${cpu[p2]}" "${cpu[i2]}")
pr3=$(ratio "${cpu[p3]}" "${cpu[i3]}")
f2r=$(ratio "${cpu[z2]}" "${cpu[f2]}")
f3r=$(ratio "${cpu[z3]}" "${cpu[f3]}")
pf2r=$(ratio "${cpu[p2]}" "${cpu[f2]}")
pf3r=$(ratio "${cpu[p3]}" "${cpu[f3]}")
tz=$(perturn z2s z2l)
tp=$(perturn p2s p2l)
tf=$(perturn fs fl)
rt=$(ratio "$tz" "$tf")
prt=$(ratio "$tp" "$tf")

row() { printf '%-52s %9s %9s %9s\n' "$@" | sed 's/ *$//'; }
echo
echo "zorvat bench: $((2 * pairs)) veth links + lo in a private namespace"
echo "host: $(uname -r), $(nproc) CPUs; load average $load_start at the start, $load_end at the end"
echo "median of $reps rounds; a round runs every program once, in reverse order every other round"
echo "CPU = user + sys of the process and its children; RSS = peak resident set"
echo "columns: default  zorvat2, zorvat3 in $bindir"
echo "         procfs   zorvat2, zorvat3 built with -DZORVAT_PROCFS_ONLY=ON, in $procfs_bindir"
[[ -z $procfs_note ]] || echo "                  ($procfs_note)"
echo "         other    the program after \"|\": ifstat ($ifstat_bin), or floor (bench/floor.cpp, static)"
echo
row "figure" "default" "procfs" "other"
row "zorvat2 | ifstat -a -n                \"${turns[*]}\"  CPU ms" "$(ms "${cpu[z2]}")" "$(ms "${cpu[p2]}")" "$(ms "${cpu[i2]}")"
row "  CPU ratio to ifstat" "$r2" "$pr2" ""
row "zorvat3 | ifstat -n -i, $listmax names     \"${turns[*]}\"  CPU ms" "$(ms "${cpu[z3]}")" "$(ms "${cpu[p3]}")" "$(ms "${cpu[i3]}")"
row "  CPU ratio to ifstat" "$r3" "$pr3" ""
row "zorvat2 | floor, every link           \"${turns[*]}\"  CPU ms" "$(ms "${cpu[z2]}")" "$(ms "${cpu[p2]}")" "$(ms "${cpu[f2]}")"
row "  CPU ratio to floor, start included" "$f2r" "$pf2r" ""
row "zorvat3 | floor -i, $listmax names         \"${turns[*]}\"  CPU ms" "$(ms "${cpu[z3]}")" "$(ms "${cpu[p3]}")" "$(ms "${cpu[f3]}")"
row "  CPU ratio to floor -i, start included" "$f3r" "$pf3r" ""
row "zorvat2 | floor                       \"${short[*]}\"  CPU ms" "$(ms "${cpu[z2s]}")" "$(ms "${cpu[p2s]}")" "$(ms "${cpu[fs]}")"
row "zorvat2 | floor                      \"${long[*]}\"  CPU ms" "$(ms "${cpu[z2l]}")" "$(ms "${cpu[p2l]}")" "$(ms "${cpu[fl]}")"
row "  per turn, (\"${long[*]}\" - \"${short[*]}\") / 10, CPU ms" "$(turnms "$tz")" "$(turnms "$tp")" "$(turnms "$tf")"
row "  per turn, CPU ratio to floor" "$rt" "$prt" ""
row "zorvat2 | ifstat -a -n                \"${turns[*]}\"  RSS KiB" "${rss[z2]}" "${rss[p2]}" "${rss[i2]}"
row "zorvat3 | ifstat -n -i, $listmax names     \"${turns[*]}\"  RSS KiB" "${rss[z3]}" "${rss[p3]}" "${rss[i3]}"
row "zorvat2 | floor                      \"${long[*]}\"  RSS KiB" "${rss[z2l]}" "${rss[p2l]}" "${rss[fl]}"
echo
echo "goals (default build; the procfs column above has none)"
goal() { printf '  %-46s %-14s %s\n' "$1" "$2" "$(verdict "$2" "$3")"; }
goal "zorvat2 CPU / ifstat -a -n <= $ratio_goal" "$r2" "$ratio_goal"
goal "zorvat3 CPU / ifstat -n -i <= $ratio_goal" "$r3" "$ratio_goal"
goal "zorvat2 CPU of a run / floor <= $run_goal" "$f2r" "$run_goal"
goal "zorvat3 CPU of a run / floor -i <= $run_goal" "$f3r" "$run_goal"
goal "zorvat2 CPU per turn / floor <= $floor_goal" "$rt" "$floor_goal"
goal "zorvat2 peak RSS <= $rss_goal_kib KiB (4 MiB)" "${rss[z2]}" "$rss_goal_kib"
goal "zorvat3 peak RSS <= $rss_goal_kib KiB (4 MiB)" "${rss[z3]}" "$rss_goal_kib"
echo
echo "run time: $SECONDS s"
exit 0
