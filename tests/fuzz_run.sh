#!/usr/bin/env bash
# Fuzzes for a bounded time with the fast build, then replays the whole corpus with the replay
# build (AddressSanitizer and UndefinedBehaviorSanitizer). The corpus is seeded from the example
# machines and the regression inputs and kept in <fast build>/corpus between runs. Any finding
# fails the run; the input that caused it is left in <fast build>/findings/.
#
# Usage: fuzz_run.sh <fast machine_fuzzer> <replay machine_fuzzer> <source folder> [seconds, 60]
set -u
usage="usage: fuzz_run.sh <fast machine_fuzzer> <replay machine_fuzzer> <source folder> [seconds]"
fast=${1:?$usage}
replay=${2:?$usage}
source_dir=${3:?$usage}
seconds=${4:-60}
build=$(dirname "$fast")
regressions=$source_dir/tests/fuzz/regressions
mkdir -p "$build/corpus" "$build/findings"
cp "$source_dir"/examples/machines/*.json "$regressions"/* "$build/corpus/"
# The run keeps its records until the process ends by design; the harness counts the blocks
# itself, so no leak checker runs.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1
fail() { # log file
    tail -n 30 "$1"
    echo "fuzz: 0 passed, 1 failed"
    exit 1
}
# What an earlier run found must stay fixed, in both builds.
for fuzzer in "$fast" "$replay"; do
    "$fuzzer" "$regressions"/* >"$build/regressions.log" 2>&1 || fail "$build/regressions.log"
done
"$fast" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 -detect_leaks=0 \
    -print_final_stats=1 -artifact_prefix="$build/findings/" "$build/corpus" 2>"$build/fuzz.log" ||
    fail "$build/fuzz.log"
grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|DONE" "$build/fuzz.log"
started=$(date +%s)
"$replay" -runs=0 -rss_limit_mb=4096 -timeout=30 -detect_leaks=0 \
    -artifact_prefix="$build/findings/" "$build/corpus" 2>"$build/replay.log" ||
    fail "$build/replay.log"
echo "replay: $(ls "$build/corpus" | wc -l) inputs under AddressSanitizer in" \
    "$(($(date +%s) - started)) s"
echo "fuzz: 1 passed, 0 failed"
