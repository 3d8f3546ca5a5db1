#!/usr/bin/env bash
# Try a migration on one machine: two network namespaces ("new" and "old" computer) joined by a veth pair,
# each running its own wizard on the current display with a home of its own. Run as root after building.
#   sudo tools/two-computers.sh [path/to/movanta]
set -euo pipefail

cd "$(dirname "$0")/.."
program=$(readlink -f "${1:-build/movanta}")
[ -x "$program" ] || { echo "build first: tools/dev.sh run, or cmake --build build" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "needs root (ip netns)" >&2; exit 1; }

work=$(mktemp -d /tmp/movanta-two.XXXXXX)
cleanup() {
    ip netns del mv-new 2>/dev/null || true
    ip netns del mv-old 2>/dev/null || true
}
trap cleanup EXIT
cleanup

ip netns add mv-new
ip netns add mv-old
ip link add mv-new0 type veth peer name mv-old0
ip link set mv-new0 netns mv-new
ip link set mv-old0 netns mv-old
ip -n mv-new addr add 10.213.7.1/24 dev mv-new0
ip -n mv-old addr add 10.213.7.2/24 dev mv-old0
for side in new old; do
    ip -n "mv-$side" link set lo up
    ip -n "mv-$side" link set "mv-${side}0" up
    # Broadcasts and the connectivity probe stay on the veth: nothing leaves these namespaces.
    ip -n "mv-$side" route add default dev "mv-${side}0"
    mkdir -p "$work/$side/home"
done

# Something to move: a few files in the old computer's home.
mkdir -p "$work/old/home/文档" "$work/old/home/.config/demo"
echo "你好，Movanta" > "$work/old/home/文档/问候.txt"
head -c 5000000 /dev/urandom > "$work/old/home/文档/data.bin"
echo "theme=dark" > "$work/old/home/.config/demo/settings.ini"

echo "New computer's home: $work/new/home"
echo "Old computer's home: $work/old/home (its report files land in $work/old)"
(cd "$work/new" && ip netns exec mv-new env HOME="$work/new/home" "$program") &
(cd "$work/old" && ip netns exec mv-old env HOME="$work/old/home" "$program") &
wait
