#!/usr/bin/env bash
# Runs every benchmark in bench/ and prints their ratio lines.
set -uo pipefail
cd "$(dirname "$0")"
status=0
for b in *.sh; do
  [ "$b" = run.sh ] && continue
  bash "$b" || status=1
done
exit $status
