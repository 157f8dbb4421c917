#!/usr/bin/env bash
# valgrind memcheck of a run of several turns of each monitor:
#   valgrind_test.sh ZORVAT2 ZORVAT ZORVAT3     (paths of the built programs)
# Every run must end with status 0, print all its reports and give no
# memcheck error.  Memory that is never released by design is not an
# error, so leaks are not checked.
# Exit status: 0 passed, 1 failed, 77 skipped (no valgrind, a program that
# runs under an emulator, a sanitizer build, which valgrind can't run, or a
# static build, which it can't check as it checks the others).
set -uo pipefail

if [[ $# -ne 3 ]]; then
    echo "usage: $0 ZORVAT2 ZORVAT ZORVAT3" >&2
    exit 2
fi
if [[ -n ${ZORVAT_EMULATOR:-} ]]; then
    echo "SKIP: the programs run under an emulator ($ZORVAT_EMULATOR)"
    exit 77
fi
if [[ ${ZORVAT_SANITIZE:-OFF} == ON ]]; then
    echo "SKIP: sanitizer build; valgrind can't run sanitized programs"
    exit 77
fi
# memcheck's allocator comes in through the loader, which a static program
# does without: it would check such a program without it, and takes the C
# library's own start-up for errors.  A dynamic build checks the same code.
if [[ ${ZORVAT_STATIC:-OFF} == ON ]]; then
    echo "SKIP: static build; memcheck can't replace the allocator of static programs"
    exit 77
fi
if ! command -v valgrind >/dev/null; then
    echo "SKIP: valgrind is not installed"
    exit 77
fi

zorvat2=$1
zorvat=$2
zorvat3=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
# check NAME REPORTS PROGRAM ARGS...: one run under memcheck.
check() {
    local name=$1 reports=$2
    shift 2
    local log=$work/$name.vg out=$work/$name.out err=$work/$name.err
    valgrind --tool=memcheck --error-exitcode=9 --leak-check=no --track-origins=yes \
        --log-file="$log" "$@" >"$out" 2>"$err"
    local rc=$?
    local got
    got=$(grep -c '^$' "$out")
    local summary
    summary=$(grep -m1 'ERROR SUMMARY:' "$log" | sed 's/^==[0-9]*== //')
    if [[ $rc -eq 0 && $got -eq $reports && $summary == "ERROR SUMMARY: 0 errors"* && ! -s $err ]]; then
        echo "ok   $name: $reports reports, $summary"
    else
        echo "FAIL $name: exit status $rc, $got of $reports reports, ${summary:-no summary}"
        sed 's/^/  stderr: /' "$err"
        sed 's/^/  valgrind: /' "$log"
        failed=1
    fi
}

check zorvat2 3 "$zorvat2" 1 3
check zorvat 2 "$zorvat" 1 2
check zorvat3 3 "$zorvat3" "lo,lo x" 1 3
exit $failed
