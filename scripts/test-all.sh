#!/usr/bin/env bash
# Every test: the native suites and command-line checks, the same suites under AddressSanitizer
# and UndefinedBehaviorSanitizer, a bounded run of the fast fuzzer over hostile machines and the
# replay of its corpus under both sanitizers, then the Windows programs with their import,
# conformance, golden, release and Wine checks. DESTPICK_FUZZ_SECONDS sets the length of the fuzz
# run (60 by default). A failing test does not stop the run; the last line counts every test of
# every preset and the fuzz run, and the exit code is 1 when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
started=$(date +%s)
passed=0
failed=0
skipped=0
attribute() { # name, element
    local number
    number=$(sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$2")
    echo "${number:-0}"
}
# ctest's JUnit report of one preset: its counts in the attributes of <testsuite>. A report that
# is missing counts as one failure, so a ctest that could not run is never a pass.
count_junit() { # report
    local suite tests failures skips disabled
    suite=$(grep -m 1 -o '<testsuite [^>]*>' "$1" 2>/dev/null) || {
        failed=$((failed + 1))
        return
    }
    tests=$(attribute tests "$suite")
    failures=$(attribute failures "$suite")
    skips=$(attribute skipped "$suite")
    disabled=$(attribute disabled "$suite")
    passed=$((passed + tests - failures - skips - disabled))
    failed=$((failed + failures))
    skipped=$((skipped + skips + disabled))
}
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
echo "=== every preset: $(($(date +%s) - started)) s, $skipped skipped"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
