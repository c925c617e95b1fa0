#!/usr/bin/env bash
# A 6 GiB file (zeros with a few marks, sparse on disk; warm cache): the
# launcher's check of it (tvl_bench hash, as at every start) plus its install
# from the stored zip64 archive tervalis-publish makes for it (tvl_bench
# extract: read, CRC-32, write) against md5sum plus cp of the same file,
# one run each (RUNS to change). Also the launcher's peak private memory
# (anonymous resident pages, sampled every 10 ms) in each step: it must not
# grow with the file.
source "$(dirname "$0")/common.bash"
RUNS=${RUNS:-1}
build_native
cmake --build build/native-release -j2 --target tervalis-publish >/dev/null
D=$BENCH_DATA/large-6g
SIZE=$((6 << 30))
if [ ! -f "$D/.ready" ]; then
  rm -rf "$D"; mkdir -p "$D/release/data"
  $PY - "$D/release/data/big.pak" $SIZE <<'PY'
import sys
size = int(sys.argv[2])
with open(sys.argv[1], "wb") as f:
    f.truncate(size)
    for at in (0, size // 3, size // 2 + 12345, size - 8):
        f.seek(at)
        f.write(b"tervalis")
PY
  build/native-release/bin/tervalis-publish -q --level 0 --date 2024-01-01 "$D/release" "$D/www" >/dev/null
  fallocate --dig-holes "$D/www/data/big.pak"
  unzip -p "$D/www/files-large.txt" files-large.txt > "$D/release/files.txt"
  touch "$D/.ready"
fi
trap 'rm -rf "$D/out"' EXIT

# Peak private memory of a command in KiB; its output goes away.
peak_private() {
  $PY - "$@" <<'PY'
import subprocess, sys, time
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
peak = 0
while p.poll() is None:
    try:
        for line in open(f"/proc/{p.pid}/status"):
            if line.startswith("RssAnon:"):
                peak = max(peak, int(line.split()[1]))
    except OSError:
        pass
    time.sleep(0.01)
sys.exit(print(peak) or p.returncode)
PY
}

ours_once() {
  rm -rf "$D/out"
  "$BIN" hash "$D/release" files.txt | grep -q "fetch 0 " || { echo "large: the check found the file changed" >&2; exit 1; }
  "$BIN" extract "$D/www/data/big.pak" "$D/out" >/dev/null
}
base_once() {
  rm -rf "$D/out"; mkdir -p "$D/out"
  md5sum "$D/release/data/big.pak" >/dev/null
  cp --sparse=never "$D/release/data/big.pak" "$D/out/big.pak"
}
export -f ours_once base_once
export BIN D
cat "$D/www/data/big.pak" "$D/release/data/big.pak" >/dev/null  # warm
ours=$(best_time bash -c ours_once)
cmp -s "$D/out/data/big.pak" "$D/release/data/big.pak" || { echo "large: installed file differs" >&2; exit 1; }
base=$(best_time bash -c base_once)
echo "large_file: $(ratio "$ours" "$base")x vs md5sum + cp (6 GiB, check and install ${ours}s vs ${base}s; goal at most 1.1x)"
rm -rf "$D/out"
hash_peak=$(peak_private "$BIN" hash "$D/release" files.txt)
extract_peak=$(peak_private "$BIN" extract "$D/www/data/big.pak" "$D/out")
rm -rf "$D/out"
echo "large_file_memory: peak private ${hash_peak} KiB checking, ${extract_peak} KiB installing 6 GiB (goal below 64 MiB)"
