#!/bin/sh
# A home of a million small files through the real wizards: selection against du -s, peak memory, the
# report page's opening time and the rate against S's.
#   bench/million.sh [--files N] [--tmp DIR] [--skip-s]
# Needs about 8 GB and 2.1 million inodes in the temporary folder for the duration; everything is removed
# at the end. Runs inside a private network namespace of its own, with only loopback up.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MOVANTA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target movanta_bench_peer >/dev/null
for tool in diff du unshare ip python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [ "$(id -u)" -eq 0 ]; then isolate="unshare -n"; else isolate="unshare -rn"; fi
exec $isolate sh -c 'ip link set lo up && ip route add default dev lo src 127.0.0.1 && exec "$@"' sh \
    python3 "$root/bench/million.py" --peer "$build/bench/movanta_bench_peer" "$@"
