#!/usr/bin/env bash
# Second test pass: everything built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (plus libFuzzer coverage), every suite run on a
# real X server under Xvfb, then a bounded run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export BUILD_DIR="${SANITIZE_BUILD_DIR:-build-asan}"
bash scripts/build.sh -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVARIN_SANITIZE=ON -DKELVARIN_FUZZ=ON -DKELVARIN_TEST_QPA=xcb

# Only the one known start-up block of libdbus is suppressed (see lsan.supp).
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
xvfb-run -a -s "-screen 0 1280x800x24" \
    ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 900 -j 2
