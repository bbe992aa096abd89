#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export BUILD_DIR="${BUILD_DIR:-build}"
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 -j 2
