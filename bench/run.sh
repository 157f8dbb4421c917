#!/usr/bin/env bash
# What the monitors cost in private network namespaces, against ifstat and
# against the floor program (bench/floor.cpp); see bench/README.md.  As root:
#
#   bench/run.sh [BUILD [PROCFS_BUILD [STATIC_BUILD]]]
#
# Environment: PARTS (default "1001 10001 churn"), REPS (default 5),
# CHURN_RATE (default 3300).  Exit status 0 when it measured, goals met or
# not; 2 when it could not run; 3 when a run failed.
set -euo pipefail

# The cases, each run once a round: part, namespace (named by its links:
# N - 1 veth links and lo), key, build (-: a program on the PATH), command
# and, after |, label.  <256> is the namespace's first 256 link names as
# one argument, <256,> the same with commas; strace before the program
# counts its calls instead of timing it.  A run of 11 turns has the CPU
# time of a turn measured within it.
cases='
1001  1001  z2    default zorvat2 1 5             | zorvat2 1 5
1001  1001  p2    procfs  zorvat2 1 5             | zorvat2 1 5 (procfs)
1001  1001  s2    static  zorvat2 1 5             | zorvat2 1 5 (static)
1001  1001  i2    -       ifstat -a -n 1 5        | ifstat -a -n 1 5
1001  1001  a2    default floor -a 1 5            | floor -a 1 5 (dynamic)
1001  1001  sa2   static  floor -a 1 5            | floor -a 1 5 (static)
1001  1001  z3    default zorvat3 <256> 1 5       | zorvat3 <256> 1 5
1001  1001  p3    procfs  zorvat3 <256> 1 5       | zorvat3 <256> 1 5 (procfs)
1001  1001  s3    static  zorvat3 <256> 1 5       | zorvat3 <256> 1 5 (static)
1001  1001  i3    -       ifstat -n -i <256,> 1 5 | ifstat -n -i <256> 1 5
1001  1001  f3    default floor -i <256> 1 5      | floor -i <256> 1 5 (dynamic)
1001  1001  sf3   static  floor -i <256> 1 5      | floor -i <256> 1 5 (static)
1001  1001  z2t   default zorvat2 1 11            | zorvat2 1 11
1001  1001  p2t   procfs  zorvat2 1 11            | zorvat2 1 11 (procfs)
1001  1001  ft    default floor 1 11              | floor 1 11 (dynamic)
10001 10001 3lo   default zorvat3 lo 1 11         | zorvat3 lo 1 11
10001 11    3lo11 default zorvat3 lo 1 11         | zorvat3 lo 1 11 (11 links)
10001 10001 3n    default zorvat3 <256> 1 11      | zorvat3 <256> 1 11
10001 10001 tn    default floor -i <256> -t 1 11  | floor -i <256> -t 1 11 (dynamic)
10001 10001 3lo5  default zorvat3 lo 1 5          | zorvat3 lo 1 5
10001 10001 tlo5  default floor -i lo -t 1 5      | floor -i lo -t 1 5 (dynamic)
10001 10001 2     default zorvat2 1 11            | zorvat2 1 11
10001 10001 f     default floor 1 11              | floor 1 11 (dynamic)
churn 10001 c2    default zorvat2 1 11            | zorvat2 1 11
churn 10001 cf    default floor 1 11              | floor 1 11 (dynamic)
churn 10001 x3    default strace zorvat3 va 1 5   | zorvat3 va 1 5
churn 10001 x2    default strace zorvat2 1 5      | zorvat2 1 5
'

# The goals: part, figure, what it stands against (-: the figure itself
# is compared) and limit (-: none, the figure is shown).  A figure is
# KIND:KEY, the median of a case's runs: cpu the CPU time of the run, turn
# that of a turn, rss the peak resident set, ioctl and recv the ioctl and
# receive calls a turn.
goals='
1001  cpu:z2    cpu:i2    0.8
1001  cpu:z3    cpu:i3    0.8
1001  cpu:z2    cpu:a2    1.10
1001  cpu:z3    cpu:f3    1.10
1001  cpu:s2    cpu:sa2   1.10
1001  cpu:s3    cpu:sf3   1.10
1001  turn:z2t  turn:ft   1.25
1001  rss:z2    -         4096
1001  rss:z3    -         4096
1001  cpu:p2    cpu:i2    -
1001  cpu:p3    cpu:i3    -
1001  cpu:p2    cpu:a2    -
1001  cpu:p3    cpu:f3    -
1001  turn:p2t  turn:ft   -
10001 turn:3lo  turn:3lo11 1.5
10001 turn:3n   turn:tn   1.25
10001 cpu:3lo5  cpu:tlo5  1.25
10001 turn:2    turn:f    1.25
10001 rss:2     rss:f     1.5
churn turn:c2   turn:cf   1.5
churn ioctl:x3  -         4
churn ioctl:x2  -         4
churn recv:x3   -         -
churn recv:x2   -         -
'

