#!/usr/bin/env bash
# Sets up, builds the benchmark in Release (the bench preset) and prints its figures: whole runs on
# simulated machines of 1 to 256 disks, each row the median of several runs. Arguments go to the
# benchmark, e.g. --repetitions=21 --min-time=2.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build/bench/destpick_benchmark "$@"
