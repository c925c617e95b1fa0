#!/usr/bin/env bash
# Runs every benchmark in this folder. Each prints "<name>: <ratio>x vs
# <baseline> (...)", both measured in the same run: this machine is shared and
# noisy, so only ratios are compared. Builds the optimised native and the
# Windows targets first.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake --preset native-release >/dev/null && cmake --build build/native-release -j2 >/dev/null || exit 1
cmake --preset win64 >/dev/null && cmake --build build/win64 -j2 >/dev/null || exit 1
status=0
for b in bench/*.sh; do
  [ "$(basename "$b")" = run.sh ] && continue
  echo "--- $(basename "$b" .sh)"
  bash "$b" || { echo "$(basename "$b" .sh): FAILED"; status=1; }
done
exit $status