die() {
    echo "run.sh: $*" >&2
    exit 2
}

repo=$(cd "$(dirname "$0")/.." && pwd)
declare -A build=([default]=${1:-$repo/build} [procfs]=${2:-$repo/build-procfs} [static]=${3:-$repo/build-staticlink})
declare -A option=([procfs]=ZORVAT_PROCFS_ONLY [static]=ZORVAT_STATIC) missing=()
reps=${REPS:-5} parts=" ${PARTS:-1001 10001 churn} " rate=${CHURN_RATE:-3300}
[[ $(id -u) -eq 0 ]] || die "must run as root (it makes network namespaces)"
[[ $reps =~ ^[1-9][0-9]*$ && $rate =~ ^[1-9][0-9]*$ ]] || die "REPS and CHURN_RATE must be positive numbers"
[[ $parts =~ ^\ +((1001|10001|churn)\ +)+$ ]] || die "PARTS: the parts are 1001, 10001 and churn"
command -v ip >/dev/null || die "no ip (iproute2: scripts/setup.sh bench)"
[[ -r /proc/self/schedstat ]] || die "no /proc/PID/schedstat, which the CPU time of a turn is read from"
# Each build's cache says which it is: the option of its kind on, the others
# off (a sanitizer's build is no measure).
for b in default procfs static; do
    if [[ ! -f ${build[$b]}/CMakeCache.txt ]]; then
        missing[$b]="no $b build in ${build[$b]}"
        continue
    fi
    build[$b]=$(cd "${build[$b]}" && pwd)
    for o in ZORVAT_PROCFS_ONLY ZORVAT_STATIC ZORVAT_SANITIZE; do
        on=OFF
        [[ $o != "${option[$b]:-}" ]] || on=ON
        grep -q "^$o:BOOL=$on\$" "${build[$b]}/CMakeCache.txt" || die "${build[$b]} is no $b build: $o is not $on"
    done
done
[[ -z ${missing[default]:-} ]] || die "${missing[default]}"
rusage=${build[default]}/bin/rusage
[[ -x $rusage ]] || die "no $rusage (cmake --build ${build[default]})"

