#!/usr/bin/env bash
# The launchers built with a throw-away release key, for the tests and the
# benchmarks of signed releases: build/native-signed and build/win64-signed,
# the launcher target alone. The key is made once, at the first build, into
# build/release-test-key/ (secret.key, public.hex) and never leaves build/.
# Only the one file that holds the key sees it, so a new key recompiles
# little. Needs build/native's tervalis-publish. Usage: build_signed.sh
# [native|win64]... (default both).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${TVL_JOBS:-2}
KEYDIR=build/release-test-key
PUBLISH=${TVL_PUBLISH:-build/native/bin/tervalis-publish}
if [ ! -s "$KEYDIR/public.hex" ]; then
  rm -rf "$KEYDIR"
  mkdir -p "$KEYDIR"
  "$PUBLISH" keygen "$KEYDIR/secret.key" >"$KEYDIR/public.hex" 2>/dev/null
fi
KEY=$(cat "$KEYDIR/public.hex")
for build in "${@:-native win64}"; do
  for b in $build; do
    cmake --preset "$b-signed" -DTVL_RELEASE_PUBLIC_KEY="$KEY" >/dev/null
    cmake --build "build/$b-signed" -j"$JOBS" --target TervalisOnline2D
  done
done
