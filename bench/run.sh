#!/bin/sh
# Movanta against a tar pipeline and rsync on generated data sets.
#   bench/run.sh [--quick] [--runs N] [--sets L,S,M] [--tmp DIR]
# Builds the benchmark peer in build-bench, then runs everything inside a private network namespace of
# its own, where both wizards, socat and the rsync daemon meet on loopback only.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MOVANTA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target movanta_bench_peer movanta_roundtrip_floor >/dev/null
for tool in tar socat rsync diff du unshare ip python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
# The rsync daemon changes its groups when it runs as root, which a user namespace of one mapped id forbids:
# root gets a network namespace alone, anyone else keeps their own id and the namespace's capabilities.
if [ "$(id -u)" -eq 0 ]; then isolate="unshare -n"; else isolate="unshare -cn --keep-caps"; fi
exec $isolate sh -c 'ip link set lo up && ip route add default dev lo src 127.0.0.1 && exec "$@"' sh \
    python3 "$root/bench/bench.py" --peer "$build/bench/movanta_bench_peer" \
    --floor "$build/bench/movanta_roundtrip_floor" "$@"
