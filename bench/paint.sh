#!/usr/bin/env bash
# How fast the splash window handles progress notifications, under Wine on a
# virtual screen, with the 512 x 400 sample skin:
#   paint:        paints per second when every paint decodes the skin anew,
#                 against the window's cached decoded skin (same run);
#   paint-notify: notifications handled per second by the real window when a
#                 thread posts them back to back (one per 8 KiB chunk),
#                 against a window that ignores them. A loopback download at
#                 400 MB/s posts about 50,000 a second.
# Each figure is the median of three alternating runs.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
TOOL=$ROOT/build/win64/bin/splashtool.exe
if [ ! -f "$TOOL" ]; then
  cmake --preset win64 >/dev/null && cmake --build build/win64 -j2 --target splashtool >/dev/null || exit 1
fi
WINE=/usr/lib/wine/wine64
BASE=$(bash scripts/wine_prefix.sh)

WORK=$(mktemp -d /tmp/tvl-paint-bench.XXXXXX)
display=""
for n in $(seq 140 190); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "paint: no free X display"; exit 1; }
Xvfb "$display" -noreset -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
cleanup() {
  WINEPREFIX=$WORK/prefix /usr/lib/wine/wineserver -k 2>/dev/null
  kill "$XVFB" 2>/dev/null
  wait "$XVFB" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done

cp -al "$BASE" "$WORK/prefix"
for r in "$WORK"/prefix/*.reg; do cp --remove-destination "$r" "$r.copy" && mv "$r.copy" "$r"; done
rm -f "$WORK/prefix/wineserver"
cp "$ROOT/res/skin/tervalis.png" "$WORK/"
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$display
/usr/lib/wine/wineserver -p
cd "$WORK"

run() {  # mode arg -> per second
  timeout 300 "$WINE" "$TOOL" bench "$1" tervalis.png "$2" | tr -d "\r" | awk -v m="$1" '$1 == m { print $3 }'
}
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }

reload=(); cached=(); notify=(); bare=()
for _ in 1 2 3; do
  reload+=("$(run reload 1500)")
  cached+=("$(run cached 1500)")
  notify+=("$(run notify 50000)")
  bare+=("$(run bare 50000)")
done
r=$(median "${reload[@]}"); c=$(median "${cached[@]}")
n=$(median "${notify[@]}"); b=$(median "${bare[@]}")
for v in "$r" "$c" "$n" "$b"; do
  [ -n "$v" ] && [ "$v" -gt 0 ] 2>/dev/null || { echo "paint: a run failed (${reload[*]} / ${cached[*]} / ${notify[*]} / ${bare[*]})"; exit 1; }
done
awk -v r="$r" -v c="$c" 'BEGIN { printf "paint: %.3fx vs cached surface (%d/s vs %d/s)\n", r / c, r, c }'
awk -v n="$n" -v b="$b" 'BEGIN { printf "paint-notify: %.2fx vs bare message loop (%d/s vs %d/s; a loopback download posts ~50000/s)\n", n / b, n, b }'
