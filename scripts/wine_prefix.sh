#!/usr/bin/env bash
# Prepares the Wine prefix the tests use (build/wine/base) once, with the
# settings that keep tests fast and honest: no crash dialog, unmanaged
# windows (no 2 s wait per close without a window manager). Prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
PREFIX=${TVL_WINEPREFIX:-$PWD/build/wine/base}
WINE=/usr/lib/wine/wine64
if [ ! -f "$PREFIX/.tvl-ready" ]; then
  rm -rf "$PREFIX"
  mkdir -p "$PREFIX"
  WINEPREFIX=$PREFIX $WINE wineboot -i >/dev/null 2>&1
  WINEPREFIX=$PREFIX $WINE reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  WINEPREFIX=$PREFIX $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  WINEPREFIX=$PREFIX /usr/lib/wine/wineserver -w
  touch "$PREFIX/.tvl-ready"
fi
echo "$PREFIX"
