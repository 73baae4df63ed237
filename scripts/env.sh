# Shared settings of the build and Wine scripts; sourced, not run.
KORVEX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KORVEX_TEST_USER="${KORVEX_TEST_USER:-kvtest}"
export WINEDEBUG="${WINEDEBUG:--all}"
export PATH="/usr/lib/wine:$PATH"

# 32-bit Linux processes (and with them Wine's 32-bit loader) need the kernel's
# IA-32 emulation. Where it is off, the tests run the 64-bit build of the same
# sources under wine64; the shipped 32-bit build is still built and checked.
korvex_can_run_i386() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
if [ -z "${KORVEX_TEST_ARCH:-}" ]; then
  if korvex_can_run_i386; then KORVEX_TEST_ARCH=i686; else KORVEX_TEST_ARCH=x86_64; fi
fi
if [ "$KORVEX_TEST_ARCH" = i686 ]; then KORVEX_WINE=/usr/lib/wine/wine; else KORVEX_WINE=/usr/lib/wine/wine64; fi

# Build trees live inside the checkout unless the test user cannot reach it.
KORVEX_BUILD_BASE="${KORVEX_BUILD_BASE:-$KORVEX_ROOT/build}"
KORVEX_SHIP_BUILD="$KORVEX_BUILD_BASE/i686"
KORVEX_TEST_BUILD="$KORVEX_BUILD_BASE/$KORVEX_TEST_ARCH"
export KORVEX_WINEPREFIX="${KORVEX_WINEPREFIX:-$KORVEX_BUILD_BASE/wineprefix}"
export KORVEX_WINE KORVEX_TEST_USER KORVEX_TEST_ARCH
