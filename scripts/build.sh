#!/usr/bin/env bash
# Configures and builds into $BUILD_DIR (default: build) as $BUILD_TYPE (default: Release).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
BUILD_TYPE="${BUILD_TYPE:-Release}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" "$@"
# Let moc look again at every target: new headers in globbed source lists are
# otherwise sometimes missed by an existing build tree.
find "$BUILD_DIR" -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build "$BUILD_DIR" --parallel "${JOBS:-$(nproc)}"
