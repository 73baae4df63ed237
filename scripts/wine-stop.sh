#!/bin/bash
# Ends the prefix's Wine server and everything it runs (services included): a
# server left behind keeps the caller's output pipe open.
source "$(dirname "$0")/env.sh"
if [ ! -d "$KORVEX_WINEPREFIX" ]; then exit 0; fi
as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid="$KORVEX_TEST_USER" --regid="$KORVEX_TEST_USER" --init-groups \
      env HOME="$(getent passwd "$KORVEX_TEST_USER" | cut -d: -f6)" WINEPREFIX="$KORVEX_WINEPREFIX" "$@"
  else
    WINEPREFIX="$KORVEX_WINEPREFIX" "$@"
  fi
}
as_user wineserver -k >/dev/null 2>&1 || true
as_user timeout 30 wineserver -w >/dev/null 2>&1 || true
