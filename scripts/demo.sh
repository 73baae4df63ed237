#!/bin/bash
# The main job: set up and build, then install the demo patch silently into a
# demo product inside the Wine machine the way a deployment system does (its
# own log, a JSON result, the conventional exit code), show what it changed,
# delete the package folder as a deployment cache would be purged, remove the
# patch with the quiet command of its uninstall entry and show that the
# product is back. Exits non-zero when any of that did not happen.
set -euo pipefail
source "$(dirname "$0")/reachable.sh"

source "$HERE/scripts/env.sh"
"$KORVEX_ROOT/scripts/build.sh"
"$KORVEX_ROOT/scripts/wine-prefix.sh"
trap '"$KORVEX_ROOT/scripts/wine-stop.sh" || true' EXIT

WINE_RUN="$KORVEX_ROOT/scripts/wine-run"
DRIVE_C="$KORVEX_WINEPREFIX/drive_c"
PRODUCT="$DRIVE_C/DemoProduct"
PACKAGE="$DRIVE_C/DemoPatch"
PATCHHOME="$DRIVE_C/Program Files/DemoPatch"
PATCH_ID=KB-DEMO-1
RECORD="$PATCHHOME/$PATCH_ID/$PATCH_ID.rec"
RESULTS="$DRIVE_C/DemoResults"
UNINSTALL_KEY="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$PATCH_ID"
EXE="$KORVEX_TEST_BUILD/bin/Korvex.exe"

as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid="$KORVEX_TEST_USER" --regid="$KORVEX_TEST_USER" --init-groups "$@"
  else
    "$@"
  fi
}
say() { printf '\n=== %s\n' "$*"; }
fail() { printf '\ndemo: FAILED: %s\n' "$*" >&2; exit 1; }
# Registry value of the Wine machine, empty when missing.
reg_value() { # key name
  "$WINE_RUN" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | head -n1
}
# Content, size and time of every file below a folder, one line each.
listing() { # folder
  if [ -d "$1" ]; then
    (cd "$1" && find . -type f -print0 | sort -z |
      xargs -0 -r stat -c '%n %s %y' | while read -r name rest; do
        printf '%-28s %s  md5=%s\n' "$name" "$rest" "$(md5sum <"$name" | cut -c1-12)"
      done)
  else
    echo "(no folder)"
  fi
}
summary() { # log file: the lines that tell how the run went
  grep -a -E "@@@ Session name|Ret=KVHF_CMD_ROLLBACK|Return code in silent mode|Return exit code of Korvex|Return conventional exit code|Delete Install record file|Runtime error|Syntax error" "$1" |
    tr -d '\r' | sed 's/^/  /' || true
}
show_result() { # JSON result file
  if [ -f "$1" ]; then sed 's/^/  /' "$1"; else echo "  (no result document)"; fi
}

say "Laying out the demo product in C:\\DemoProduct and the package in C:\\DemoPatch"
"$WINE_RUN" reg delete "$UNINSTALL_KEY" /f >/dev/null 2>&1 || true
as_user rm -rf "$PRODUCT" "$PACKAGE" "$PATCHHOME" "$RESULTS"
as_user mkdir -p "$PRODUCT/lib" "$PACKAGE"
as_user sh -c "printf 'DemoProduct 1.0\r\n' >'$PRODUCT/app.txt'
  printf 'engine 1.0\r\n' >'$PRODUCT/lib/engine.dll'
  printf '[General]\r\nVersion=1.0\r\n' >'$PRODUCT/settings.ini'
  touch -d '2024-01-15 09:30:00' '$PRODUCT/app.txt' '$PRODUCT/lib/engine.dll' '$PRODUCT/settings.ini'"
as_user cp -r "$KORVEX_ROOT/examples/demo/." "$PACKAGE/"
as_user cp "$EXE" "$PACKAGE/Korvex.exe"
# The file group that keeps the installer in the patch's own folder.
as_user mkdir -p "$PACKAGE/FileGroup2"
as_user cp "$EXE" "$PACKAGE/FileGroup2/Korvex.exe"
BEFORE="$(listing "$PRODUCT")"
echo "$BEFORE"

