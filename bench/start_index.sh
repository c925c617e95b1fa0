#!/usr/bin/env bash
# A start of an unchanged 2 GiB, 10,000-file install until the game starts:
# with the index of verified files vs without (native, then Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build/native-release -j2 --target TervalisOnline2D stub_game >/dev/null
if [ -f build/win64/build.ninja ]; then cmake --build build/win64 -j2 --target TervalisOnline2D stub_game >/dev/null; fi
exec /usr/bin/python3 bench/start_index.py "$@"
