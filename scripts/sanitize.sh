#!/usr/bin/env bash
# Second test pass: clang 14 with AddressSanitizer, UndefinedBehaviorSanitizer
# and libFuzzer coverage, in $SANITIZE_BUILD_DIR (default build-asan). It
# builds what reads bytes and files, the suites labelled "sanitizer" (listed
# in tests/CMakeLists.txt) and every fuzz target (target
# kelvarin_sanitizer_pass), runs those suites on a real X server under Xvfb
# and each fuzz target for a bounded time. The first pass (scripts/test.sh)
# runs every suite; a window suite alone under the sanitizers:
#   cmake --build build-asan --target tst_mainwindow && xvfb-run -a build-asan/tests/tst_mainwindow
#
# SANITIZE_STEP=build only builds, SANITIZE_STEP=test only runs (what
# scripts/test.sh does to build beside the first pass).
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR="${SANITIZE_BUILD_DIR:-build-asan}"
step="${SANITIZE_STEP:-all}"

if [ "$step" != test ]; then
    bash scripts/install-deps.sh
    # -O1 as the sanitizers' authors advise (a fifth less compile time than
    # -O2); line tables are all a report needs.
    BUILD_TARGETS=kelvarin_sanitizer_pass bash scripts/build.sh \
        -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
        -DKELVARIN_SANITIZE=ON -DKELVARIN_FUZZ=ON -DKELVARIN_TEST_QPA=xcb
fi
[ "$step" != build ] || exit 0

# Only the one known start-up block of libdbus is suppressed (see lsan.supp).
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
xvfb-run -a -s "-screen 0 1280x800x24" \
    ctest --test-dir "$BUILD_DIR" --label-regex sanitizer --output-on-failure --timeout 900 -j 2
