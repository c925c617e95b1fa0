#!/usr/bin/env bash
# A whole update of a synthetic release vs md5sum + curl + unzip, and the same
# update signed, by a launcher with a release key, vs without.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build/native-release -j2 --target TervalisOnline2D stub_game releasetool tervalis-publish >/dev/null
TVL_PUBLISH=build/native-release/bin/tervalis-publish bash scripts/build_signed.sh native >/dev/null
if [ -f build/win64/build.ninja ]; then
  TVL_PUBLISH=build/native-release/bin/tervalis-publish bash scripts/build_signed.sh win64 >/dev/null
fi
exec /usr/bin/python3 bench/transfer_bench.py update
