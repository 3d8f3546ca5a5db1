#!/bin/sh
# Collects the interface's texts from the sources and forms into the English translation file, keeping
# what is already translated. Texts that are new come out "unfinished" until someone translates them.
#   tools/update-translations.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
lupdate=$(command -v lupdate-qt5 || command -v lupdate || echo /usr/lib/qt5/bin/lupdate)
"$lupdate" -I "$root" -locations none -no-obsolete -source-language zh_CN -target-language en \
    app net common connect select transfer report forms -ts resources/translations/movanta_en.ts
