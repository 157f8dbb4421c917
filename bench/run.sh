#!/usr/bin/env bash
# Cost of the monitors against ifstat, over 1000 links in a private
# network namespace.  Run by hand as root:  bench/run.sh [BINDIR]
# (BINDIR holds zorvat2 and zorvat3; default build/bin of the repository).
# Environment: REPS (runs of each program, median kept; default 3).
#
# Exit status: 0 when it measured (goals met or not), non-zero when it
# could not run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
bindir=${1:-$repo/build/bin}
reps=${REPS:-3}
pairs=500          # veth pairs: 2 * pairs links
listmax=256        # names zorvat3's table holds
turns=(1 5)        # interval and times, the same for every program
ratio_goal=0.35    # CPU time of zorvat / CPU time of ifstat, at most
rss_goal_kib=8192  # peak RSS of each zorvat program, at most

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
command -v ip >/dev/null || die "the ip command (iproute2) is missing"
if ! command -v ifstat >/dev/null; then
    echo "ifstat is missing: installing the ifstat package" >&2
    apt-get install -y ifstat >/dev/null || die "could not install ifstat"
fi
ifstat_bin=$(command -v ifstat)

work=$(mktemp -d /tmp/zorvat-bench.XXXXXX)
ns=zvbench-$$-$RANDOM
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

# --- The namespace ------------------------------------------------------------
echo "Making namespace $ns with $((2 * pairs)) links ($pairs veth pairs)..." >&2
ip netns add "$ns" || die "could not make network namespace $ns"
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
seen $((2 * pairs)) "$ifstat_bin" -a -n
seen "$listmax" "$bindir/zorvat3" "$spaced"
seen "$listmax" "$ifstat_bin" -n -i "$commas"

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

# median KEY FIELD: the median of one field (1 CPU us, 2 RSS KiB) of the
# runs of KEY.
median() {
    cut -d' ' -f"$2" "$work/$1" | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

echo "Measuring, $reps runs of each program, turns: ${turns[*]} ..." >&2
for ((r = 1; r <= reps; r++)); do
    # Each pair's programs run one after the other, in alternating order.
    measure z2 "$bindir/zorvat2" "${turns[@]}"
    measure i2 "$ifstat_bin" -a -n "${turns[@]}"
    measure i3 "$ifstat_bin" -n -i "$commas" "${turns[@]}"
    measure z3 "$bindir/zorvat3" "$spaced" "${turns[@]}"
    echo "  run $r of $reps done" >&2
done

# --- Report -------------------------------------------------------------------
verdict() { # verdict VALUE LIMIT -> PASS or MISS
    awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "PASS" : "MISS" }'
}
ms() { awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "inf" }'; }

declare -A cpu rss
for k in z2 i2 z3 i3; do
    cpu[$k]=$(median "$k" 1)
    rss[$k]=$(median "$k" 2)
done
r2=$(ratio "${cpu[z2]}" "${cpu[i2]}")
r3=$(ratio "${cpu[z3]}" "${cpu[i3]}")

echo
echo "zorvat bench: $((2 * pairs)) veth links + lo in a private namespace; turns \"${turns[*]}\""
echo "host: $(uname -r), $(nproc) CPUs; median of $reps runs"
echo "CPU = user + sys of the process and its children; RSS = peak resident set"
echo
printf '%-34s %9s %9s %9s %11s %11s\n' "pair" "zorvat ms" "ifstat ms" "ratio" "zorvat KiB" "ifstat KiB"
printf '%-34s %9s %9s %9s %11s %11s\n' "zorvat2 vs ifstat -a (all links)" \
    "$(ms "${cpu[z2]}")" "$(ms "${cpu[i2]}")" "$r2" "${rss[z2]}" "${rss[i2]}"
printf '%-34s %9s %9s %9s %11s %11s\n' "zorvat3 vs ifstat -i ($listmax names)" \
    "$(ms "${cpu[z3]}")" "$(ms "${cpu[i3]}")" "$r3" "${rss[z3]}" "${rss[i3]}"
echo
echo "goals"
printf '  %-40s %-14s %s\n' "zorvat2 CPU ratio <= $ratio_goal" "$r2" "$(verdict "$r2" "$ratio_goal")"
printf '  %-40s %-14s %s\n' "zorvat3 CPU ratio <= $ratio_goal" "$r3" "$(verdict "$r3" "$ratio_goal")"
printf '  %-40s %-14s %s\n' "zorvat2 peak RSS <= $rss_goal_kib KiB (8 MiB)" "${rss[z2]} KiB" "$(verdict "${rss[z2]}" "$rss_goal_kib")"
printf '  %-40s %-14s %s\n' "zorvat3 peak RSS <= $rss_goal_kib KiB (8 MiB)" "${rss[z3]} KiB" "$(verdict "${rss[z3]}" "$rss_goal_kib")"
exit 0
