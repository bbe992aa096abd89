#!/usr/bin/env bash
# Longer fuzzing run: builds the clang tree with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (into $BUILD_DIR, default build-fuzz), then runs
# every fuzz target for FUZZ_SECONDS (default 600) seconds each. New inputs
# are kept in the build tree ($BUILD_DIR/fuzz/corpus/NAME) and grow from run
# to run; the committed seeds in fuzz/corpus/NAME are only read. Inputs that
# break a property or crash are written to $BUILD_DIR/fuzz/artifacts/NAME.
#
#   FUZZ_SECONDS=60 bash scripts/fuzz.sh                  # a minute each
#   FUZZ_TARGETS="settings sampledata" bash scripts/fuzz.sh
#   SKIP_BUILD=1 bash scripts/fuzz.sh                     # reuse the tree as built
#
# Exits non-zero when any target found a crash, a broken property, a leak or
# a time-out.
set -uo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR="${BUILD_DIR:-build-fuzz}"
FUZZ_SECONDS="${FUZZ_SECONDS:-600}"

if [ "${SKIP_BUILD:-0}" != 1 ]; then
    bash scripts/build.sh -DCMAKE_CXX_COMPILER=clang++-14 -DKELVARIN_SANITIZE=ON -DKELVARIN_FUZZ=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
fi

if [ -n "${FUZZ_TARGETS:-}" ]; then
    names="$FUZZ_TARGETS"
else
    names=$(cd fuzz && ls fuzz_*.cpp | sed -e 's/^fuzz_//' -e 's/\.cpp$//')
fi

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
failed=()
for name in $names; do
    program="$BUILD_DIR/fuzz/fuzz_$name"
    if [ ! -x "$program" ]; then
        echo "fuzz_$name: not built" >&2
        failed+=("$name")
        continue
    fi
    work="$BUILD_DIR/fuzz/corpus/$name"
    artifacts="$BUILD_DIR/fuzz/artifacts/$name"
    log="$BUILD_DIR/fuzz/logs/$name.log"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    echo "== fuzz_$name: $FUZZ_SECONDS s, work corpus $work"
    "$program" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" ${FUZZ_ARGS:-} "$work" "fuzz/corpus/$name" >"$log" 2>&1
    status=$?
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1
    grep -E '^stat::' "$log"
    if [ "$status" -ne 0 ]; then
        echo "fuzz_$name FAILED (exit $status); log: $log" >&2
        grep -E 'property violated|ERROR: |SUMMARY: |Test unit written to' "$log" | head -n 20 >&2
        failed+=("$name")
    fi
done

if [ "${#failed[@]}" -ne 0 ]; then
    echo "Fuzz targets with findings: ${failed[*]}" >&2
    exit 1
fi
echo "All fuzz targets ran $FUZZ_SECONDS s each without a finding."
