#!/bin/sh
# The accessibility test's surroundings: an X server of its own (Xvfb), a private session bus and the
# accessibility bus on it, then tests/e2e/accessibility.py. CTest runs it inside a private network
# namespace (tests/support/netns-run.sh).
#   accessibility.sh MOVANTA
# Exits 77 (skipped) when Xvfb, the session bus, at-spi2-core or pyatspi are missing.
program=$1
here=$(dirname "$0")
skip() {
    echo "SKIP: $1" >&2
    exit 77
}
command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is missing (apt-get install xvfb)"
command -v dbus-run-session >/dev/null 2>&1 || skip "dbus-run-session is missing (apt-get install dbus-daemon)"
command -v dbus-send >/dev/null 2>&1 || skip "dbus-send is missing (apt-get install dbus-bin)"
command -v xprop >/dev/null 2>&1 || skip "xprop is missing (apt-get install x11-utils)"
launcher=
for p in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
    if [ -x "$p" ]; then launcher=$p; break; fi
done
[ -n "$launcher" ] || skip "at-spi-bus-launcher is missing (apt-get install at-spi2-core)"
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || skip "pyatspi is missing (apt-get install python3-pyatspi)"
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }

work=$(mktemp -d /tmp/movanta-a11y.XXXXXX)
xserver=
cleanup() {
    [ -n "$xserver" ] && kill "$xserver" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The server picks a free display and names it on fd 5. Without -noreset it would forget the root window's
# properties (the accessibility bus address below) each time its last client leaves.
Xvfb -displayfd 5 -noreset -screen 0 2200x1100x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xserver=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")" >&2; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY
# Qt's own XDG_RUNTIME_DIR fallback would be shared with other programs.
XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR

dbus-run-session -- sh -c '
    "$1" --launch-immediately >"$3/launcher.log" 2>&1 &
    address=
    for _ in $(seq 50); do
        address=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2>/dev/null | tr -d " ")
        [ -n "$address" ] && break
        sleep 0.1
    done
    [ -n "$address" ] || { echo "FAIL: the accessibility bus did not come up" >&2; exit 1; }
    # A desktop session publishes the bus on the root window. Qt 5 reads it there while it starts; asked on
    # the session bus instead, it answers late and the program never joins the registry.
    xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "$address" || exit 1
    # What a screen reader does when it starts: programs then put themselves on the accessibility bus.
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
        string:org.a11y.Status string:ScreenReaderEnabled variant:boolean:true >/dev/null || exit 1
    /usr/bin/python3 "$2/accessibility.py" "$4" "$3"
    status=$?
    kill %1 2>/dev/null
    exit $status
' sh "$launcher" "$here" "$work" "$program"
status=$?
if [ $status -ne 0 ]; then
    for log in "$work"/new.log "$work"/old.log; do
        [ -f "$log" ] && { echo "--- $log"; tail -20 "$log"; }
    done
fi
exit $status
