#!/bin/bash
# Configures and builds the shipped 32-bit programs with their test programs
# (they compile on every machine, so a 32-bit-only error is caught even where
# they cannot run) and, where this machine can only run 64-bit Windows code,
# the 64-bit test build of the same sources.
set -euo pipefail
source "$(dirname "$0")/env.sh"
JOBS="${JOBS:-$(nproc)}"

# A build tree is reconfigured from scratch when the options it was made with
# differ: CMake keeps a toolchain and cached options across runs otherwise.
configure() { # arch build-dir
  local arch=$1 dir=$2
  local opts="-DCMAKE_TOOLCHAIN_FILE=$KORVEX_ROOT/cmake/toolchain-$arch.cmake -DCMAKE_BUILD_TYPE=Release
    -DKORVEX_BUILD_TESTS=ON -DKORVEX_SHIPPED_BIN_DIR=$KORVEX_SHIP_BUILD/bin"
  if [ -f "$dir/CMakeCache.txt" ] && [ "$(cat "$dir/.korvex-options" 2>/dev/null)" = "$opts" ]; then
    return
  fi
  rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  mkdir -p "$dir"
  # shellcheck disable=SC2086
  cmake -S "$KORVEX_ROOT" -B "$dir" $opts >/dev/null
  echo "$opts" >"$dir/.korvex-options"
}

configure i686 "$KORVEX_SHIP_BUILD"
cmake --build "$KORVEX_SHIP_BUILD" -j"$JOBS"
if [ "$KORVEX_TEST_ARCH" != i686 ]; then
  configure "$KORVEX_TEST_ARCH" "$KORVEX_TEST_BUILD"
  cmake --build "$KORVEX_TEST_BUILD" -j"$JOBS"
fi
