#!/usr/bin/env bash
# Installs what is needed, builds Release and runs every test suite headless;
# then the sanitizer pass (scripts/sanitize.sh: the suites of what reads bytes
# and files under AddressSanitizer/UndefinedBehaviorSanitizer on Xvfb, and a
# bounded run of every fuzz target; SKIP_SANITIZE=1 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export BUILD_DIR="${BUILD_DIR:-build}"
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 -j 2
if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
    bash scripts/sanitize.sh
fi
