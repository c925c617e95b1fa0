#!/usr/bin/env bash
# SHA-256 of one 512 MiB file, warm cache, as a signed release checks what
# it fetches (the platform's hash: OpenSSL natively, CNG under Wine) against
# sha256sum over the same file, best of 3.
source "$(dirname "$0")/common.bash"
FILE=$BENCH_DATA/sha256-512m.bin
build_native
if [ ! -f "$FILE" ]; then mkdir -p "$BENCH_DATA"; head -c $((512 << 20)) /dev/urandom >"$FILE.tmp"; mv "$FILE.tmp" "$FILE"; fi
want=$(sha256sum "$FILE" | cut -d' ' -f1)  # also warms the cache
got=$("$BIN" sha256 "$FILE" | cut -d' ' -f1)
[ "$got" = "$want" ] || { echo "sha256: wrong digest $got" >&2; exit 1; }
ours=$(best_time "$BIN" sha256 "$FILE")
base=$(best_time sha256sum "$FILE")
echo "sha256: $(ratio "$ours" "$base")x vs sha256sum (512 MiB, warm cache: ${ours}s vs ${base}s)"

EXE=$ROOT/build/win64/bin/tvl_bench.exe
if [ -f build/win64/build.ninja ] && cmake --build build/win64 -j2 --target tvl_bench >/dev/null 2>&1; then
  export WINEPREFIX=${WINEPREFIX:-$(bash scripts/wine_prefix.sh)} WINEDEBUG=-all
  /usr/lib/wine/wineserver -p || true
  /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 || true
  wgot=$(/usr/lib/wine/wine64 "$EXE" sha256 "Z:$FILE" | tr -d '\r' | cut -d' ' -f1)
  [ "$wgot" = "$want" ] || { echo "sha256_wine: wrong digest $wgot" >&2; exit 1; }
  wine=$(best_time /usr/lib/wine/wine64 "$EXE" sha256 "Z:$FILE")
  base=$(best_time sha256sum "$FILE")
  echo "sha256_wine: $(ratio "$wine" "$base")x vs sha256sum (Windows build under Wine, Wine's start included: ${wine}s vs ${base}s)"
  /usr/lib/wine/wineserver -k || true
fi
