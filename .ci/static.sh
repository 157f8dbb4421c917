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
# The generated test lists and GoogleTest need their build first.
failed=0
for f in "${sources[@]}"; do
  case $f in *.h) continue ;; esac
  if ! out=$(clang-tidy -p $build --quiet "$f" 2>&1); then
    echo "$out" | grep -v 'warnings generated' || true
    failed=1
  fi
done
[ $failed -eq 0 ] || { echo "clang-tidy: findings above"; exit 1; }

echo "== cppcheck"
cppcheck --quiet --enable=warning,performance,portability --std=c++20 --error-exitcode=1 \
  --inline-suppr --suppress=missingIncludeSystem --library=googletest -I . \
  -DZORVAT_REVISION=20 '-DZORVAT_BIN_DIR="bin"' -DZORVAT_PROGRAM_REVISION=17 \
  core discover listmon platform tests fuzz

echo "static checks: clean"
