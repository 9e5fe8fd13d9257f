#!/usr/bin/env bash
# scripts/replay.sh as a fleet check: of two machines, one answers as expected and one does not;
# only that one is named, and the script ends with 1. Each machine's answer, log and decision table
# are printed. A malformed expectation line ends it with 2; machines of one name in two folders,
# and one named ...json, get logs of their own inside the log folder, and nothing but logs is written.
#
# Usage: replay_test.sh <native build folder> <source dir>
set -u
build=${1:?usage: replay_test.sh <native build folder> <source dir>}
source_dir=${2:?usage: replay_test.sh <native build folder> <source dir>}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export DESTPICK_NATIVE_BUILD_DIR=$build

mkdir -p "$scratch/fleet/other"
cp "$source_dir"/examples/machines/vmd-raid.json "$source_dir"/examples/machines/vmd-refused.json \
    "$scratch/fleet/"
cp "$source_dir"/examples/machines/vmd-raid.json "$scratch/fleet/other/"
cp "$source_dir"/examples/machines/empty.json "$scratch/fleet/other/...json"
# vmd-refused.json answers disk 1: the line for it is the change.
printf '# machine destination\nvmd-raid.json \\\\.\\PHYSICALDRIVE0\nvmd-refused.json 0\n' >"$scratch/fleet/expected.txt"
"$source_dir/scripts/replay.sh" --expect "$scratch/fleet/expected.txt" --logs "$scratch/logs" \
    "$scratch/fleet" >"$scratch/out" 2>&1
code=$?
if [ "$code" -eq 1 ] && [ "$(grep -c '^changed: ' "$scratch/out")" -eq 1 ] &&
    grep -qxF "changed: $scratch/fleet/vmd-refused.json: expected 0, answered 1" "$scratch/out"; then
    pass "the changed machine alone is named"
else
    fail "expected exit 1 naming vmd-refused.json alone, got $code:"
    cat "$scratch/out"
fi
for expected_line in 'answer: Destination=\\.\PHYSICALDRIVE0' "log: $scratch/logs/vmd-raid.log" \
    "log: $scratch/logs/other/vmd-raid.log" "log: $scratch/logs/other/...log" \
    '    | position | disk | bus' '4 machines: 1 changed, 0 missing, 0 refused'; do
    if grep -qF -- "$expected_line" "$scratch/out"; then pass; else fail "no line \"$expected_line\""; fi
done
if [ "$(cd "$scratch/logs" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = \
    "./other/...log ./other/vmd-raid.log ./vmd-raid.log ./vmd-refused.log " ]; then
    pass "a log of its own for every machine, and nothing else"
else
    fail "the log folder holds: $(cd "$scratch/logs" && find . | tr '\n' ' ')"
fi
if [ -z "$(ls "$scratch" | grep -v -e '^fleet$' -e '^logs$' -e '^out$')" ]; then pass; else fail "files beside the logs"; fi

# What changed, what is missing and what was refused the fleet names (fleet_cli_test.sh), and which
# lines are malformed is FleetBaseline's table; here, a malformed line ends the script with 2.
printf 'vmd-raid.json disk-zero\n' >"$scratch/fleet/bad.txt"
"$source_dir/scripts/replay.sh" --expect "$scratch/fleet/bad.txt" --logs "$scratch/logs" \
    "$scratch/fleet/vmd-raid.json" >"$scratch/out" 2>&1
code=$?
if [ "$code" -eq 2 ] && grep -q '^replay: .*bad.txt:1: not "description answer"' "$scratch/out"; then
    pass
else
    fail "a malformed expectation line: exit $code, $(cat "$scratch/out")"
fi
finish
