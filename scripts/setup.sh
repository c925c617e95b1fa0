#!/usr/bin/env bash
# Installs everything the builds, tests, demo and benchmarks need, from Debian's
# archive only. Safe to run again: each step checks before it acts.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  googletest libgtest-dev
  libcurl4-openssl-dev libssl-dev libminizip-dev zlib1g-dev
  clang libclang-rt-14-dev
  wine64 xvfb xdotool imagemagick fonts-wine fonts-liberation locales
  nginx-light microsocks dante-server iproute2 curl zip unzip nsis
  python3 python3-pytest python3-pil dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale; Russian text needs 1251.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
  $SUDO sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# minizip for the Windows build is compiled from Debian's zlib source package.
MZ="$ROOT/.cache/minizip-src"
if [ ! -f "$MZ/unzip.c" ]; then
  mkdir -p "$ROOT/.cache/zlib-src"
  list=/etc/apt/sources.list.d/tvl-zlib-src.sources
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' | $SUDO tee "$list" >/dev/null
  trap '$SUDO rm -f "$list"' EXIT
  $SUDO apt-get update -qq
  ( cd "$ROOT/.cache/zlib-src" && apt-get source -qq --download-only zlib=1:1.2.13.dfsg-1 >/dev/null 2>&1 || apt-get source -qq --download-only zlib >/dev/null )
  $SUDO rm -f "$list"
  $SUDO apt-get update -qq
  ( cd "$ROOT/.cache/zlib-src" && rm -rf x && mkdir x && tar -xf zlib_*.orig.tar.* -C x )
  mkdir -p "$MZ"
  cp "$ROOT"/.cache/zlib-src/x/*/contrib/minizip/{unzip.c,unzip.h,ioapi.c,ioapi.h,iowin32.c,iowin32.h,crypt.h,zip.c,zip.h} "$MZ/"
  rm -rf "$ROOT/.cache/zlib-src/x"
fi
echo "setup: ready"
