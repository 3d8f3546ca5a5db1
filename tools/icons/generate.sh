#!/usr/bin/env bash
# Regenerates every image of resources/icons: the still images come from iconpainter (QPainter), the two
# animations are its frames assembled by ImageMagick, since Qt reads GIF but cannot write it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$root/resources/icons
build=$(mktemp -d)
frames=$(mktemp -d)
trap 'rm -rf "$build" "$frames"' EXIT

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
QT_QPA_PLATFORM=offscreen "$build/iconpainter" "$out" "$frames"

# Animated GIFs keep one-bit transparency: flatten the soft edges onto white, then key white out.
assemble() {
    local name=$1 delay=$2
    convert -delay "$delay" -loop 0 -dispose Background "$frames/$name"_[0-9][0-9].png \
        -background white -alpha remove -alpha off -transparent white -layers Optimize "$out/$name.gif"
}
assemble loading 8
assemble loading_dots 12

if command -v optipng >/dev/null; then
    optipng -quiet -o2 "$out"/*.png
fi
echo "Images written to $out"
