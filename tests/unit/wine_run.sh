#!/usr/bin/env bash
# ctest's emulator for the Windows test programs: runs one under wine64 and,
# when it ends badly, says how (Wine's exit code and the time it took). A
# program that ran has printed googletest's first line before anything can
# fail; scripts/test.sh tells from its absence that Wine never started it.
start=$(date +%s%N)
/usr/lib/wine/wine64 "$@"
rc=$?
[ $rc -eq 0 ] || echo "wine64 ended with exit code $rc after $((($(date +%s%N) - start) / 1000000)) ms" >&2
exit $rc
