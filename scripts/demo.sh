#!/usr/bin/env bash
# The main job: sets the machine up, builds the launcher and the publisher,
# publishes a sample release signed with a throw-away key, serves it on
# loopback and lets the real launcher, built with that key, update an
# out-of-date install under Wine, then start the game.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"${TVL_JOBS:-2}"
cmake --preset native-release >/dev/null
cmake --build build/native-release -j"${TVL_JOBS:-2}" --target tervalis-publish
export TVL_PUBLISH=${TVL_PUBLISH:-$PWD/build/native-release/bin/tervalis-publish}
bash scripts/build_signed.sh win64
exec /usr/bin/python3 scripts/demo.py "$@"
