#!/usr/bin/env bash
# One 512 MiB file from nginx: the launcher vs curl -o (native, then Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
exec /usr/bin/python3 bench/transfer_bench.py download
