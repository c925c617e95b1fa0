#!/usr/bin/env bash
# Checking an installed tree in which every file is current: the launcher's
# check (list parsing, exclusive open, mapping, MD5, compare) against md5sum
# over the same files, warm cache, best of 3. TVL_BENCH_SCALE=n divides the
# data set (5,000 files, 1 GiB) by n.
source "$(dirname "$0")/common.bash"
SCALE=${TVL_BENCH_SCALE:-1}
MIB=$((1024 / SCALE)); FILES=$((5000 / SCALE))
DATA=$BENCH_DATA/tree-$MIB-$FILES
build_native
if [ ! -f "$DATA/.ready" ]; then rm -rf "$DATA"; $PY bench/make_data.py tree "$DATA" $MIB $FILES; touch "$DATA/.ready"; fi

md5() { (cd "$DATA" && xargs -0 md5sum < names0); }
md5 >/dev/null  # warm the cache
out=$("$BIN" hash "$DATA" files.txt)
case "$out" in *"fetch 0 "*) ;; *) echo "hash_tree: wrong result: $out" >&2; exit 1 ;; esac
ours=$(best_time "$BIN" hash "$DATA" files.txt)
base=$(best_time md5)
echo "hash_tree: $(ratio "$ours" "$base")x vs md5sum ($FILES files, $MIB MiB, all current: ${ours}s vs ${base}s)"

# The Windows build under Wine (CryptoAPI MD5), Wine start-up included.
EXE=$ROOT/build/win64/bin/tvl_bench.exe
if [ -f build/win64/build.ninja ] && cmake --build build/win64 -j2 --target tvl_bench >/dev/null 2>&1; then
  export WINEPREFIX=${WINEPREFIX:-$(bash scripts/wine_prefix.sh)} WINEDEBUG=-all
  /usr/lib/wine/wineserver -p || true
  /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 || true
  wout=$(/usr/lib/wine/wine64 "$EXE" hash "Z:$DATA" files.txt | tr -d '\r')
  case "$wout" in *"fetch 0 "*) ;; *) echo "hash_tree_wine: wrong result: $wout" >&2; exit 1 ;; esac
  wine=$(best_time /usr/lib/wine/wine64 "$EXE" hash "Z:$DATA" files.txt)
  base=$(best_time md5)
  echo "hash_tree_wine: $(ratio "$wine" "$base")x vs md5sum (Windows build under Wine: ${wine}s vs ${base}s)"
  /usr/lib/wine/wineserver -k || true
fi
