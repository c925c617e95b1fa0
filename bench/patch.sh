#!/usr/bin/env bash
# Binary patches on one game pack (half incompressible, half text) of
# PATCH_MIB MiB (default 1024, divided by TVL_BENCH_SCALE), in two new
# versions: 1% rewritten in scattered 64 KiB pieces, and 1 MiB inserted near
# the start. For each, in the same run:
#   patch_bytes_*:  patch served / the file's archive as served today (goal <= 0.03)
#   patch_make_*:   publisher's patch making / `zstd --patch-from` on the same files (goal <= 1.2)
#   patch_apply_*:  applying the patch with its MD5 check / `cp` of the file (goal <= 2),
#                   and / (`cp` + `md5sum`), what installing a checked file costs at least
#   patch_memory_private_*:  the apply's peak private memory / the file's size
#   patch_memory_resident_*: the apply's peak resident set / the file's size; it counts the
#                            cached pages of the mapped base and output, which the system
#                            drops when it needs the memory
#   patch_update_*:          the launcher's whole update through the patch / the same
#                            update fetching the whole archive (nginx in a namespace), and
#                            patch_update_memory_*, the launcher's peak memory meanwhile
# Then one file over 2 GiB (PATCH_LARGE_MIB, default 2304, divided by
# TVL_BENCH_SCALE; incompressible, so its archive is as large), patched in
# pieces of 512 MiB (divided likewise) after 1 MiB inserted near the start
# and 16 scattered 64 KiB rewrites:
#   patch_large_bytes:  the piece-wise patch / the whole file a fetch moves
#   patch_large_apply:  applying it with its MD5 check / `cp` of the file, the
#                       least a whole-file download costs at disk speed
#   patch_large_memory_private: the apply's peak private memory / the file's size
# Times are the best of RUNS rounds (default 3), contenders taken in turn.
source "$(dirname "$0")/common.bash"
MIB=${PATCH_MIB:-$((1024 / ${TVL_BENCH_SCALE:-1}))}
RUNS=${RUNS:-3}
[ -f build/native-release/build.ninja ] || cmake --preset native-release >/dev/null
cmake --build build/native-release -j2 --target patch_tool tervalis-publish TervalisOnline2D stub_game >/dev/null
TOOL=$ROOT/build/native-release/bin/patch_tool
PUBLISH=$ROOT/build/native-release/bin/tervalis-publish
DATA=$BENCH_DATA/patch-$MIB
if [ ! -f "$DATA/.ready" ]; then
  rm -rf "$DATA"
  $PY bench/make_data.py patch "$DATA" "$MIB"
  touch "$DATA/.ready"
