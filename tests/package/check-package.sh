#!/bin/sh
# Builds the Debian package from a built tree and checks it as a user would meet it: its file list, its
# desktop entry and metainfo, lintian, and the installed program started from the desktop entry's Exec
# line, whose help button must name a manual that exists beside the executable.
#   check-package.sh BUILD_DIR PLUGIN_DIR
# Runs inside a private network namespace (netns-run.sh): the program is started here.
set -u
build=$1
plugins=$2
work=$(mktemp -d /tmp/movanta-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}

manual='Movanta使用说明.pdf'

# 1. The package builds.
if ! (cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
fi
deb=$(ls "$work"/out/movanta_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    echo "FAIL: cpack made no .deb"
    exit 1
fi
pass "built $(basename "$deb")"

# 2. Its file list.
dpkg-deb -c "$deb" >"$work/contents"
for path in ./usr/lib/movanta/movanta "./usr/lib/movanta/$manual" ./usr/bin/movanta \
    ./usr/share/applications/org.movanta.Movanta.desktop ./usr/share/metainfo/org.movanta.Movanta.metainfo.xml \
    ./usr/share/icons/hicolor/48x48/apps/movanta.png ./usr/share/icons/hicolor/64x64/apps/movanta.png \
    ./usr/share/icons/hicolor/128x128/apps/movanta.png ./usr/share/icons/hicolor/256x256/apps/movanta.png \
    ./usr/share/doc/movanta/copyright ./usr/share/man/man1/movanta.1.gz; do
    if awk '{print $6}' "$work/contents" | grep -qxF "$path"; then
        pass "contains $path"
    else
        fail "the package lacks $path"
    fi
done
if grep -q ' ./usr/bin/movanta -> ../lib/movanta/movanta$' "$work/contents"; then
    pass "/usr/bin/movanta links to the private executable"
else
    fail "/usr/bin/movanta is not a link to ../lib/movanta/movanta"
fi

# 3. Its control data.
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt5core5a libqt5gui5 libqt5widgets5 libsodium23 pkexec xdg-utils apt; do
    case "$depends" in
    *"$dep"*) pass "depends on $dep" ;;
    *) fail "Depends lacks $dep: $depends" ;;
    esac
done

# 4. Installed into a private root, the way dpkg lays it out.
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/org.movanta.Movanta.desktop
if desktop-file-validate "$desktop"; then pass "desktop-file-validate"; else fail "desktop-file-validate"; fi
if appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.movanta.Movanta.metainfo.xml" \
    >"$work/appstream.log" 2>&1; then
    pass "appstreamcli validate"
else
    cat "$work/appstream.log"
    fail "appstreamcli validate"
fi
for size in 48 64 128 256; do
    geometry=$(file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/movanta.png")
    case "$geometry" in
    *"$size x $size"*) pass "icon ${size}x${size}" ;;
    *) fail "icon ${size}x${size} is $geometry" ;;
    esac
done
grep -q '^Comment=' "$desktop" && grep -q '^Comment\[zh_CN\]=' "$desktop" && grep -q '^Icon=movanta$' "$desktop" \
    || fail "the desktop entry lacks its English or Chinese comment or its icon"

# 5. lintian: no errors allowed; warnings are listed.
if command -v lintian >/dev/null 2>&1; then
    lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1
    cat "$work/lintian.log"
    if grep -q '^E:' "$work/lintian.log"; then fail "lintian reports errors"; else pass "lintian: no errors"; fi
else
    fail "lintian is not installed"
fi

# 6. The program starts from the Exec line of its desktop entry and its help button names the manual.
exec_line=$(sed -n 's/^Exec=//p' "$desktop" | head -n 1)
program=${exec_line%% *}
case "$program" in
/*) target=$root$program ;;
*) target=$root/usr/bin/$program ;;
esac
if [ ! -x "$target" ]; then
    fail "the Exec target $program is not in the package"
else
    fakebin=$work/fakebin
    mkdir -p "$fakebin"
    # xdg-open is replaced by a stand-in that records what it was asked to open.
    cat >"$fakebin/xdg-open" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$*" >>"$work/xdg-open.log"
SCRIPT
    chmod +x "$fakebin/xdg-open"
    mkdir -p "$work/home"
    (cd "$work/home" && HOME="$work/home" PATH="$fakebin:$PATH" QT_QPA_PLATFORM=offscreen \
        QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=movantahelpclicker \
        MOVANTA_HELPCLICK_LOG="$work/helpclick.log" exec "$target") >"$work/program.log" 2>&1 &
    pid=$!
    # The window is up once the clicker has pressed the button; a loaded machine may take a while.
    waited=0
    while [ ! -s "$work/helpclick.log" ] && [ "$waited" -lt 60 ] && kill -0 "$pid" 2>/dev/null; do
        sleep 0.5
        waited=$((waited + 1))
    done
    sleep 2
    if kill -0 "$pid" 2>/dev/null; then
        pass "the program started from \"Exec=$exec_line\" is still running after its window came up"
        kill "$pid"
        wait "$pid" 2>/dev/null
    else
        wait "$pid"
        fail "the program ended early with status $?"
        cat "$work/program.log"
    fi
    echo "help clicker: $(cat "$work/helpclick.log" 2>/dev/null)"
    opened=$(cat "$work/xdg-open.log" 2>/dev/null)
    expected=$root/usr/lib/movanta/$manual
    if [ "$opened" = "$expected" ] && [ -s "$opened" ]; then
        pass "the help button opens $opened, which exists"
    else
        fail "the help button asked xdg-open for '$opened', expected the existing file '$expected'"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all package checks passed"
