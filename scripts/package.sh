#!/usr/bin/env bash
# Builds the Windows distribution: dist/TervalisOnline2D-<version>-win64.zip
# (launcher, sample settings, sample skin) and dist/TervalisOnline2D-<version>-setup.exe.
# Uses the win64 build (build/win64) and its default servers.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${TVL_BUILD_WIN:-build/win64}
[ -f "$BUILD/bin/TervalisOnline2D.exe" ] || { cmake --preset win64 >/dev/null && cmake --build "$BUILD" -j2; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
VERSION=${VERSION:-3.0.0}

STAGE=$ROOT/build/dist-stage
rm -rf "$STAGE" && mkdir -p "$STAGE/data/updater" dist
cp "$BUILD/bin/TervalisOnline2D.exe" "$STAGE/"
# The sample settings carry this build's default servers.
sed -e "s/^update_server=.*/update_server=$(cache TVL_DEFAULT_UPDATE_SERVER)\r/" \
    -e "s/^icons_server=.*/icons_server=$(cache TVL_DEFAULT_ICONS_SERVER)\r/" \
    -e "s/^game_server=.*/game_server=$(cache TVL_DEFAULT_GAME_SERVER)\r/" \
    packaging/TervalisOnline2D.ini > "$STAGE/TervalisOnline2D.ini"
cp res/skin/*.png "$STAGE/data/updater/" 2>/dev/null || true

ZIP=dist/TervalisOnline2D-$VERSION-win64.zip
rm -f "$ZIP"
(cd "$STAGE" && find . -type f | sort | sed 's|^\./||' | TZ=UTC zip -q -X -D "$ROOT/$ZIP" -@)
SETUP=dist/TervalisOnline2D-$VERSION-setup.exe
makensis -V2 -DSTAGE="$STAGE" -DOUTFILE="$ROOT/$SETUP" -DVERSION="$VERSION" packaging/installer.nsi
echo "package: $ZIP"
echo "package: $SETUP"
