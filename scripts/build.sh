#!/bin/bash
# Configures and builds the shipped 32-bit programs and, where this machine
# can only run 64-bit Windows code, the 64-bit test build of the same sources.
set -euo pipefail
source "$(dirname "$0")/env.sh"
JOBS="${JOBS:-$(nproc)}"

configure() { # arch build-dir tests(ON/OFF)
  local arch=$1 dir=$2 tests=$3
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$KORVEX_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$KORVEX_ROOT/cmake/toolchain-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DKORVEX_BUILD_TESTS="$tests" \
      -DKORVEX_SHIPPED_BIN_DIR="$KORVEX_SHIP_BUILD/bin" >/dev/null
  fi
}

if [ "$KORVEX_TEST_ARCH" = i686 ]; then
  configure i686 "$KORVEX_SHIP_BUILD" ON
  cmake --build "$KORVEX_SHIP_BUILD" -j"$JOBS"
else
  configure i686 "$KORVEX_SHIP_BUILD" OFF
  cmake --build "$KORVEX_SHIP_BUILD" -j"$JOBS"
  configure "$KORVEX_TEST_ARCH" "$KORVEX_TEST_BUILD" ON
  cmake --build "$KORVEX_TEST_BUILD" -j"$JOBS"
fi
