#!/usr/bin/env bash
# Every test: the native suites and command-line checks, the same suites under AddressSanitizer
# and UndefinedBehaviorSanitizer, a bounded run of the fast fuzzer over hostile machines and the
# replay of its corpus under both sanitizers, then destpick.exe for Windows with its import,
# conformance, golden and Wine checks. DESTPICK_FUZZ_SECONDS sets the length of the fuzz run
# (60 by default).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_and_test() {
    echo "=== $1: configure and build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    echo "=== $1: test"
    ctest --preset "$1" -j2
}
build_and_test sim
build_and_test asan
echo "=== fuzz: configure and build the fast and the replay build, fuzz, replay"
for preset in fuzz fuzz-replay; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
tests/fuzz_run.sh build/fuzz/machine_fuzzer build/fuzz-replay/machine_fuzzer "$PWD" \
    "${DESTPICK_FUZZ_SECONDS:-60}"
build_and_test windows
