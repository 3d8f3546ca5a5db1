#!/bin/sh
# Movanta against tar pipelines and rsync on generated data sets, on loopback and over emulated links.
#   bench/run.sh [--quick] [--runs N] [--sets L,S,M] [--links loopback,lan,wifi] [--link-sets S,M]
#                [--only Movanta,tar,floor] [--tmp DIR]
# Builds the benchmark peer, the floor program and the link emulator in build-bench, then runs everything
# inside a private network namespace of its own, where both wizards, socat and the rsync daemon meet on
# loopback only. Each emulated link is two more namespaces of their own (root only), removed at the end,
# also when the benchmark fails or is interrupted.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MOVANTA_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target movanta_bench_peer movanta_roundtrip_floor movanta_linkemu >/dev/null
for tool in tar socat rsync diff du unshare nsenter ip ping python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
prefix=mvbench-$$
cleanup()
{
    for ns in $(ip netns list 2>/dev/null | awk -v p="$prefix-" 'index($1, p) == 1 { print $1 }'); do
        ip netns delete "$ns" || true
    done
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM
# The rsync daemon changes its groups when it runs as root, which a user namespace of one mapped id forbids:
# root gets a network namespace alone, anyone else keeps their own id and the namespace's capabilities.
if [ "$(id -u)" -eq 0 ]; then isolate="unshare -n"; else isolate="unshare -cn --keep-caps"; fi
rc=0
$isolate sh -c 'ip link set lo up && ip route add default dev lo src 127.0.0.1 && exec "$@"' sh \
    python3 "$root/bench/bench.py" --peer "$build/bench/movanta_bench_peer" \
    --floor "$build/bench/movanta_roundtrip_floor" --emulator "$build/bench/movanta_linkemu" \
    --netns-prefix "$prefix" "$@" || rc=$?
exit $rc
