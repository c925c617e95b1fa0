#!/usr/bin/env bash
# Launcher starts against an unchanged release through a cache: requests
# reaching the origin per start, with a release key (objects) vs without
# (by name). Natively; needs the signed launcher (scripts/build_signed.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build/native-release -j2 --target TervalisOnline2D stub_game tervalis-publish >/dev/null
bash scripts/build_signed.sh native >/dev/null
exec /usr/bin/python3 bench/cdn_cache.py "$@"