fi
WORK=$DATA/work
rm -rf "$WORK"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
cat "$DATA"/*/pack.dat >/dev/null  # warm the page cache for every contender

now() { date +%s%N; }
# Runs "$@" and prints its wall time in nanoseconds.
timed() { local s e; s=$(now); "$@" >/dev/null; e=$(now); echo $((e - s)); }
# zstd says on stderr that it turned long mode on; it is meant to.
zstd_patch() { zstd -q -f --patch-from="$1" "$2" -o "$3" 2>/dev/null; }
min() { if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi; }
mib() { echo "scale=1; $1 / 1048576" | bc | sed 's/^\./0./'; }

for v in scatter insert; do
  # The publisher, as a publisher runs it: the archive and the patch it serves.
  "$PUBLISH" -q --date @1700000000 -j2 --previous "$DATA/old" "$DATA/$v" "$WORK/out-$v" >"$WORK/publish-$v.log"
  line=$(unzip -p "$WORK/out-$v/patches.txt" patches.txt | tr -d '\r')
  [ -n "$line" ] || { echo "patch_bytes_$v: FAILED (no patch listed)"; exit 1; }
  served=$WORK/out-$v/$(echo "$line" | cut -f5)
  target_md5=$(echo "$line" | cut -f3)
  archive=$(stat -c %s "$WORK/out-$v/pack.dat")
  patch=$(stat -c %s "$served")
  size=$(stat -c %s "$DATA/$v/pack.dat")

  make_t="" zstd_t="" apply_t="" cp_t="" md5_t=""
  for round in $(seq "$RUNS"); do
    rm -f "$WORK/made" "$WORK/zstd"
    make_t=$(min "$make_t" "$(timed "$TOOL" make "$DATA/old/pack.dat" "$DATA/$v/pack.dat" "$WORK/made")")
    zstd_t=$(min "$zstd_t" "$(timed zstd_patch "$DATA/old/pack.dat" "$DATA/$v/pack.dat" "$WORK/zstd")")
    rm -f "$WORK/applied" "$WORK/copy"
    apply_t=$(min "$apply_t" "$(timed "$TOOL" apply "$DATA/old/pack.dat" "$served" "$WORK/applied" "$target_md5")")
    cp_t=$(min "$cp_t" "$(timed cp "$DATA/$v/pack.dat" "$WORK/copy")")
    md5_t=$(min "$md5_t" "$(timed md5sum "$DATA/$v/pack.dat")")
  done
  # The figures mean nothing unless the results are right.
  cmp -s "$WORK/made" "$served" || { echo "patch_make_$v: FAILED (differs from what the publisher served)"; exit 1; }
  cmp -s "$WORK/applied" "$DATA/$v/pack.dat" || { echo "patch_apply_$v: FAILED (wrong result)"; exit 1; }
  zstd -q -d -f --long=31 --patch-from="$DATA/old/pack.dat" "$served" -o "$WORK/by-zstd"
  cmp -s "$WORK/by-zstd" "$DATA/$v/pack.dat" || { echo "patch_make_$v: FAILED (zstd reads it differently)"; exit 1; }
  rm -f "$WORK/applied" "$WORK/by-zstd"
  peak=$(peak_rss "$TOOL" apply "$DATA/old/pack.dat" "$served" "$WORK/applied" "$target_md5")
  rm -f "$WORK/applied"
  private=$("$TOOL" memory "$DATA/old/pack.dat" "$served" "$WORK/applied" "$target_md5" |
            sed -n 's/.*peak private \([0-9]*\) KiB.*/\1/p')

  echo "patch_bytes_$v: $(echo "scale=4; $patch / $archive" | bc | sed 's/^\./0./')x vs full archive (patch $(mib "$patch") MiB, archive $(mib "$archive") MiB, pack $MIB MiB)"
  echo "patch_make_$v: $(ratio "$make_t" "$zstd_t")x vs zstd --patch-from (make $(seconds "$make_t") s, zstd $(seconds "$zstd_t") s; zstd's patch $(mib "$(stat -c %s "$WORK/zstd")") MiB)"
  echo "patch_apply_$v: $(ratio "$apply_t" "$cp_t")x vs cp (apply with MD5 check $(seconds "$apply_t") s, cp $(seconds "$cp_t") s)"
  echo "patch_apply_checked_$v: $(ratio "$apply_t" $((cp_t + md5_t)))x vs cp + md5sum (cp $(seconds "$cp_t") s + md5sum $(seconds "$md5_t") s)"
  echo "patch_memory_private_$v: $(echo "scale=4; $private / ($size / 1024)" | bc | sed 's/^\./0./')x vs file size (peak private $((private)) KiB for a $(mib "$size") MiB file)"
  echo "patch_memory_resident_$v: $(ratio "$peak" $((size / 1024)))x vs file size (peak resident $((peak >> 10)) MiB: cached pages of the mapped base and output)"
  rm -rf "$WORK/made" "$WORK/zstd" "$WORK/applied" "$WORK/copy"
  WORK=$WORK $PY bench/patch_update.py "$v" "$WORK/out-$v" "$DATA/old/pack.dat" "$DATA/$v/pack.dat"
  rm -rf "$WORK/out-$v"
done

# A file over 2 GiB: one frame cannot reach across it, so pieces.
LARGE_MIB=${PATCH_LARGE_MIB:-$((2304 / ${TVL_BENCH_SCALE:-1}))}
PIECE=$(( (512 << 20) / ${TVL_BENCH_SCALE:-1} ))
L=$WORK/large
mkdir -p "$L"
head -c "${LARGE_MIB}M" /dev/urandom >"$L/base"
{ head -c 1M "$L/base"; head -c 1M /dev/urandom; tail -c +$((1048576 + 1)) "$L/base"; } >"$L/target"
for i in $(seq 16); do
  dd if=/dev/urandom of="$L/target" bs=64K count=1 seek=$((i * LARGE_MIB + 7)) conv=notrunc status=none
done
size=$(stat -c %s "$L/target")
target_md5=$(md5sum "$L/target" | cut -d' ' -f1 | tr a-f A-F)
make_t=$(timed "$TOOL" make "$L/base" "$L/target" "$L/patch" "$PIECE")
patch=$(stat -c %s "$L/patch")
apply_t="" cp_t=""
for round in $(seq "$RUNS"); do
  rm -f "$L/applied" "$L/copy"
  apply_t=$(min "$apply_t" "$(timed "$TOOL" apply "$L/base" "$L/patch" "$L/applied" "$target_md5")")
  cp_t=$(min "$cp_t" "$(timed cp "$L/target" "$L/copy")")
done
cmp -s "$L/applied" "$L/target" || { echo "patch_large_apply: FAILED (wrong result)"; exit 1; }
rm -f "$L/applied" "$L/copy"
private=$("$TOOL" memory "$L/base" "$L/patch" "$L/applied" "$target_md5" | sed -n 's/.*peak private \([0-9]*\) KiB.*/\1/p')
pieces=$(( (size + PIECE - 1) / PIECE ))
echo "patch_large_bytes: $(echo "scale=4; $patch / $size" | bc | sed 's/^\./0./')x vs whole file (patch $(mib "$patch") MiB in $pieces pieces of $(mib "$PIECE") MiB, file $(mib "$size") MiB; made in $(seconds "$make_t") s)"
echo "patch_large_apply: $(ratio "$apply_t" "$cp_t")x vs cp (apply with MD5 check $(seconds "$apply_t") s, cp $(seconds "$cp_t") s)"
echo "patch_large_memory_private: $(echo "scale=6; $private / ($size / 1024)" | bc | sed 's/^\./0./')x vs file size (peak private $private KiB for a $(mib "$size") MiB file)"
rm -rf "$L"
