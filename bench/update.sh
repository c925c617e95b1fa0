#!/usr/bin/env bash
# A whole update of a synthetic release vs md5sum + curl + unzip.
set -euo pipefail
cd "$(dirname "$0")/.."
exec /usr/bin/python3 bench/transfer_bench.py update
