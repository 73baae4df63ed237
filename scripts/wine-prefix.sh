#!/bin/bash
# Creates the build tree's Wine prefix once (64-bit, Windows 10) and reuses it.
set -euo pipefail
source "$(dirname "$0")/env.sh"
run() { "$KORVEX_ROOT/scripts/wine-run" "$@"; }
if [ -f "$KORVEX_WINEPREFIX/.korvex-ready" ]; then exit 0; fi
mkdir -p "$KORVEX_WINEPREFIX"
if [ "$(id -u)" -eq 0 ]; then chown "$KORVEX_TEST_USER": "$KORVEX_WINEPREFIX"; fi
export WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
run wineboot -i >/dev/null 2>&1 || true
run winecfg /v win10 >/dev/null 2>&1
run reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentVersion 2>/dev/null | grep -q '10\.0'
"$KORVEX_ROOT/scripts/wine-stop.sh"
touch "$KORVEX_WINEPREFIX/.korvex-ready"
echo "wine-prefix: created $KORVEX_WINEPREFIX (win64, Windows 10)"
