#!/bin/sh
# Runs a command inside a private network namespace that has only loopback, with a default route
# through it, so nothing the command sends can reach the host's network.
#   tests/support/netns-run.sh COMMAND [ARG...]
# Exits 77 (a skipped test for CTest) when no namespace can be made.
if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi
if ! command -v unshare >/dev/null 2>&1; then
    echo "SKIP: unshare (util-linux) is missing; refusing to run on the host's network" >&2
    exit 77
fi
ip=
for p in /usr/sbin/ip /sbin/ip /usr/bin/ip /bin/ip; do
    if [ -x "$p" ]; then ip=$p; break; fi
done
if [ -z "$ip" ]; then
    echo "SKIP: the ip tool (iproute2) is missing; refusing to run on the host's network" >&2
    exit 77
fi
if [ "$(id -u)" -eq 0 ]; then
    ns="unshare -n"
else
    ns="unshare -rn"
fi
if ! $ns true 2>/dev/null; then
    echo "SKIP: no private network namespace can be made here ($ns failed)" >&2
    exit 77
fi
# Inside: bring loopback up; status 78 from the inner shell means the namespace could not be set up.
$ns sh -c '"$0" link set lo up && "$0" route add default dev lo src 127.0.0.1 || exit 78
shift; exec "$@"' "$ip" -- "$@"
rc=$?
if [ $rc -eq 78 ]; then
    echo "SKIP: loopback could not be brought up in the private network namespace" >&2
    exit 77
fi
exit $rc
