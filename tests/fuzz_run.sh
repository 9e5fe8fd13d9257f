#!/usr/bin/env bash
# Runs the machine fuzzer for a bounded time, its corpus seeded from the example machines and
# kept in build/fuzz/corpus between runs. Any finding stops the run and fails it; the input that
# caused it is left in build/fuzz/findings/.
#
# Usage: fuzz_run.sh <machine_fuzzer> <source folder> [seconds, default 60]
set -u
fuzzer=${1:?usage: fuzz_run.sh <machine_fuzzer> <source folder> [seconds]}
source_dir=${2:?usage: fuzz_run.sh <machine_fuzzer> <source folder> [seconds]}
seconds=${3:-60}
build=$(dirname "$fuzzer")
mkdir -p "$build/corpus" "$build/findings"
cp "$source_dir"/examples/machines/*.json "$source_dir"/tests/fuzz/regressions/* "$build/corpus/"
# The run keeps its records until the process ends by design; the fuzzer counts the blocks
# itself, so the leak checker stays off.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1
# What an earlier run found must stay fixed.
if ! "$fuzzer" "$source_dir"/tests/fuzz/regressions/* >"$build/regressions.log" 2>&1; then
    tail -n 30 "$build/regressions.log"
    echo "fuzz: 0 passed, 1 failed"
    exit 1
fi
"$fuzzer" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$build/findings/" "$build/corpus" 2>"$build/fuzz.log"
status=$?
grep -E "^stat::(number_of_executed_units|peak_rss_mb)|ERROR|runtime error|machine_fuzzer:" "$build/fuzz.log" | head -n 20
if [ "$status" -eq 0 ]; then
    echo "fuzz: 1 passed, 0 failed"
else
    tail -n 30 "$build/fuzz.log"
    echo "fuzz: 0 passed, 1 failed"
fi
exit "$status"
