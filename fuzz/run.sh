#!/usr/bin/env bash
# Build the fuzz targets with clang into build-fuzz and run each for a while:
#   fuzz/run.sh [seconds]        (default 20 seconds per target)
# Each target starts from a copy of its seed corpus in the build folder, so
# the repository is not written.  Exit status: 0 when every target ran its
# time without a crash, 1 when one crashed (the input is kept in
# build-fuzz/fuzz-runs/<target>/), 2 when it could not run.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$repo/build-fuzz
seconds=${1:-20}
targets=(fuzz_args2 fuzz_args3 fuzz_iflist fuzz_readers)

[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: seconds must be a positive number" >&2; exit 2; }
cxx=$(command -v clang++ || command -v clang++-14 || true)
[[ -n $cxx ]] || { echo "run.sh: clang++ is missing" >&2; exit 2; }

cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZORVAT_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target fuzzers

failed=0
for t in "${targets[@]}"; do
    work=$build/fuzz-runs/$t
    rm -rf "$work"
    mkdir -p "$work/corpus"
    cp "$here/corpus/$t/"* "$work/corpus/"
    echo "== $t: $seconds s"
    if (cd "$work" && "$build/bin/$t" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$work/" corpus) >"$work/log" 2>&1; then
        grep -E '^(#[0-9]+[[:space:]]+DONE|Done|stat::number_of_executed_units)' "$work/log" || true
    else
        failed=1
        tail -n 40 "$work/log"
        echo "== $t FAILED (log: $work/log)" >&2
    fi
done
exit $failed
