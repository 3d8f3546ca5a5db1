#!/bin/sh
# Is the link emulator ever the bottleneck? The same bulk TCP copy and pings through a plain veth pair and
# through the emulator with no delay and no rate limit, alternating, in one run.
#   sudo bench/linkcheck.sh [MEGABYTES] [ROUNDS]
# Runs inside a private network namespace of its own; the two namespaces per path are removed at the end.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MOVANTA_BENCH_BUILD:-$root/build-bench}
if [ -z "${MOVANTA_LINKCHECK_INSIDE:-}" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target movanta_linkemu >/dev/null
    # Nothing of this runs on the host's network, not even the emulator between its two taps.
    exec unshare -n env MOVANTA_LINKCHECK_INSIDE=1 MOVANTA_BENCH_BUILD="$build" sh "$0" "$@"
fi
mb=${1:-500}
rounds=${2:-3}
prefix=mvcheck-$$
cleanup()
{
    for ns in $(ip netns list 2>/dev/null | awk -v p="$prefix-" 'index($1, p) == 1 { print $1 }'); do
        ip netns delete "$ns" || true
    done
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM
exec_in() { ns=$1; shift; nsenter --net="/run/netns/$ns" "$@"; }
setup()
{
    for side in s r; do
        ip netns add "$prefix-$1-$side"
        ip netns exec "$prefix-$1-$side" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
    done
}
address()
{
    n=1
    for side in s r; do
        ip -n "$prefix-$1-$side" link set lo up
        ip -n "$prefix-$1-$side" addr add "10.77.0.$n/24" dev mv0
        ip -n "$prefix-$1-$side" link set mv0 up
        n=2
    done
}
copy()
{
    exec_in "$prefix-$1-r" socat -u TCP-LISTEN:5555,bind=10.77.0.2,reuseaddr - >/dev/null &
    listener=$!
    sleep 0.3
    start=$(date +%s%N)
    head -c "${mb}000000" /dev/zero | exec_in "$prefix-$1-s" socat -b 4194304 -u - TCP:10.77.0.2:5555
    wait $listener
    end=$(date +%s%N)
    echo "  $1: $mb MB in $(((end - start) / 1000000)) ms = $((mb * 1000000000 / (end - start))) MB/s"
}
setup veth
ip link add mv0 netns "$prefix-veth-s" type veth peer name mv0 netns "$prefix-veth-r"
address veth
setup emu
"$build/bench/movanta_linkemu" --a "/run/netns/$prefix-emu-s:mv0" --b "/run/netns/$prefix-emu-r:mv0" --delay-us 0 \
    >/dev/null 2>"/tmp/$prefix-emu.log" &
emu=$!
sleep 0.5
address emu
for path in veth emu; do
    exec_in "$prefix-$path-s" ping -q -c 2 -i 0.01 10.77.0.2 >/dev/null
    echo "$path: $(exec_in "$prefix-$path-s" ping -q -c 100 -i 0.01 10.77.0.2 | tail -1)"
done
i=0
while [ $i -lt "$rounds" ]; do
    copy veth
    copy emu
    i=$((i + 1))
done
kill $emu
wait $emu || true
cat "/tmp/$prefix-emu.log"
rm -f "/tmp/$prefix-emu.log"
