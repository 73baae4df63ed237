#!/bin/bash
# Builds the native fuzzing targets (tests/fuzz/native: the script-facing
# string functions under libFuzzer, AddressSanitizer and UBSan) and runs each
# for a bounded time, starting from the corpus kept in tests/fuzz/corpus/.
# Prints executions and crashes per target and in total; fails on any crash,
# sanitizer report, failed property or time-out.
#
# Usage: tests/fuzz/run-native.sh <build dir> [seconds per target]
# KORVEX_FUZZ_SECONDS sets the time per target (default 5).
# KORVEX_FUZZ_MERGE=1 adds the new inputs of the run to the kept corpus
# (minimised), for a developer who wants to grow it.
set -uo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
BUILD="${1:?usage: run-native.sh <build dir> [seconds per target]}"
PER_TARGET="${2:-${KORVEX_FUZZ_SECONDS:-5}}"

for tool in clang++ cmake; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "fuzz: $tool is missing (scripts/bootstrap.sh installs it)"
    exit 1
  fi
done
mkdir -p "$BUILD"
if ! cmake -S "$HERE/native" -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= >"$BUILD/configure.log" 2>&1; then
  cat "$BUILD/configure.log"
  exit 1
fi
if ! cmake --build "$BUILD" -j2 >"$BUILD/build.log" 2>&1; then
  cat "$BUILD/build.log"
  exit 1
fi

total_runs=0
total_crashes=0
failed=()
for exe in "$BUILD"/*_fuzz; do
  name="$(basename "$exe" _fuzz)"
  corpus="$HERE/corpus/$name"
  mkdir -p "$corpus"
  work="$(mktemp -d)"
  artifacts="$BUILD/artifacts/$name"
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  log="$BUILD/$name.log"
  # New inputs go to the scratch folder (the first one); the kept corpus is
  # only read.
  "$exe" -max_total_time="$PER_TARGET" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "$corpus" >"$log" 2>&1
  rc=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  runs="${runs:-0}"
  crashes="$(find "$artifacts" -type f | wc -l)"
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  echo "fuzz $name: $runs executions, $crashes crashes ($(find "$corpus" -type f | wc -l) kept inputs)"
  if [ "$crashes" -ne 0 ]; then
    failed+=("$name")
    grep -E "ERROR|SUMMARY|property failed|runtime error|Test unit written" "$log" | head -20
    echo "fuzz $name: the input is kept in $artifacts; add it to tests/fuzz/corpus/$name/ with a regression test"
  fi
  if [ "${KORVEX_FUZZ_MERGE:-0}" = 1 ] && [ "$crashes" -eq 0 ]; then
    "$exe" -merge=1 "$corpus" "$work" >"$BUILD/$name.merge.log" 2>&1 || true
  fi
  rm -rf "$work"
  total_runs=$((total_runs + runs))
  total_crashes=$((total_crashes + crashes))
done

echo "fuzz: $total_runs executions, $total_crashes crashes"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzz: failed targets: ${failed[*]}"
  exit 1
fi
