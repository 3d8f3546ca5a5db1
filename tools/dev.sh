#!/usr/bin/env bash
# Set-up, build, run and test for Movanta on Debian 12.
#   tools/dev.sh run    install what is missing, build, start the wizard
#   tools/dev.sh test   install what is missing, build, run every test
# Run them as yourself: sudo is asked for only when packages are missing.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Debian packages the build, the program and the tests need.
packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev qttools5-dev-tools libsodium-dev
    iproute2 util-linux procps
    fonts-noto-cjk fonts-dejavu-core xdg-utils pkexec
    imagemagick xvfb xauth x11-apps x11-utils
    at-spi2-core python3-pyatspi dbus-daemon dbus-bin
    socat rsync netcat-openbsd time python3
    poppler-utils desktop-file-utils appstream lintian dpkg-dev fakeroot file
    clang libclang-rt-14-dev
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

setup() {
    local missing=()
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
    fi
}

build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

# Started with sudo anyway: only apt needed it. The program and its build belong to the user who called
# sudo; the wizard never runs as root (it would write into root's home and install without a password).
as_calling_user() {
    if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
        exec runuser -u "$SUDO_USER" -- env HOME="$(getent passwd "$SUDO_USER" | cut -d: -f6)" \
            DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" \
            XDG_RUNTIME_DIR="/run/user/$(id -u "$SUDO_USER")" LANG="${LANG:-C.UTF-8}" "$@"
    fi
}

case "${1:-}" in
run)
    setup
    # By its full path: the script has already left the folder it was started from.
    as_calling_user "$root/tools/dev.sh" run
    if [ "$(id -u)" -eq 0 ]; then
        echo "Movanta does not run as root: start it as the user whose data it moves." >&2
        exit 1
    fi
    build "$root/build"
    exec "$root/build/movanta"
    ;;
test)
    setup
    build "$root/build" -DMOVANTA_WERROR=ON
    status=0
    (cd "$root/build" && ctest --output-on-failure -j"$jobs") || status=1
    if [ -f "$root/tools/sanitizers.sh" ]; then
        bash "$root/tools/sanitizers.sh" || status=1
    fi
    if [ -f "$root/tools/fuzz.sh" ]; then
        bash "$root/tools/fuzz.sh" || status=1
    fi
    exit $status
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
