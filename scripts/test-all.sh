#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. plain build (g++): the whole suite, benchmarks compiled
#   2. clang with ASan+UBSan and -Wthread-safety -Werror: the whole suite, fuzz targets smoke-run
#   3. clang with TSan: the concurrency tests
#   4. Windows DLL (mingw-w64) and the whole suite under Wine
#   5. the packages (scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

step() { printf '\n===== %s =====\n' "$*"; }

step "plain build (g++)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --timeout 300

step "whole suite twice, shuffled, from an empty folder (order dependence, files left behind)"
scratch=$(mktemp -d)
(cd "$scratch" && for t in em_tests em_mt_tests; do "$OLDPWD/build/tests/$t" --gtest_repeat=2 --gtest_shuffle --gtest_brief=1; done)
[ -z "$(ls -A "$scratch")" ] || { echo "tests left files behind:"; ls -A "$scratch"; exit 1; }
rm -rf "$scratch"

step "ASan+UBSan build (clang, thread-safety analysis)"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DEM_SANITIZE=address \
  -DEM_THREAD_SAFETY=ON -DEM_BUILD_FUZZ=ON -DEM_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j"$jobs" --timeout 600
for f in build-asan/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzz smoke: $name"
  "$f" -max_total_time=20 -print_final_stats=0 "$work" >/dev/null 2>"$work.log" || { cat "$work.log"; exit 1; }
  rm -rf "$work" "$work.log"
done

step "TSan build (clang): concurrency tests"
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEM_SANITIZE=thread \
  -DEM_ONLY_MT_TESTS=ON -DEM_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build-tsan -j"$jobs" --timeout 600

step "Windows build (mingw-w64): the whole suite under Wine"
bash scripts/test-windows.sh

step "packages: Debian package (lintian), Windows zip when built"
bash scripts/package.sh

step "all test runs passed"
