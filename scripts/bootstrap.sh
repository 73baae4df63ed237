#!/bin/bash
# Installs everything the build and the Wine test bed need on a fresh Debian 12
# machine. Safe to run again: it only installs what is missing.
set -euo pipefail

PKGS=(cmake make g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool imagemagick fonts-wqy-microhei locales googletest
      rsync util-linux passwd procps clang libclang-rt-14-dev llvm nlohmann-json3-dev ansible)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the ANSI code page from the locale it is started with; the
# dialog tests run once in a Chinese and once in a Western one.
for loc in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qix "$loc.utf-\?8"; then
    $SUDO localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
  fi
done

# Wine must not run as root: root ignores file permissions, so a read-only file
# could never refuse a write. The tests run as this user.
if [ "$(id -u)" -eq 0 ] && ! id -u "${KORVEX_TEST_USER:-kvtest}" >/dev/null 2>&1; then
  useradd -m -s /bin/bash "${KORVEX_TEST_USER:-kvtest}"
fi
echo "bootstrap: ok"
