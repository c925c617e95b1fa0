# Shared by the bench scripts (sourced, not run): build, timing, Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
BENCH_DATA=$ROOT/build/bench-data
BIN=$ROOT/build/native-release/bin/tvl_bench
PY=/usr/bin/python3

build_native() {
  [ -f build/native-release/build.ninja ] || cmake --preset native-release >/dev/null
  cmake --build build/native-release -j2 --target tvl_bench >/dev/null
}

# Wall time of a command in seconds (best of $RUNS, default 3).
best_time() {
  local best="" i s e t
  for i in $(seq "${RUNS:-3}"); do
    s=$(date +%s%N)
    "$@" >/dev/null
    e=$(date +%s%N)
    t=$(( e - s ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  seconds "$best"
}

seconds() { echo "scale=3; $1 / 1000000000" | bc | sed 's/^\./0./'; }

ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }

# Peak resident set of a command, in KiB.
peak_rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
