#!/usr/bin/env bash
# Builds into $BUILD_DIR (default: build) as $BUILD_TYPE (default: Release):
# the targets in $BUILD_TARGETS (default: all of them), $JOBS at once
# (default: one per core). Configures first when the tree has no build system
# yet, was configured as another build type, or CMake options are given
# (scripts/build.sh -DOPTION=VALUE ...); otherwise the build itself configures
# again when a CMake file or the set of globbed sources changed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
BUILD_TYPE="${BUILD_TYPE:-Release}"
if [ "$#" -gt 0 ] || [ ! -f "$BUILD_DIR/build.ninja" ] ||
    ! grep -qxF "CMAKE_BUILD_TYPE:STRING=$BUILD_TYPE" "$BUILD_DIR/CMakeCache.txt" 2>/dev/null; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" "$@"
fi
targets=()
for target in ${BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$BUILD_DIR" --parallel "${JOBS:-$(nproc)}" "${targets[@]}"
