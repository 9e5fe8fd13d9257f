#!/usr/bin/env bash
# destpick-fleet as a team runs it: on every example and a few hundred generated descriptions, each
# machine's answer, exit code and whole log are those of destpick.exe run on the same description
# as a process; worker counts and shards change nothing in the rows; no file is written unless
# asked; a fleet check names what changed, what is missing and what was refused; a wrong command
# line or baseline ends it with 2.
#
# Usage: fleet_cli_test.sh <destpick-fleet> <destpick.exe> <write_generated_machines> <source dir> [count]
set -u
usage="usage: fleet_cli_test.sh <destpick-fleet> <destpick.exe> <write_generated_machines> <source dir> [count]"
fleet=${1:?$usage}
destpick=${2:?$usage}
generate=${3:?$usage}
source_dir=${4:?$usage}
count=${5:-300}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$scratch/fleet/examples" "$scratch/fleet/generated" "$scratch/run" "$scratch/cwd"
cp "$source_dir"/examples/machines/*.json "$scratch/fleet/examples/"
# One name in two folders, and one that is all dots before .json: each gets a log of its own.
cp "$source_dir"/examples/machines/default.json "$scratch/fleet/generated/"
cp "$source_dir"/examples/machines/empty.json "$scratch/fleet/generated/...json"
"$generate" "$count" "$scratch/fleet/generated" || fail "the generated descriptions"
cp "$destpick" "$scratch/run/destpick.exe"

# --- Faithful: every row, exit code and log as destpick.exe's own -------------------------------
(cd "$scratch/cwd" && "$fleet" --format jsonl --logs "$scratch/logs" "$scratch/fleet") \
    >"$scratch/rows.jsonl" 2>"$scratch/err"
check "the fleet replays every machine, its one note the verdicts' sum (exit $?): $(cat "$scratch/err")" \
    grep -qxE 'destpick-fleet: numbering: [0-9]+ stable, [0-9]+ depends-on-numbering, [0-9]+ unknown-under-some' "$scratch/err"
machines=$(find "$scratch/fleet" -name '*.json' | wc -l)
check "one row per machine" [ "$(wc -l <"$scratch/rows.jsonl")" -eq "$machines" ]
check "every row has its 19 fields" jq -e -s 'all(.[]; keys | length == 19)' "$scratch/rows.jsonl" >/dev/null
check "nothing is written where it runs" [ -z "$(ls -A "$scratch/cwd")" ]
# Each description run by destpick.exe, its log kept under the name the fleet gives it; then both
# trees masked at once (time stamps, and the folders the two runs had) and compared whole.
differing=0
while IFS=$'\x01' read -r file code output; do
    rm -f "$scratch/run/destpick.log"
    got=$(cd "$scratch/run" && DESTPICK_SIM_MACHINE=$file ./destpick.exe 2>/dev/null)
    status=$?
    log=${file#"$scratch/fleet/"}
    mkdir -p "$(dirname "$scratch/exe-logs/$log")"
    mv "$scratch/run/destpick.log" "$scratch/exe-logs/${log%.json}.log"
    if [ "$got" != "$output" ] || [ "$status" -ne "$code" ]; then
        differing=$((differing + 1))
        [ "$differing" -gt 3 ] || fail "$file: destpick.exe printed \"$got\", exit $status; the fleet \"$output\", exit $code"
    fi
done < <(jq -r '"\(.file)\u0001\(.exitCode % 256)\u0001\(.stdout)"' "$scratch/rows.jsonl")
check "$differing of $machines machines answer otherwise than destpick.exe" [ "$differing" -eq 0 ]
stamp='s/^\[[ 0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\] /[stamp] /'
run_folder="Z:${scratch//\//\\}\\run"
find "$scratch/logs" -type f -exec sed -i -E -e "$stamp" -e 's/Z:\\destpick-fleet/<folder>/g' {} +
find "$scratch/exe-logs" -type f -exec sed -i -E -e "$stamp" {} +
find "$scratch/exe-logs" -type f -exec env FOLDER="$run_folder" perl -pi -e 's/\Q$ENV{FOLDER}\E/<folder>/g' {} +
check "every log is destpick.exe's, line for line" diff -r "$scratch/logs" "$scratch/exe-logs"

# --- Workers and shards change nothing ------------------------------------------------------------
"$fleet" --jobs 1 "$scratch/fleet" >"$scratch/one.csv"
"$fleet" --jobs 3 "$scratch/fleet" >"$scratch/three.csv"
check "three workers give one worker's rows" cmp -s "$scratch/one.csv" "$scratch/three.csv"
"$fleet" --shard 1/2 "$scratch/fleet" >"$scratch/shard1.csv"
"$fleet" --shard 2/2 "$scratch/fleet" | tail -n +2 >"$scratch/shard2.csv"
check "two shards together are the whole run" cmp -s <(cat "$scratch/shard1.csv" "$scratch/shard2.csv") "$scratch/one.csv"
check "CSV rows end in CRLF" bash -c '[ "$(grep -c $'"'"'\r$'"'"' "$1")" -eq "$(wc -l <"$1")" ]' _ "$scratch/one.csv"

# --- A fleet check ------------------------------------------------------------------------------
examples=$scratch/fleet/examples
"$fleet" --write-baseline "$scratch/expected.txt" "$examples" >/dev/null
check "the baseline has a line per machine" [ "$(wc -l <"$scratch/expected.txt")" -eq "$(ls "$examples" | wc -l)" ]
"$fleet" --expect "$scratch/expected.txt" "$examples" >/dev/null 2>"$scratch/err"
check "the baseline is expected of the same fleet (exit $?)" \
    grep -qx "destpick-fleet: 12 machines: 0 changed, 0 missing, 0 refused" "$scratch/err"
sed -i 's|^fleet/examples/vmd-refused.json\t1$|fleet/examples/vmd-refused.json\t0|' "$scratch/expected.txt"
printf 'fleet/examples/gone away.json\tUNKNOWN\n' >>"$scratch/expected.txt"
printf '{"disks": 3}' >"$examples/broken.json"
"$fleet" --expect "$scratch/expected.txt" "$examples" >"$scratch/rows.csv" 2>"$scratch/err"
code=$?
check "changed, missing and refused: exit 1, got $code" [ "$code" -eq 1 ]
for line in "changed: $examples/vmd-refused.json: expected 0, answered 1" \
    "missing: fleet/examples/gone away.json ($scratch/expected.txt line 13) was not found" \
    "13 machines: 1 changed, 1 missing, 1 refused"; do
    check "names \"$line\"" grep -qF -- "destpick-fleet: $line" "$scratch/err"
done
check "the refused description's row says why" grep -q "^$examples/broken.json,.*disks" "$scratch/rows.csv"

# --- The command line ---------------------------------------------------------------------------------
check "--version" bash -c '[[ $("$1" --version) =~ ^"destpick-fleet "[0-9.]+$ ]]' _ "$fleet"
check "--help" bash -c '"$1" --help | grep -q "^Usage: destpick-fleet"' _ "$fleet"
# Which baseline lines are malformed is FleetBaseline's table; here, one ends the check with 2.
printf '# a comment\n%s\n' 'm1.json \\.\PHYSICALDRIVE' >"$scratch/bad.txt"
for wrong in "--jobs 0 $examples" "--shard 3/2 $examples" "--shard 1 $examples" "--format xml $examples" \
    "--what $examples" "" "$scratch/nowhere" "--expect $scratch/bad.txt $examples"; do
    # shellcheck disable=SC2086
    "$fleet" $wrong >/dev/null 2>&1
    code=$?
    check "\"$wrong\": exit 2, got $code" [ "$code" -eq 2 ]
done
finish
