#!/bin/bash
# Checks the shipped programs (the installer, Pendrel and the package
# checker): 32-bit PE files for i386 that import nothing
# but DLLs of the Windows system folder which Windows protects from planting
# (comctl32 comes through the manifest's side-by-side dependency).
set -u
BIN="$1"
ALLOWED="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll msvcrt.dll comctl32.dll psapi.dll"
fail=0
for exe in "$BIN/Korvex.exe" "$BIN/Pendrel.exe" "$BIN/checkpkg.exe"; do
  if [ ! -f "$exe" ]; then echo "missing: $exe"; fail=1; continue; fi
  fmt=$(file -b "$exe")
  case "$fmt" in
    "PE32 executable"*"Intel 80386"*) ;;
    *) echo "$exe: not a 32-bit i386 PE file: $fmt"; fail=1 ;;
  esac
  for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
    case " $ALLOWED " in
      *" $dll "*) ;;
      *) echo "$exe imports $dll, which is not a protected system DLL"; fail=1 ;;
    esac
  done
  echo "$exe: $fmt; imports: $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {printf "%s ", $3}')"
done
exit $fail
