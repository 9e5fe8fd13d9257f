#!/usr/bin/env bash
# Replays machine descriptions (captures of real machines, or any other) with destpick-fleet: per
# machine its answer, where its log is, and the decision table destpick-explain makes of it. With
# --expect, a fleet check: every machine whose answer is not the expected one, every listed
# machine that is missing and every refused description is named, and the script ends with 1.
# For a fleet of hundreds or more, run build/sim/destpick-fleet itself: rows instead of tables.
#
# Usage: scripts/replay.sh [--expect FILE] [--logs DIR] MACHINE.json...|FOLDER...
#   FOLDER stands for every .json file below it, in sorted order.
#   --expect FILE  lines "machine-file destination"; machine-file is relative to FILE's folder
#                  (or absolute) and may hold blanks; destination is the disk number,
#                  \\.\PHYSICALDRIVE<n>, UNKNOWN, or "none" for a run that gives no answer. Blank
#                  lines and lines starting with # are skipped; any other line is an error.
#   --logs DIR     where the logs go (default build/sim/replay, or replay/ in
#                  DESTPICK_NATIVE_BUILD_DIR): each machine's log is named after its path below
#                  the folder it was found in (a file's own name for a file given), .json
#                  becoming .log, with -2, -3, ... for a name already taken; each run starts with
#                  a fresh log.
# Exit code: 0 every machine ran (and gave its expected answer); 1 an answer differs from the
# expected one, a listed machine is missing, or a description was refused; 2 a wrong command line
# or expectation file; 3 a log could not be written.
#
# Builds the sim preset first (as scripts/run-default.sh does), unless DESTPICK_NATIVE_BUILD_DIR
# names a build folder that already holds destpick-fleet and destpick-explain.exe.
set -u
usage="usage: scripts/replay.sh [--expect FILE] [--logs DIR] MACHINE.json...|FOLDER..."
root=$(cd "$(dirname "$0")/.." && pwd -P)

die() { # message
    echo "replay: $1" >&2
    exit 2
}

fleet_options=()
logs=""
inputs=()
while [ $# -gt 0 ]; do
    case $1 in
    --expect) [ $# -ge 2 ] || die "$usage"; fleet_options+=(--expect "$2"); shift 2 ;;
    --logs) [ $# -ge 2 ] || die "$usage"; logs=$2; shift 2 ;;
    -h | --help) echo "$usage"; exit 0 ;;
    -*) die "unknown option $1; $usage" ;;
    *) inputs+=("$1"); shift ;;
    esac
done
[ ${#inputs[@]} -gt 0 ] || die "$usage"

build=${DESTPICK_NATIVE_BUILD_DIR:-}
if [ -z "$build" ]; then
    build=$root/build/sim
    (cd "$root" && scripts/setup.sh && cmake --preset sim >/dev/null &&
        cmake --build --preset sim --target destpick_fleet destpick_explain >/dev/null) ||
        die "the native build failed"
fi
for built in destpick-fleet destpick-explain.exe; do
    [ -x "$build/$built" ] || die "no $build/$built"
done
logs=${logs:-$build/replay}

# The log names destpick-fleet gives, in its order: the path below the folder given, or a file's
# own name, made unique.
declare -A taken=()
log_names=()
name_logs() {
    local input relative name stem copy
    for input in "${inputs[@]}"; do
        if [ -d "$input" ]; then
            while IFS= read -r -d '' relative; do
                log_names+=("$relative")
            done < <(cd "$input" && find . -xtype f -iname '*.json' -printf '%P\0' | LC_ALL=C sort -z)
        else
            log_names+=("$(basename -- "$input")")
        fi
    done
    for i in "${!log_names[@]}"; do
        stem=${log_names[$i]:0:${#log_names[$i]}-5}
        name=$stem.log
        copy=1
        while [ -n "${taken[$name]:-}" ]; do copy=$((copy + 1)); name=$stem-$copy.log; done
        taken[$name]=1
        log_names[$i]=$name
    done
}

# The answer as one line: what destpick printed, and its exit code where the output does not say.
answer_text() { # stdout, exit code
    case $1 in
    Destination=*) echo "$1" ;;
    '') echo "no answer (exit code $2; 2147500037 is E_FAIL: the probe gave up on a layout)" ;;
    *) echo "no answer: \"$1\" (exit code $2)" ;;
    esac
}

rows=$(mktemp)
trap 'rm -f "$rows" "$rows.err"' EXIT
"$build/destpick-fleet" --format jsonl --logs "$logs" "${fleet_options[@]}" -- "${inputs[@]}" \
    >"$rows" 2>"$rows.err"
code=$?
[ "$code" -ne 2 ] || { sed 's/^destpick-fleet: /replay: /' "$rows.err" >&2; rm -f "$rows.err"; exit 2; }
name_logs
index=0
while IFS=$'\x01' read -r file refused exit_code output; do
    log=$logs/${log_names[$index]}
    index=$((index + 1))
    echo "== $file"
    if [ -n "$refused" ]; then
        echo "refused: $refused"
        echo
        continue
    fi
    echo "answer: $(answer_text "$output" "$exit_code")"
    echo "log: $log"
    echo
    "$build/destpick-explain.exe" "$log" 2>&1 | sed 's/^./    &/'
    echo
done < <(jq -r '"\(.file)\u0001\(.refused)\u0001\(.exitCode // "")\u0001\(.stdout)"' "$rows")
sed 's/^destpick-fleet: //' "$rows.err"
rm -f "$rows.err"
exit "$code"
