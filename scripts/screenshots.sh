#!/usr/bin/env bash
# Renders the documentation's pictures of the windows into docs/ (or $OUTPUT_DIR):
# the main window during live reading with the smoothed trace, the calibration
# dialog, the parameter list, the protocol monitor and the bus scan, each in
# Chinese (zh_CN-*.png) and English (en-*.png). The windows run under Xvfb
# against the module simulator (tools/screenshots starts it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --screenshots
export BUILD_DIR="${BUILD_DIR:-build}"
BUILD_TARGETS="screenshots txsim" bash scripts/build.sh

OUTPUT_DIR="${OUTPUT_DIR:-docs}"
mkdir -p "$OUTPUT_DIR"
for language in zh_CN en; do
    echo "screenshots: $language"
    # The same look on every machine: Qt's own style, no desktop's theme, C number format.
    env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION \
        QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= QT_STYLE_OVERRIDE=Fusion LC_ALL=C.UTF-8 \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        "$BUILD_DIR/tools/screenshots/screenshots" "$OUTPUT_DIR" "$language" >"$BUILD_DIR/screenshots.list"
    # Palette PNGs: a third of the size, no visible difference (the windows
    # have a few hundred colours).
    while read -r picture; do
        convert "$picture" +dither -colors 256 "PNG8:$picture"
        echo "  $picture"
    done <"$BUILD_DIR/screenshots.list"
done
rm -f "$BUILD_DIR/screenshots.list"
