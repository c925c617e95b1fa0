#!/usr/bin/env bash
# Builds the Windows distribution: dist/TervalisOnline2D-<version>-win64.zip
# (launcher, sample settings, sample skin) and dist/TervalisOnline2D-<version>-setup.exe.
# Uses the win64 build (build/win64) and its default servers.
# Authenticode signing of the launcher and the installer (osslsigncode), when
# TVL_SIGN_CERT (certificate, PEM or DER, with its chain) and TVL_SIGN_KEY
# (private key) are given; TVL_SIGN_PASS_FILE holds the key's password, if any;
# TVL_SIGN_TIMESTAMP names an RFC 3161 time-stamp server (keeps signatures
# valid after the certificate expires).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${TVL_BUILD_WIN:-build/win64}
SIGN_CERT=${TVL_SIGN_CERT:-}
SIGN_KEY=${TVL_SIGN_KEY:-}
if [ -n "$SIGN_CERT$SIGN_KEY" ]; then
  [ -f "$SIGN_CERT" ] && [ -f "$SIGN_KEY" ] ||
    { echo "package: signing needs TVL_SIGN_CERT and TVL_SIGN_KEY, both existing files" >&2; exit 1; }
  command -v osslsigncode >/dev/null || { echo "package: osslsigncode missing: run scripts/setup.sh" >&2; exit 1; }
fi
sign() {  # sign FILE: in place, only when a certificate is given
  [ -n "$SIGN_CERT" ] || return 0
  local args=(sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -n TervalisOnline2D)
  [ -z "${TVL_SIGN_PASS_FILE:-}" ] || args+=(-readpass "$TVL_SIGN_PASS_FILE")
  [ -z "${TVL_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$TVL_SIGN_TIMESTAMP")
  rm -f "$1.signed"
  if ! osslsigncode "${args[@]}" -in "$1" -out "$1.signed" >"$1.log" 2>&1; then
    cat "$1.log" >&2
    rm -f "$1.signed" "$1.log"
    echo "package: could not sign $1" >&2
    exit 1
  fi
  rm -f "$1.log"
  mv "$1.signed" "$1"
}

[ -f "$BUILD/bin/TervalisOnline2D.exe" ] || { cmake --preset win64 >/dev/null && cmake --build "$BUILD" -j2; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
VERSION=${VERSION:-3.0.0}
ZIP=dist/TervalisOnline2D-$VERSION-win64.zip
SETUP=dist/TervalisOnline2D-$VERSION-setup.exe
rm -f "$ZIP" "$SETUP"

STAGE=$ROOT/build/dist-stage
rm -rf "$STAGE" "$STAGE-out" && mkdir -p "$STAGE/data/updater" "$STAGE-out" dist
cp "$BUILD/bin/TervalisOnline2D.exe" "$STAGE/"
sign "$STAGE/TervalisOnline2D.exe"
# The sample settings carry this build's default servers.
sed -e "s/^update_server=.*/update_server=$(cache TVL_DEFAULT_UPDATE_SERVER)\r/" \
    -e "s/^icons_server=.*/icons_server=$(cache TVL_DEFAULT_ICONS_SERVER)\r/" \
    -e "s/^game_server=.*/game_server=$(cache TVL_DEFAULT_GAME_SERVER)\r/" \
    packaging/TervalisOnline2D.ini > "$STAGE/TervalisOnline2D.ini"
cp res/skin/*.png "$STAGE/data/updater/" 2>/dev/null || true

# Both are made beside the stage and moved into dist/ only when complete.
OUT=$STAGE-out
(cd "$STAGE" && find . -type f | sort | sed 's|^\./||' | TZ=UTC zip -q -X -D "$OUT/${ZIP##*/}" -@)
makensis -V2 -DSTAGE="$STAGE" -DOUTFILE="$OUT/${SETUP##*/}" -DVERSION="$VERSION" packaging/installer.nsi
sign "$OUT/${SETUP##*/}"
mv "$OUT/${ZIP##*/}" "$ZIP"
mv "$OUT/${SETUP##*/}" "$SETUP"
rm -rf "$OUT"
echo "package: $ZIP"
echo "package: $SETUP"
