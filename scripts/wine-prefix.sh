#!/bin/bash
# Creates the build tree's Wine prefix once (64-bit, Windows 10) and reuses it.
# The stamp file holds the prefix's set-up level: a prefix of an older level
# gets the later steps applied instead of being made anew.
set -euo pipefail
source "$(dirname "$0")/env.sh"
run() { "$KORVEX_ROOT/scripts/wine-run" "$@"; }
LEVEL=2
STAMP="$KORVEX_WINEPREFIX/.korvex-ready"
have=0
if [ -f "$STAMP" ]; then
  have=$(cat "$STAMP" 2>/dev/null || true)
  # The first prefixes wrote an empty stamp.
  case "$have" in ''|*[!0-9]*) have=1 ;; esac
fi
if [ "$have" -ge "$LEVEL" ]; then exit 0; fi

if [ "$have" -lt 1 ]; then
  mkdir -p "$KORVEX_WINEPREFIX"
  if [ "$(id -u)" -eq 0 ]; then chown "$KORVEX_TEST_USER": "$KORVEX_WINEPREFIX"; fi
  export WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  run wineboot -i >/dev/null 2>&1 || true
  run winecfg /v win10 >/dev/null 2>&1
  run reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentVersion 2>/dev/null | grep -q '10\.0'
  echo "wine-prefix: created $KORVEX_WINEPREFIX (win64, Windows 10)"
fi

if [ "$have" -lt 2 ]; then
  # Chinese that can be read on screen: on Windows the system has the glyphs
  # of the dialogs' face (宋体, SimSun) and links a CJK font behind its UI
  # fonts; here the set-up's WenQuanYi Micro Hei stands in for both. Wine
  # draws the window frames itself (no window manager under Xvfb), so
  # screenshots show captions as a person sees them.
  face="WenQuanYi Micro Hei"
  link="wqy-microhei.ttc,$face"
  # A link value is a list of strings; regedit reads it as UTF-16 hex.
  link_hex=$(printf '%s\0\0' "$link" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//;s/,$//')
  reg_text="Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
\"宋体\"=\"$face\"
\"SimSun\"=\"$face\"
\"新宋体\"=\"$face\"
\"NSimSun\"=\"$face\"

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]"
  for ui in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
    reg_text+=$'\n'"\"$ui\"=hex(7):$link_hex"
  done
  reg_text+="

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
\"Decorated\"=\"N\"
"
  reg_file="$KORVEX_WINEPREFIX/drive_c/korvex-fonts.reg"
  # regedit takes a UTF-16 file whatever the locale Wine runs with.
  { printf '\xff\xfe'; printf '%s' "$reg_text" | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$reg_file"
  if [ "$(id -u)" -eq 0 ]; then chown "$KORVEX_TEST_USER": "$reg_file"; fi
  run regedit /S 'C:\korvex-fonts.reg'
  rm -f "$reg_file"
  echo "wine-prefix: $KORVEX_WINEPREFIX maps the dialog fonts to $face"
fi

"$KORVEX_ROOT/scripts/wine-stop.sh"
echo "$LEVEL" >"$STAMP"
