#!/bin/bash
# Times ReadItem and ExpandSymbols on a script of 5,000 symbol-rich keys and
# prints the cost per call next to a plain GetPrivateProfileStringA of the
# same run (as a ratio). Usage: bench/ini_expand.sh [passes]
set -euo pipefail
HERE="$(cd "$(dirname "$0")/.." && pwd)"
source "$HERE/scripts/env.sh"
cmake --build "$KORVEX_TEST_BUILD" --target kvbench_ini_expand -j2 >/dev/null
trap '"$KORVEX_ROOT/scripts/wine-stop.sh" || true' EXIT
exe="$(cygpath -w "$KORVEX_TEST_BUILD/fixtures/bench/ini_expand_bench.exe" 2>/dev/null || echo "Z:${KORVEX_TEST_BUILD//\//\\}\\fixtures\\bench\\ini_expand_bench.exe")"
"$KORVEX_ROOT/scripts/wine-run" "$exe" "${1:-2}"
