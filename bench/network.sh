#!/usr/bin/env bash
# Over the network profile (round trip 50 ms, 100 Mbit/s, imposed by
# bench/net_shaper.py): what the shaper imposes, the whole update against the
# limit with download_connections 4 and 1 (and 4 under Wine), the same over
# HTTPS with HTTP/2, and the update through a connection reset every 20 MB.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
for b in shaper update-net update-net-tls update-resets; do
  /usr/bin/python3 bench/transfer_bench.py "$b" || status=1
done
exit $status
