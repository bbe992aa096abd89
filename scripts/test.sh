#!/usr/bin/env bash
# Installs what is needed, builds Release and runs every test suite headless;
# then the sanitizer pass (scripts/sanitize.sh: the suites of what reads bytes
# and files under AddressSanitizer/UndefinedBehaviorSanitizer on Xvfb, and a
# bounded run of every fuzz target; SKIP_SANITIZE=1 skips it).
#
# The sanitizer pass's build runs beside the first pass at the lowest CPU
# priority: it takes what the Release build and the suites leave of the cores
# (configuring, links waiting for each other, suites waiting on timers and
# child processes), and gets them whole when the first pass is done. Its
# output goes to $SANITIZE_BUILD_DIR/build.log and is shown at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export BUILD_DIR="${BUILD_DIR:-build}"
export SANITIZE_BUILD_DIR="${SANITIZE_BUILD_DIR:-build-asan}"

sanitizer_build=""
if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
    mkdir -p "$SANITIZE_BUILD_DIR"
    # Its own process group (setsid), so it can be raised and stopped whole.
    SANITIZE_STEP=build setsid nice -n 19 bash scripts/sanitize.sh >"$SANITIZE_BUILD_DIR/build.log" 2>&1 &
    sanitizer_build=$!
    trap 'kill -- -"$sanitizer_build" 2>/dev/null || true' EXIT
    trap 'exit 130' INT TERM
fi

bash scripts/build.sh
QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 -j 2

if [ -n "$sanitizer_build" ]; then
    # Back to the normal priority (allowed to root only; elsewhere it stays low).
    renice -n 0 -g "$sanitizer_build" >/dev/null 2>&1 || true
    if ! wait "$sanitizer_build"; then
        tail -n 60 "$SANITIZE_BUILD_DIR/build.log" >&2
        echo "test: the sanitizer build failed (log: $SANITIZE_BUILD_DIR/build.log)" >&2
        exit 1
    fi
    trap - EXIT
    echo "== sanitizer build"
    grep -E '^(install-deps:|-- Build files|\[[0-9]+/[0-9]+\])' "$SANITIZE_BUILD_DIR/build.log" | tail -n 3
    SANITIZE_STEP=test bash scripts/sanitize.sh
fi
