#!/usr/bin/env bash
# scripts/replay.sh as a fleet check: of two machines, one answers as expected and one does not;
# only that one is named, and the script ends with 1. Each machine's answer, log and decision table
# are printed; an expectation file it cannot read ends it with 2.
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

mkdir -p "$scratch/fleet"
cp "$source_dir"/examples/machines/vmd-raid.json "$source_dir"/examples/machines/vmd-refused.json \
    "$scratch/fleet/"
# vmd-refused.json answers disk 1: the line for it is the change.
printf '# machine destination\nvmd-raid.json \\\\.\\PHYSICALDRIVE0\nvmd-refused.json 0\n' >"$scratch/fleet/expected.txt"
"$source_dir/scripts/replay.sh" --expect "$scratch/fleet/expected.txt" --logs "$scratch/logs" \
    "$scratch/fleet" >"$scratch/out" 2>&1
code=$?
summary=$(sed -n '/machines changed:$/,$p' "$scratch/out")
if [ "$code" -eq 1 ] && [ "$(printf '%s\n' "$summary" | wc -l)" -eq 2 ] &&
    [[ $summary == *"vmd-refused.json (expected 0, answered 1)" ]]; then
    pass "the changed machine alone is named"
else
    fail "expected exit 1 naming vmd-refused.json alone, got $code:"
    cat "$scratch/out"
fi
for expected_line in 'answer: Destination=\\.\PHYSICALDRIVE0' 'expected: 0, as answered' \
    "log: $scratch/logs/vmd-raid/destpick.log" '    | position | disk | bus'; do
    if grep -qF -- "$expected_line" "$scratch/out"; then pass; else fail "no line \"$expected_line\""; fi
done
if [ -s "$scratch/logs/vmd-refused/destpick.log" ]; then pass; else fail "no log for vmd-refused"; fi

printf 'vmd-raid.json disk-zero\n' >"$scratch/fleet/bad.txt"
"$source_dir/scripts/replay.sh" --expect "$scratch/fleet/bad.txt" --logs "$scratch/logs" \
    "$scratch/fleet/vmd-raid.json" >"$scratch/out" 2>&1
code=$?
if [ "$code" -eq 2 ] && grep -q 'bad.txt:1: not "machine-file destination"' "$scratch/out"; then
    pass
else
    fail "a wrong expectation line: exit $code, $(cat "$scratch/out")"
fi
finish
