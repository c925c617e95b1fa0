#!/usr/bin/env bash
# Installs everything the builds, tests, demo and benchmarks need, from Debian's
# archive only. Safe to run again: each step checks before it acts.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ccache
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  googletest libgtest-dev
  libcurl4-openssl-dev libssl-dev zlib1g-dev libdeflate-dev
  libminizip-dev  # the launchers of earlier commits (scripts/build_old_launcher.sh) link it
  libsodium-dev libzstd-dev zstd osslsigncode autoconf automake libtool
  clang libclang-rt-14-dev
  wine64 xvfb xdotool imagemagick fonts-wine fonts-liberation locales
  nginx-light microsocks dante-server iproute2 curl zip unzip nsis 7zip
  python3 python3-pytest python3-pytest-xdist python3-pil dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale; Russian text needs 1251.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU.utf8$'; then
  $SUDO sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# The Windows build's libraries come from Debian's source packages, fetched
# through the machine's own apt sources (whatever mirror or cache they name)
# into a private apt state: the machine's configuration and lists stay as
# they are.

# debian_archive FILE...: prints "URI|SUITE|SIGNED-BY|TRUSTED" of the first
# entry that serves this release's main component (its own suite preferred
# over a bare alias such as "stable"); one-line and deb822 files.
debian_archive() {
  local codename order=0 f
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  for f in "$@"; do
    [ -f "$f" ] || continue
    order=$((order + 1))
    case "$f" in
      *.sources) awk -v want="$codename" -v order="$order" '
        BEGIN { RS = ""; FS = "\n" }
        {
          types = uris = suites = comps = sb = tr = ""; enabled = "yes"
          for (k = 1; k <= NF; k++) {
            line = $k
            if (line ~ /^[ \t#]/) continue  # comments, continuation lines
            p = index(line, ":"); if (!p) continue
            key = tolower(substr(line, 1, p - 1)); val = substr(line, p + 1)
            gsub(/^[ \t]+|[ \t]+$/, "", val)
            if (key == "types") types = val
            else if (key == "uris") uris = val
            else if (key == "suites") suites = val
            else if (key == "components") comps = val
            else if (key == "signed-by") sb = val  # empty when the key is inline
            else if (key == "trusted") tr = val
            else if (key == "enabled") enabled = tolower(val)
          }
          if (enabled == "no" || (" " types " ") !~ / deb(-src)? / || (" " comps " ") !~ /[ \t]main[ \t]/) next
          split(uris, u, /[ \t]+/)
          n = split(suites, s, /[ \t]+/)
          for (k = 1; k <= n; k++) {
            score = s[k] == want ? 2 : (s[k] ~ /^[a-z]+$/ ? 1 : 0)
            if (score) printf "%d|%d|%d|%s|%s|%s|%s\n", score, order, NR, u[1], s[k], sb, tr
          }
        }' "$f" ;;
      *.list|*/sources.list) awk -v want="$codename" -v order="$order" '
        { sub(/#.*/, "") }
        $1 != "deb" && $1 != "deb-src" { next }
        {
          i = 2; sb = tr = ""
          if ($2 ~ /^\[/) {
            opts = ""
            for (; i <= NF; i++) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } }
            gsub(/[][]/, " ", opts)
            n = split(opts, o, /[ \t]+/)
            for (k = 1; k <= n; k++) {
              if (o[k] ~ /^signed-by=/) sb = substr(o[k], 11)
              if (o[k] ~ /^trusted=/) tr = substr(o[k], 9)
            }
          }
          main = 0
          for (k = i + 2; k <= NF; k++) if ($k == "main") main = 1
          score = $(i + 1) == want ? 2 : ($(i + 1) ~ /^[a-z]+$/ ? 1 : 0)
          if (main && score) printf "%d|%d|%d|%s|%s|%s|%s\n", score, order, NR, $i, $(i + 1), sb, tr
        }' "$f" ;;
    esac
  done | sort -t'|' -k1,1nr -k2,2n -k3,3n | head -1 | cut -d'|' -f4-
}

# fetch_sources DEST SOURCE...: downloads Debian source packages into DEST
# from the release's own suite only (its point-release builds keep their
# sources there; security builds may not).
fetch_sources() {
  local dest=$1; shift
  local entry uri suite sb tr apt rc=0
  entry=$(debian_archive /etc/apt/sources.list /etc/apt/sources.list.d/*)
  IFS='|' read -r uri suite sb tr <<<"$entry"
  if [ -z "$uri" ]; then
    echo "setup: no entry for this Debian release's main component in /etc/apt/sources.list or /etc/apt/sources.list.d/" >&2
    return 1
  fi
  apt=$(mktemp -d)
  chmod 755 "$apt"
  mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/dl"
  # apt downloads as its unprivileged user when run as root.
  [ "$(id -u)" -ne 0 ] || chown _apt "$apt/dl" 2>/dev/null || true
  { printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n' "$uri" "$suite"
    [ -z "$sb" ] || printf 'Signed-By: %s\n' "$sb"
    [ -z "$tr" ] || printf 'Trusted: %s\n' "$tr"
  } >"$apt/sources/tvl-src.sources"
  local opts=(-qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/sources"
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
  echo "setup: fetching Debian sources of $* from $uri $suite"
  if apt-get "${opts[@]}" update && (cd "$apt/dl" && apt-get "${opts[@]}" source --download-only "$@" >/dev/null); then
    mkdir -p "$dest"
    cp "$apt"/dl/* "$dest/"
  else
    echo "setup: could not fetch the sources of $* from $uri $suite" >&2
    rc=1
  fi
  rm -rf "$apt"
  return $rc
}

# unpack SOURCE DIR: Debian's source package with Debian's patches into DIR
# (apt checked it against the archive's signed index).
unpack() {
  local dsc
  dsc=$(ls "$SRC/$1"_*.dsc | sort -V | tail -1)
  rm -rf "$2"
  dpkg-source -q -x "$dsc" "$2" >/dev/null 2>&1 || { echo "setup: could not unpack $dsc" >&2; return 1; }
}

SRC="$ROOT/.cache/debian-src"
MZ="$ROOT/.cache/minizip-src"
SODIUM="$ROOT/.cache/mingw-sodium"
ZSTD="$ROOT/.cache/mingw-zstd"
CROSS=x86_64-w64-mingw32
need=()
[ -f "$MZ/unzip.c" ] || need+=(zlib)
[ -f "$SODIUM/lib/libsodium.a" ] || need+=(libsodium)
[ -f "$ZSTD/lib/libzstd.a" ] || need+=(libzstd)
fetch=()
for p in "${need[@]}"; do
  ls "$SRC/${p}"_*.dsc >/dev/null 2>&1 || fetch+=("$p")
done
[ ${#fetch[@]} -eq 0 ] || fetch_sources "$SRC" "${fetch[@]}"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# minizip for both builds (Debian's libminizip reads no zip64 central records on
# 64-bit Linux), over Debian's zlib for mingw and the system's natively.
if [ ! -f "$MZ/unzip.c" ]; then
  unpack zlib "$WORK/zlib"
  rm -rf "$MZ.tmp" && mkdir -p "$MZ.tmp"
  cp "$WORK"/zlib/contrib/minizip/{unzip.c,unzip.h,ioapi.c,ioapi.h,iowin32.c,iowin32.h,crypt.h,zip.c,zip.h} "$MZ.tmp/"
  rm -rf "$MZ" && mv "$MZ.tmp" "$MZ"
fi

# Each library is built into NAME.tmp and moved into place when complete.
if [ ! -f "$SODIUM/lib/libsodium.a" ]; then
  echo "setup: building libsodium for mingw (a minute or two)"
  start=$SECONDS
  unpack libsodium "$WORK/sodium"
  rm -rf "$SODIUM.tmp"
  # autoreconf, not the bundled autogen.sh, which fetches files from outside.
  ( cd "$WORK/sodium" && autoreconf -fi >"$WORK/sodium.log" 2>&1 &&
    ./configure --host=$CROSS CC=$CROSS-gcc-posix CFLAGS=-O2 --disable-shared --enable-static \
      --prefix="$SODIUM.tmp" >>"$WORK/sodium.log" 2>&1 &&
    make -j2 >>"$WORK/sodium.log" 2>&1 && make install >>"$WORK/sodium.log" 2>&1 ) ||
    { tail -30 "$WORK/sodium.log" >&2; echo "setup: libsodium for mingw failed" >&2; exit 1; }
  rm -rf "$SODIUM.tmp/lib/libsodium.la" "$SODIUM.tmp/lib/pkgconfig"  # they name the .tmp folder
  rm -rf "$SODIUM" && mv "$SODIUM.tmp" "$SODIUM"
  echo "setup: libsodium for mingw built in $((SECONDS - start)) s"
fi

# zstd: the library alone (compression and decompression), no programs.
if [ ! -f "$ZSTD/lib/libzstd.a" ]; then
  echo "setup: building libzstd for mingw (about a minute)"
  start=$SECONDS
  unpack libzstd "$WORK/zstd"
  rm -rf "$ZSTD.tmp"
  make -C "$WORK/zstd/lib" -j2 libzstd.a CC=$CROSS-gcc-posix AR=$CROSS-ar \
      ZSTD_LIB_DICTBUILDER=0 ZSTD_LEGACY_SUPPORT=0 >"$WORK/zstd.log" 2>&1 &&
    make -C "$WORK/zstd/lib" install-static install-includes PREFIX="$ZSTD.tmp" >>"$WORK/zstd.log" 2>&1 ||
    { tail -30 "$WORK/zstd.log" >&2; echo "setup: libzstd for mingw failed" >&2; exit 1; }
  rm -rf "$ZSTD" && mv "$ZSTD.tmp" "$ZSTD"
  echo "setup: libzstd for mingw built in $((SECONDS - start)) s"
fi
echo "setup: ready"
