#!/bin/sh
# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST, see CMakeLists.txt):
# says how many tests were skipped and why, in the tests' own words, from
# the output that ctest keeps of the run in Testing/Temporary.  ctest lists
# the skipped tests by name just above it.
#
# Usage: skipped.sh BUILD_DIR.  Prints nothing when no test was skipped;
# exit status always 0, so that it never changes the outcome of the run.

# The log of the run that is ending: ctest writes LastTest.log.tmp and
# renames it LastTest.log only after this script.
log=$1/Testing/Temporary/LastTest.log.tmp
[ -f "$log" ] || exit 0
reasons=$(awk '
    # A GoogleTest skip: "FILE:LINE: Skipped", then the reason.
    inout && want && $0 != "" {
        why[/^\[  SKIPPED \]/ ? "(no reason given)" : $0]++
        want = 0
        next
    }
    inout && / Skipped$/ { want = 1; next }
    # A test script that skips: "SKIP: reason", then exit status 77.
    inout && /^SKIP: / { why[substr($0, 7)]++; next }
    /^Output:$/ { inout = 1; want = 0; next }
    /^<end of output>$/ { inout = 0; next }
    END { for (w in why) printf "%6d  %s\n", why[w], w }' "$log" | LC_ALL=C sort -k2)
[ -n "$reasons" ] || exit 0
total=$(printf '%s\n' "$reasons" | awk '{ n += $1 } END { print n }')
if [ "$total" -eq 1 ]; then
    echo "1 test was skipped, because:"
else
    echo "$total tests were skipped, because:"
fi
printf '%s\n' "$reasons"
exit 0
