#!/usr/bin/env bash
# Every test: the native suites and command-line checks, the same suites under AddressSanitizer
# and UndefinedBehaviorSanitizer, a bounded run of the fast fuzzer over hostile machines and the
# replay of its corpus under both sanitizers, then the Windows programs with their import,
# conformance, golden, release and Wine checks. DESTPICK_FUZZ_SECONDS sets the length of the fuzz
# run (60 by default). A failing test does not stop the run; the last line counts every test of
# every preset and the fuzz run, and the exit code is not 0 when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
started=$(date +%s)
passed=0
failed=0
skipped=0
# ctest's JUnit report of one preset, test by test: "run" passed, "fail" failed, and "notrun" was
# skipped only when the test asked for it (Wine could not start); any other test that did not
# run, such as one whose executable is missing, failed. A missing report counts as one failure.
count_junit() { # report
    local counts
    counts=$(awk '
        /<testcase / {
            match($0, /status="[a-z]+"/)
            status = substr($0, RSTART + 8, RLENGTH - 9)
            waiting = 0
            if (status == "run") passed++
            else if (status == "fail") failed++
            else if (status == "notrun") waiting = 1
            else skipped++
            next
        }
        waiting && /<skipped message="SKIP_RETURN_CODE=/ { skipped++; waiting = 0 }
        waiting && /<\/testcase>/ { failed++; waiting = 0 }
        END { print passed + 0, failed + 0, skipped + 0 }' "$1" 2>/dev/null) || counts="0 1 0"
    read -r run_passed run_failed run_skipped <<<"$counts"
    passed=$((passed + run_passed))
    failed=$((failed + run_failed))
    skipped=$((skipped + run_skipped))
}
# The count closes every run, also one that a failed build ends early; that counts as a failure.
summary() {
    local status=$?
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1
    fi
    echo "=== every preset: $(($(date +%s) - started)) s, $skipped skipped"
    echo "$passed passed, $failed failed"
}
trap summary EXIT
build_and_test() {
    echo "=== $1: configure and build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    echo "=== $1: test"
    local report=$PWD/build/$1/test-report.xml
    rm -f "$report"
    ctest --preset "$1" -j2 --output-junit "$report" || true
    count_junit "$report"
}
build_and_test sim
build_and_test asan
echo "=== fuzz: configure and build the fast and the replay build, fuzz, replay"
for preset in fuzz fuzz-replay; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
tests/fuzz_run.sh build/fuzz/machine_fuzzer build/fuzz-replay/machine_fuzzer "$PWD" \
    "${DESTPICK_FUZZ_SECONDS:-60}" | tee build/fuzz/run.out || true
fuzz_count=$(tail -n 1 build/fuzz/run.out)
if [[ $fuzz_count =~ ^fuzz:\ ([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
else
    failed=$((failed + 1))
fi
build_and_test windows
[ "$failed" -eq 0 ]