# The cases of the parts asked for, their programs, and why any is skipped.
declare -A part ns prog args label strace why
keys=()
while IFS='|' read -r c l; do
    read -r p n k b c <<<"$c"
    [[ -n $p && $parts == *" $p "* ]] || continue
    keys+=("$k")
    part[$k]=$p ns[$k]=$n label[$k]=${l# } strace[$k]=""
    [[ $c != strace* ]] || strace[$k]=$(command -v strace) || why[$k]="no strace (scripts/setup.sh bench)"
    c=${c#strace }
    p=${c%% *} args[$k]=${c#* }
    if [[ $b == - ]]; then
        prog[$k]=$(command -v "$p") || why[$k]="no $p (scripts/setup.sh bench)"
    else
        prog[$k]=${build[$b]}/bin/$p
        [[ -x ${prog[$k]} ]] || why[$k]=${missing[$b]:-no ${prog[$k]}}
    fi
done <<<"$cases"

work=$(mktemp -d /tmp/zorvat-bench.XXXXXX)
declare -A nsname
churn_pid=""
# On exit: the background jobs (the churn, a count of announcements) ended,
# the namespaces deleted.
cleanup() {
    local jobs
    jobs=$(jobs -p)
    # shellcheck disable=SC2086 # a job a word
    [[ -z $jobs ]] || kill $jobs 2>/dev/null || true
    wait
    for n in "${nsname[@]}"; do
        ip netns del "$n" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# names N SEP: the first 256 link names of namespace N, separated by SEP.
names() {
    local w=$((($1 - 1) / 2 - 1)) s="" i
    for ((i = 0; i < 128; i++)); do
        printf -v s '%s%sza%0*d%szb%0*d' "$s" "${s:+$2}" "${#w}" "$i" "$2" "${#w}" "$i"
    done
    echo "$s"
}

# argv_of KEY: the case's program and arguments into argv, names filled in.
argv_of() {
    local a words
    argv=("${prog[$1]}")
    read -ra words <<<"${args[$1]}"
    for a in "${words[@]}"; do
        case $a in
        '<256>') a=$(names "${ns[$1]}" ' ') ;;
        '<256,>') a=$(names "${ns[$1]}" ,) ;;
        esac
        argv+=("$a")
    done
}

# makens N: namespace N, made once: (N - 1) / 2 veth pairs zaI/zbI and lo,
# all up.  No IPv6 in it, so that no link sends anything (router
# solicitations, listener reports) and the reports of two runs are the
# same byte for byte.
makens() {
    [[ -z ${nsname[$1]:-} ]] || return 0
    local name=zvbench-$$-$1 pairs=$((($1 - 1) / 2)) w=$((($1 - 1) / 2 - 1)) i
    local v6=/proc/sys/net/ipv6/conf off=disable_ipv6
    echo "Making namespace $name: $(($1 - 1)) veth links and lo..." >&2
    nsname[$1]=$name
    ip netns add "$name" || die "could not make network namespace $name"
    ip netns exec "$name" sh -c "[ ! -e $v6 ] || { echo 1 >$v6/all/$off && echo 1 >$v6/default/$off; }" ||
        die "could not turn IPv6 off in namespace $name"
    {
        echo "link set lo up"
        for ((i = 0; i < pairs; i++)); do
            printf 'link add za%0*d type veth peer name zb%0*d\n' "${#w}" "$i" "${#w}" "$i"
        done
        for ((i = 0; i < pairs; i++)); do
            printf 'link set za%0*d up\nlink set zb%0*d up\n' "${#w}" "$i" "${#w}" "$i"
        done
    } | ip -n "$name" -batch - || die "could not make the links of namespace $name"
}

# checks PART: one run of one turn of each program of the part's cases in
# its namespace.  Each must show the za/zb links it watches (256 for <256>,
# none for another list, else all), and the reports of the same links,
# ifstat's aside, must be the same byte for byte: the floor stands for the
# monitors' report.
checks() {
    local k n=0 out want got watch
    local -A ran=() first=()
    echo "Checking the links the programs show and that their reports are the floor's..." >&2
    for k in "${keys[@]}"; do
        [[ ${part[$k]} == "$1" && -z ${why[$k]:-} ]] || continue
        argv_of "$k"
        argv=("${argv[@]:0:${#argv[@]}-2}" 1 1)
        [[ -z ${ran[${ns[$k]} ${argv[*]}]:-} ]] || continue
        ran[${ns[$k]} ${argv[*]}]=1
        out=$work/check.$((++n))
        ip netns exec "${nsname[${ns[$k]}]}" "${argv[@]}" >"$out" 2>&1 ||
            die "${label[$k]} failed in namespace ${ns[$k]}: $(head -c 500 "$out")"
        watch=all
        [[ ${argv[0]} != */zorvat3 ]] || watch=${argv[1]}
        [[ ${argv[1]} != -i ]] || watch=${argv[2]}
        want=$((${ns[$k]} - 1))
        [[ $watch == all ]] || want=0
        [[ ${args[$k]} != *'<256'* ]] || want=256
        got=$(grep -oE 'z[ab][0-9]+' "$out" | sort -u | wc -l || true)
        [[ $got -eq $want ]] || die "${label[$k]} showed $got of the $want links it watches in namespace ${ns[$k]}"
        [[ ${argv[0]} != */ifstat ]] || continue
        watch="${ns[$k]} $watch"
        first[$watch]=${first[$watch]:-$out}
        if ! cmp -s "${first[$watch]}" "$out"; then
            diff "${first[$watch]}" "$out" | head -n 10 >&2 || true
            die "${label[$k]} did not print the report that the others of the same links print"
        fi
    done
}

# churnstart N: in namespace N, in the background until churnstop, again
# and again, one batch that makes 100 veth pairs yaI/ybI in link group 77
# and the deletion of that group, paced to about CHURN_RATE link
# announcements a second (those of one batch and its deletion are counted
# first).
churnstart() {
    local name=${nsname[$1]} i each period
    for ((i = 0; i < 100; i++)); do
        printf 'link add ya%02d group 77 type veth peer name yb%02d group 77\n' "$i" "$i"
    done >"$work/churn.batch"
    ip netns exec "$name" ip -o monitor link >"$work/churn.count" 2>/dev/null &
    i=$!
    sleep 0.3
    if ! ip -n "$name" -force -batch "$work/churn.batch" >/dev/null || ! ip -n "$name" link del group 77; then
        die "could not make and delete links in namespace $name"
    fi
    sleep 0.3
    kill "$i"
    wait "$i" || true
    each=$(wc -l <"$work/churn.count")
    period=$((each * 1000000 / rate)) # microseconds a batch and its deletion take, with their pause
    echo "Starting the churn: 100 veth pairs made and deleted again and again..." >&2
    (
        while kill -0 $$ 2>/dev/null; do
            t0=${EPOCHREALTIME/./}
            ip -n "$name" -force -batch "$work/churn.batch" || true
            ip -n "$name" link del group 77 || exit 1
            left=$((period - (${EPOCHREALTIME/./} - t0)))
            ((left <= 0)) || sleep "$((left / 1000000)).$(printf '%06d' $((left % 1000000)))"
        done
    ) >"$work/churn.log" 2>&1 &
    churn_pid=$!
    sleep 1
    rate0=$(announcements "$name")
}
churnstop() {
    rate1=$(announcements "${nsname[$1]}")
    kill "$churn_pid" 2>/dev/null || true
    wait "$churn_pid" || true
    churn_pid=""
}
# announcements NAME: link announcements a second in namespace NAME, over 2 s.
announcements() {
    echo $(($(ip netns exec "$1" timeout 2 ip -o monitor link 2>/dev/null | wc -l) / 2))
}

# measure KEY: one run of the case, output to /dev/null, its figures added
# to $work/KEY: "cpu_us rss_kib turn_us" (bin/rusage), or under strace
# "ioctl most recv ioctl0 recv0": the ioctl calls of a turn (the mean of
# the turns after the first) and of the turn that made most, the receive
# calls of a turn, and both of the start with the first turn.  A turn is
# what follows a report's write, up to the next one's.
measure() {
    local k=$1
    if [[ -n $churn_pid ]] && ! kill -0 "$churn_pid" 2>/dev/null; then
        die "the links stopped coming and going: $(tail -n 3 "$work/churn.log")"
    fi
    argv_of "$k"
    set -- ip netns exec "${nsname[${ns[$k]}]}"
    if [[ -z ${strace[$k]} ]]; then
        "$@" "$rusage" -t "${argv[-1]}" "${argv[@]}" >>"$work/$k" 2>"$work/err" || failed "$k"
        return
    fi
    "$@" "${strace[$k]}" -f -o "$work/trace" -e trace=ioctl,recvfrom,recvmsg,recvmmsg,write -e raw=all \
        "${argv[@]}" >/dev/null 2>"$work/err" || failed "$k"
    awk '/(^| )ioctl\(/ { io++ }
        /(^| )recv(from|msg|mmsg)\(/ { rc++ }
        /(^| )write\((0x)?1,/ {
            if (++w == 1) { io0 = io; rc0 = rc } else { sio += io; src += rc; if (io > most) most = io }
            io = 0; rc = 0
        }
        END {
            if (w < 2) exit 1
            printf "%d %d %d %d %d\n", sio / (w - 1) + 0.5, most, src / (w - 1) + 0.5, io0, rc0
        }' "$work/trace" >>"$work/$k" || die "no reports in the trace of ${label[$k]}"
}
failed() {
    echo "run.sh: this run failed: ${label[$1]} in namespace ${ns[$1]}" >&2
    head -c 2000 "$work/err" >&2
    exit 3
}

# median KEY FIELD: the median of a field of the case's runs.
median() {
    cut -d' ' -f"$2" "$work/$1" | sort -n |
        awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2)) }'
}
declare -A field=([cpu]=1 [rss]=2 [turn]=3 [ioctl]=1 [recv]=3)
declare -A unit=([cpu]="CPU ms" [turn]="CPU ms a turn" [rss]="peak RSS KiB" [ioctl]="ioctl calls a turn"
    [recv]="receive calls a turn")
# shown KIND VALUE: a figure as the report shows it; - for none.
shown() {
    awk -v k="$1" -v v="$2" 'BEGIN { d = k == "cpu" ? 1 : k == "turn" ? 3 : -1
        print ((v == "-" || v < 0) ? "-" : d < 0 ? v : sprintf("%.*f", d, v / 1000)) }'
}
row() {
    printf '  %-70s' "$1"
    shift
    printf ' %9s' "$@"
    echo
}
met=0 missed=0 skips=0

