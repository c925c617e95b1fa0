#!/usr/bin/env bash
# The main job: sets the machine up, builds the launcher and shows it working
# under Wine, as a player would start it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"${TVL_JOBS:-2}"
exec /usr/bin/python3 scripts/demo.py "$@"
