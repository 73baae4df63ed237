#!/bin/bash
# The whole test run on a fresh machine: install, build, create the Wine
# prefix, start Xvfb, run every test under Wine as the unprivileged user, and
# shut the Wine server down again whatever happens.
set -euo pipefail
source "$(dirname "$0")/reachable.sh"

source "$HERE/scripts/env.sh"
"$KORVEX_ROOT/scripts/build.sh"
"$KORVEX_ROOT/scripts/wine-prefix.sh"

XVFB_PID=""
cleanup() {
  "$KORVEX_ROOT/scripts/wine-stop.sh" || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then break; fi
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  sleep 1
fi
if [ "$KORVEX_TEST_ARCH" != i686 ] && ! korvex_can_run_i386; then
  echo "test: this machine cannot run 32-bit code: the 32-bit tests were built, the 64-bit build of the same sources is what runs"
fi
echo "test: running the $KORVEX_TEST_ARCH build under $(basename "$KORVEX_WINE") as ${KORVEX_TEST_USER}"
cd "$KORVEX_TEST_BUILD"
# Screenshots of the dialog tests are kept here, as PNG beside the BMP.
rm -rf artifacts && mkdir -p artifacts
if [ "$(id -u)" -eq 0 ]; then chown "$KORVEX_TEST_USER": artifacts; fi
rc=0
ctest --output-on-failure --timeout 900 "$@" </dev/null || rc=$?
find artifacts -name '*.bmp' | while read -r f; do convert "$f" "${f%.bmp}.png" 2>/dev/null || true; done
[ -z "$(find artifacts -name '*.png' -print -quit)" ] || echo "test: screenshots in $KORVEX_TEST_BUILD/artifacts"
exit "$rc"
