#!/usr/bin/env bash
# An update capped by download_limit_kbps vs the cap itself (native, then Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
exec /usr/bin/python3 bench/cap.py "$@"
