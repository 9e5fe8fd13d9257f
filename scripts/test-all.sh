#!/usr/bin/env bash
# Every test: the native suites and command-line checks, then destpick.exe for Windows with its
# import and Wine checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in sim windows; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "=== $preset: test"
    ctest --preset "$preset" -j2
done
