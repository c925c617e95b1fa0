#!/usr/bin/env bash
# Peak memory against data size. Hashing maps each file whole, so its peak
# resident set is the mapped file plus a fixed overhead: compare the peak for
# a 512 MiB file with (512 MiB + the peak for a 1 MiB file). Extraction
# streams through fixed buffers: compare the peak for the 300 MiB archive of
# extract.sh with the peak for a 1 MiB one. A flat overhead gives 1.00x.
source "$(dirname "$0")/common.bash"
build_native
BIG=$((512 / ${TVL_BENCH_SCALE:-1}))
for m in 1 $BIG; do
  d=$BENCH_DATA/one-$m
  if [ ! -f "$d/.ready" ]; then rm -rf "$d"; $PY bench/make_data.py one "$d" $m; touch "$d/.ready"; fi
done
small=$(peak_rss "$BIN" hash "$BENCH_DATA/one-1" files.txt)
big=$(peak_rss "$BIN" hash "$BENCH_DATA/one-$BIG" files.txt)
echo "hash_memory: $(ratio "$big" $(( BIG * 1024 + small )))x vs mapped file + small-file peak (peak $((big >> 10)) MiB for $BIG MiB, $((small >> 10)) MiB for 1 MiB)"

MIXED=$BENCH_DATA/mixed-$((300 / ${TVL_BENCH_SCALE:-1}))
[ -f "$MIXED/mixed.zip" ] || bash bench/extract.sh >/dev/null
SMALL=$BENCH_DATA/small-zip
if [ ! -f "$SMALL/small.zip" ]; then
  rm -rf "$SMALL"; mkdir -p "$SMALL/src"
  head -c 1048576 /dev/urandom > "$SMALL/src/one.bin"
  (cd "$SMALL/src" && zip -q -r ../small.zip .)
fi
rm -rf "$SMALL/out" "$MIXED/out"
small=$(peak_rss "$BIN" extract "$SMALL/small.zip" "$SMALL/out")
big=$(peak_rss "$BIN" extract "$MIXED/mixed.zip" "$MIXED/out")
rm -rf "$SMALL/out" "$MIXED/out"
echo "extract_memory: $(ratio "$big" "$small")x vs 1 MiB archive (peak $((big >> 10)) MiB for the 300 MiB archive, $((small >> 10)) MiB for 1 MiB)"
