#!/bin/bash
# Builds the launchers (Windows and Linux) of an earlier commit, for the tests
# that hold a new server tree against a launcher already in players' hands.
# Usage: build_old_launcher.sh COMMIT  -> build/old-launcher/COMMIT/TervalisOnline2D{,.exe}
# Kept once built; sources go after the build. The build directories lie as
# deep below the sources as ours do, so a warm ccache serves most objects.
set -euo pipefail
commit=$1
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/old-launcher/$commit
[ -x "$out/TervalisOnline2D.exe" ] && [ -x "$out/TervalisOnline2D" ] && exit 0
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
fi
src=$out/src
rm -rf "$src"
mkdir -p "$src"
git -C "$root" archive "$commit" | tar -x -C "$src"
ln -s "$root/.cache" "$src/.cache"
(cd "$src" && cmake --preset win64 >/dev/null && cmake --build build/win64 --target TervalisOnline2D -j2 >/dev/null &&
   cmake --preset native-release >/dev/null && cmake --build build/native-release --target TervalisOnline2D -j2 >/dev/null)
cp "$src/build/win64/bin/TervalisOnline2D.exe" "$src/build/native-release/bin/TervalisOnline2D" "$out/"
rm -rf "$src"