say "Installing the patch as a deployment system does: C:\\DemoPatch\\Korvex.exe /S /L:... /J:..."
rc=0
(cd "$PACKAGE" && "$WINE_RUN" 'C:\DemoPatch\Korvex.exe' /S '/L:C:\DemoResults\install.log' \
  '/J:C:\DemoResults\install.json') || rc=$?
echo "exit code: $rc (0 installed, 3010 installed and a restart is due, 1618 busy, 1602 broken off, 1603 failed)"
summary "$RESULTS/install.log"
echo "--- result document C:\\DemoResults\\install.json:"
show_result "$RESULTS/install.json"
[ "$rc" -eq 0 ] || fail "the install ended with exit code $rc"

say "Product files after the install (C:\\DemoProduct)"
AFTER="$(listing "$PRODUCT")"
echo "$AFTER"
diff <(echo "$BEFORE") <(echo "$AFTER") | sed -n 's/^[<>]/  &/p' || true
[ "$BEFORE" != "$AFTER" ] || fail "the install changed no product file"
echo "--- settings.ini now:"
tr -d '\r' <"$PRODUCT/settings.ini" | sed 's/^/  /'

say "Backups and install record (C:\\Program Files\\DemoPatch)"
listing "$PATCHHOME"

say "Uninstall entry ($UNINSTALL_KEY)"
"$WINE_RUN" reg query "$UNINSTALL_KEY" 2>/dev/null | tr -d '\r' | sed '/^$/d' || true
QUIET="$(reg_value "$UNINSTALL_KEY" QuietUninstallString)"
[ -n "$QUIET" ] || fail "no QuietUninstallString in the uninstall entry"

DB_WIN="$(reg_value 'HKLM\SOFTWARE\Norlane\Korvex' KorvexDBPath)"
DB_UNIX="$DRIVE_C/$(echo "${DB_WIN#?:\\}" | tr '\\' '/')"
show_db() {
  echo "database: $DB_WIN"
  if [ -f "$DB_UNIX" ]; then
    tr -d '\r' <"$DB_UNIX" | sed -n "/^\[$PATCH_ID\]/,/^\[/p" | sed 's/^/  /'
  else
    echo "  (no database file)"
  fi
}
say "Patch database section [$PATCH_ID]"
show_db

say "Deleting the package folder C:\\DemoPatch, as a deployment cache is purged"
as_user rm -rf "$PACKAGE"
[ ! -e "$PACKAGE" ] || fail "the package folder is still there"

say "Removing the patch with the uninstall entry's quiet command: $QUIET"
# Split the way the system splits that command line: the quoted program, the
# /U: argument without its quotes, /S.
program="${QUIET#\"}"
program="${program%%\"*}"
record="${QUIET#*/U:\"}"
record="${record%%\"*}"
rc=0
(cd "$DRIVE_C" && "$WINE_RUN" "$program" "/U:$record" /S '/L:C:\DemoResults\remove.log' \
  '/J:C:\DemoResults\remove.json') || rc=$?
echo "exit code: $rc"
summary "$RESULTS/remove.log"
echo "--- result document C:\\DemoResults\\remove.json:"
show_result "$RESULTS/remove.json"
[ "$rc" -eq 0 ] || fail "the removal ended with exit code $rc"

say "Product files after the removal (C:\\DemoProduct)"
REMOVED="$(listing "$PRODUCT")"
echo "$REMOVED"
if [ "$BEFORE" = "$REMOVED" ]; then
  echo "  -> identical to before the install (content, size and time)"
else
  diff <(echo "$BEFORE") <(echo "$REMOVED") | sed 's/^/  /' || true
  fail "the product files differ from before the install"
fi

say "What the removal leaves"
if "$WINE_RUN" reg query "$UNINSTALL_KEY" >/dev/null 2>&1; then fail "the uninstall entry is still there"; fi
echo "uninstall entry: removed"
if [ -e "$RECORD" ]; then fail "the install record is still there"; fi
echo "install record: removed"
echo "the patch's folder keeps the installer that ran the removal, and the removal command (the backups and their folders are gone):"
listing "$PATCHHOME"
echo "patch database: ResultCode=0 and ErrorMSG=success tell that the last run (this removal) succeeded;"
echo "the identity keys are gone. Detect the patch by its uninstall entry, not by the database."
show_db

say "Demo finished: the patch was installed and removed again"
