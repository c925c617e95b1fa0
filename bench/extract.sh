#!/usr/bin/env bash
# Unpacking a 300 MiB archive of mixed files (random, text, sparse; 4 KiB to
# 8 MiB; made by Info-ZIP's zip) into an empty folder: the launcher's reader
# against `unzip -o`, warm cache, best of 3. TVL_BENCH_SCALE=n divides the
# archive size by n.
source "$(dirname "$0")/common.bash"
SCALE=${TVL_BENCH_SCALE:-1}
MIB=$((300 / SCALE))
DATA=$BENCH_DATA/mixed-$MIB
build_native
if [ ! -f "$DATA/.ready" ]; then
  rm -rf "$DATA"
  $PY bench/make_data.py mixed "$DATA/src" $MIB
  (cd "$DATA/src" && zip -q -r ../mixed.zip .)
  touch "$DATA/.ready"
fi
OUT=$DATA/out

# Best of 3, each run into a freshly emptied folder (emptying not timed).
time_into_empty() {
  local best="" s e t
  for _ in 1 2 3; do
    rm -rf "$OUT"; mkdir -p "$OUT"; sync
    s=$(date +%s%N); "$@" >/dev/null; e=$(date +%s%N)
    t=$(( e - s ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  seconds "$best"
}

cat "$DATA/mixed.zip" >/dev/null
ours=$(time_into_empty "$BIN" extract "$DATA/mixed.zip" "$OUT")
diff -r -q "$DATA/src" "$OUT" >/dev/null || { echo "extract: output differs from the packed tree" >&2; exit 1; }
base=$(time_into_empty unzip -o -q "$DATA/mixed.zip" -d "$OUT")
items=$(unzip -Z1 "$DATA/mixed.zip" | wc -l)
echo "extract: $(ratio "$ours" "$base")x vs unzip -o ($items items, $MIB MiB unpacked, archive $(( $(stat -c %s "$DATA/mixed.zip") >> 20 )) MiB: ${ours}s vs ${base}s)"
rm -rf "$OUT"
