#!/usr/bin/env bash
# Static checks: the code follows .clang-format, and clang-tidy (.clang-tidy)
# and cppcheck find nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh static

mapfile -t sources < <(git ls-files '*.cpp' '*.h')

echo "== clang-format"
clang-format --dry-run --Werror "${sources[@]}"

echo "== clang-tidy"
build=build-static
cmake -S . -B $build -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DZORVAT_FUZZ=ON >/dev/null
# Two files at a time.  Each file's findings go to a log of its own, and
# the logs of the files that failed are printed whole, in the order of the
# files, once all are done.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
tidy() {
  local build=$1 logs=$2 n=$3 f=$4
  if ! clang-tidy -p "$build" --quiet "$f" >"$logs/$n.log" 2>&1; then
    touch "$logs/$n.failed"
  fi
}
export -f tidy
cpps=()
for f in "${sources[@]}"; do
  case $f in *.cpp) cpps+=("$f") ;; esac
done
for i in "${!cpps[@]}"; do
  printf '%s\0%s\0' "$i" "${cpps[i]}"
done | xargs -0 -n 2 -P 2 bash -c 'tidy "$0" "$1" "$2" "$3"' "$build" "$logs" ||
  { echo "clang-tidy: could not run on every file"; exit 1; }
failed=0
for i in "${!cpps[@]}"; do
  if [[ -f $logs/$i.failed ]]; then
    echo "-- clang-tidy: ${cpps[i]}"
    grep -v 'warnings generated' "$logs/$i.log" || true
    failed=1
  fi
done
[ $failed -eq 0 ] || { echo "clang-tidy: findings above"; exit 1; }

echo "== cppcheck"
cppcheck --quiet --enable=warning,performance,portability --std=c++20 --error-exitcode=1 \
  --inline-suppr --suppress=missingIncludeSystem --library=googletest -I . \
  -DZORVAT_REVISION=20 '-DZORVAT_BIN_DIR="bin"' '-DZORVAT_FIXTURES="fixtures"' -DZORVAT_PROGRAM_REVISION=17 \
  core discover listmon platform tests fuzz

echo "static checks: clean"
