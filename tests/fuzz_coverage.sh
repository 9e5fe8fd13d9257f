#!/usr/bin/env bash
# What a corpus reaches of the system: replays it once with the fuzz-coverage build and prints
# llvm-cov's report (regions, functions, lines, branches) for the files under src/ alone.
#
# Usage: fuzz_coverage.sh <coverage machine_fuzzer> <source folder> <corpus folder>...
set -euo pipefail
usage="usage: fuzz_coverage.sh <coverage machine_fuzzer> <source folder> <corpus folder>..."
fuzzer=${1:?$usage}
source_dir=${2:?$usage}
shift 2
[ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
profiles=$(mktemp -d)
trap 'rm -rf "$profiles"' EXIT
LLVM_PROFILE_FILE="$profiles/replay.profraw" "$fuzzer" -runs=0 -detect_leaks=0 "$@" 2>"$profiles/replay.log" ||
    { tail -n 30 "$profiles/replay.log"; exit 1; }
llvm-profdata merge -sparse "$profiles/replay.profraw" -o "$profiles/replay.profdata"
llvm-cov report "$fuzzer" -instr-profile="$profiles/replay.profdata" "$source_dir/src"