# report PART: its runs and its goals.
report() {
    local k n p f a lim l v c
    echo
    echo "== part $1: $reps rounds, $((SECONDS - start)) s"
    for n in $(for k in "${keys[@]}"; do [[ ${part[$k]} != "$1" ]] || echo "${ns[$k]}"; done | sort -rnu); do
        echo "   namespace $n: $((n - 1)) veth links$([[ $1 != churn ]] || echo ", va, vb") and lo"
    done
    [[ $1 != churn ]] || echo "   200 links made and deleted again and again: link announcements a second," \
        "about $rate0 at the start, $rate1 at the end"
    row "run (median)" "CPU ms" "RSS KiB" "turn ms"
    for k in "${keys[@]}"; do
        if [[ ${part[$k]} != "$1" ]]; then
            continue
        elif [[ -n ${why[$k]:-} ]]; then
            printf '  %-70s  skipped: %s\n' "${label[$k]}" "${why[$k]}"
        elif [[ -n ${strace[$k]} ]]; then
            echo "  ${label[$k]} under strace, ioctl calls: $(median "$k" 1) a turn, $(median "$k" 2) at most," \
                "$(median "$k" 4) at the start and first turn"
            echo "  ${label[$k]} under strace, receive calls: $(median "$k" 3) a turn," \
                "$(median "$k" 5) at the start and first turn"
        else
            row "${label[$k]}" "$(shown cpu "$(median "$k" 1)")" "$(median "$k" 2)" "$(shown turn "$(median "$k" 3)")"
        fi
    done
    row goal zorvat against figure limit met
    while read -r p f a lim; do
        [[ $p == "$1" ]] || continue
        l="${label[${f#*:}]}$([[ $a == - ]] || echo " / ${label[${a#*:}]}"), ${unit[${f%%:*}]}"
        k=${why[${f#*:}]:-${why[${a#*:}]:-}}
        if [[ -n $k ]]; then
            printf '  %-70s  skipped: %s\n' "$l" "$k"
            [[ $lim == - ]] || skips=$((skips + 1))
            continue
        fi
        v=$(median "${f#*:}" "${field[${f%%:*}]}")
        [[ $a == - ]] || a=$(median "${a#*:}" "${field[${a%%:*}]}")
        # The figure compared, the ratio or the figure itself (n/a where noise
        # made a ratio meaningless), and the verdict.
        c=$(awk -v v="$v" -v a="$a" -v l="$lim" 'BEGIN {
            c = a == "-" ? v : (a > 0 && v >= 0) ? sprintf("%.3f", v / a) : "n/a"
            print c, (l == "-" ? "-" : (c != "n/a" && c + 0 <= l + 0) ? "PASS" : "MISS") }')
        [[ $c != *PASS ]] || met=$((met + 1))
        [[ $c != *MISS ]] || missed=$((missed + 1))
        row "$l" "$(shown "${f%%:*}" "$v")" "$(shown "${f%%:*}" "$a")" "${c% *}" "$lim" "${c#* }"
    done <<<"$goals"
}

echo "zorvat bench: parts ${parts:1:-1}; median of $reps rounds"
echo "host: $(uname -r), $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo "CPU = user + sys of the process and its children; RSS = peak resident set"
for b in default procfs static; do
    echo "$b build: ${missing[$b]:-${build[$b]}}"
done
for k in "${!why[@]}"; do echo "run.sh: skipped, ${why[$k]}: ${label[$k]}"; done | sort >&2

echo "<256>: a namespace's first 256 link names, za000 zb000 ... za127 zb127 over 1001 links"
for p in 1001 10001 churn; do
    [[ $parts == *" $p "* ]] || continue
    start=$SECONDS run=()
    for k in "${keys[@]}"; do
        [[ ${part[$k]} == "$p" ]] || continue
        makens "${ns[$k]}"
        [[ -n ${why[$k]:-} ]] || run+=("$k")
    done
    if [[ $p == churn ]]; then
        printf 'link add va type veth peer name vb\nlink set va up\nlink set vb up\n' |
            ip -n "${nsname[10001]}" -batch - || die "could not make the links va and vb"
    fi
    checks "$p"
    [[ $p != churn ]] || churnstart 10001
    # Every other round in reverse order, so that no run always comes right
    # after the same one.
    echo "Measuring part $p: $reps rounds of ${#run[@]} runs..." >&2
    for ((r = 1; r <= reps; r++)); do
        for ((i = 0; i < ${#run[@]}; i++)); do
            measure "${run[r % 2 ? i : ${#run[@]} - 1 - i]}"
        done
        echo "  round $r of $reps done" >&2
    done
    [[ $p != churn ]] || churnstop 10001
    report "$p"
done

echo
echo "goals met: $met of $((met + missed))$( ((skips == 0)) || echo ", $skips skipped")"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; run time: $SECONDS s"
