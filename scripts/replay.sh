#!/usr/bin/env bash
# Replays machine descriptions (captures of real machines, or any other) with the native build:
# per machine its answer, where its log is, and the decision table destpick-explain makes of it.
# With --expect, a fleet check: every machine whose answer is not the expected one is named, and
# the script ends with 1.
#
# Usage: scripts/replay.sh [--expect FILE] [--logs DIR] MACHINE.json...|FOLDER...
#   FOLDER stands for the .json files directly in it, in name order.
#   --expect FILE  lines "machine-file destination"; machine-file is relative to FILE's folder
#                  (or absolute); destination is the disk number, \\.\PHYSICALDRIVE<n>, UNKNOWN,
#                  or "none" for a run that gives no answer. Blank lines and lines starting
#                  with # are skipped.
#   --logs DIR     where each machine's folder with its log goes (default build/sim/replay, or
#                  replay/ in DESTPICK_NATIVE_BUILD_DIR); each run starts with a fresh log.
# Exit code: 0 every machine ran (and gave its expected answer); 1 an answer differs from the
# expected one, or a description was refused; 2 a wrong command line or expectation file.
#
# Builds the sim preset first (as scripts/run-default.sh does), unless DESTPICK_NATIVE_BUILD_DIR
# names a build folder that already holds destpick.exe and destpick-explain.exe.
set -u
usage="usage: scripts/replay.sh [--expect FILE] [--logs DIR] MACHINE.json...|FOLDER..."
root=$(cd "$(dirname "$0")/.." && pwd -P)

die() { # message
    echo "replay: $1" >&2
    exit 2
}

expect_file=""
logs=""
inputs=()
while [ $# -gt 0 ]; do
    case $1 in
    --expect) [ $# -ge 2 ] || die "$usage"; expect_file=$2; shift 2 ;;
    --logs) [ $# -ge 2 ] || die "$usage"; logs=$2; shift 2 ;;
    -h | --help) echo "$usage"; exit 0 ;;
    -*) die "unknown option $1; $usage" ;;
    *) inputs+=("$1"); shift ;;
    esac
done
[ ${#inputs[@]} -gt 0 ] || die "$usage"

machines=()
for input in "${inputs[@]}"; do
    if [ -d "$input" ]; then
        found=$(find "$input" -maxdepth 1 -type f -name '*.json' | LC_ALL=C sort)
        [ -n "$found" ] || die "$input holds no .json file"
        mapfile -t -O "${#machines[@]}" machines <<<"$found"
    elif [ -f "$input" ]; then
        machines+=("$input")
    else
        die "no file or folder $input"
    fi
done

# A destination as the comparison takes it: the disk number, UNKNOWN or none.
canonical() {
    case $1 in
    'Destination=UNKNOWN' | UNKNOWN) echo UNKNOWN ;;
    'Destination=\\.\PHYSICALDRIVE'*) echo "${1#'Destination=\\.\PHYSICALDRIVE'}" ;;
    '\\.\PHYSICALDRIVE'*) echo "${1#'\\.\PHYSICALDRIVE'}" ;;
    none | '') echo none ;;
    *[!0-9]*) return 1 ;;
    *) echo "$((10#$1))" ;;
    esac
}

declare -A expected=()
if [ -n "$expect_file" ]; then
    [ -f "$expect_file" ] || die "no expectation file $expect_file"
    expect_dir=$(cd "$(dirname "$expect_file")" && pwd -P)
    line_number=0
    while IFS= read -r line || [ -n "$line" ]; do
        line_number=$((line_number + 1))
        line=${line%$'\r'}
        [[ -z ${line//[[:space:]]/} || $line =~ ^[[:space:]]*# ]] && continue
        read -r file destination rest <<<"$line"
        want=$(canonical "${destination:-}") && [ -n "${destination:-}" ] && [ -z "${rest:-}" ] ||
            die "$expect_file:$line_number: not \"machine-file destination\": $line"
        [[ $file == /* ]] || file=$expect_dir/$file
        expected[$(realpath -m "$file")]=$want
    done <"$expect_file"
fi

build=${DESTPICK_NATIVE_BUILD_DIR:-}
if [ -z "$build" ]; then
    build=$root/build/sim
    (cd "$root" && scripts/setup.sh && cmake --preset sim >/dev/null &&
        cmake --build --preset sim --target destpick destpick_explain >/dev/null) ||
        die "the native build failed"
fi
for built in destpick.exe destpick-explain.exe; do
    [ -x "$build/$built" ] || die "no $build/$built"
done
logs=${logs:-$build/replay}
mkdir -p "$logs" && logs=$(cd "$logs" && pwd -P) || die "cannot create $logs"

# The answer as one line: what destpick printed, and its exit code where the output does not say.
answer_text() { # stdout file, exit code (low byte)
    local text
    text=$(cat "$1")
    case $text in
    Destination=*) echo "$text" ;;
    '') echo "no answer (exit code $2; 5 is the low byte of E_FAIL: the probe gave up on a layout)" ;;
    *) echo "no answer: \"$text\" (exit code $2)" ;;
    esac
}

changed=()
declare -A used_names=()
for machine in "${machines[@]}"; do
    name=$(basename "$machine" .json)
    # Two machines of one name in different folders get folders of their own.
    count=${used_names[$name]:-0}
    used_names[$name]=$((count + 1))
    [ "$count" -eq 0 ] || name=$name-$((count + 1))
    folder=$logs/$name
    mkdir -p "$folder" || die "cannot create $folder"
    rm -f "$folder/destpick.log" "$folder/stdout" "$folder/stderr"
    cp "$build/destpick.exe" "$folder/destpick.exe"
    machine_path=$(realpath "$machine")
    (cd "$folder" && DESTPICK_SIM_MACHINE=$machine_path ./destpick.exe >stdout 2>stderr)
    code=$?
    echo "== $machine"
    if [ "$code" -eq 78 ] && [ -s "$folder/stderr" ]; then
        echo "refused: $(cat "$folder/stderr")"
        changed+=("$machine (refused)")
        echo
        continue
    fi
    echo "answer: $(answer_text "$folder/stdout" "$code")"
    echo "log: $folder/destpick.log"
    if [ -n "$expect_file" ]; then
        got=$(canonical "$(cat "$folder/stdout")") || got="none"
        want=${expected[$machine_path]-}
        if [ -z "$want" ]; then
            echo "expected: nothing listed in $expect_file"
        elif [ "$got" = "$want" ]; then
            echo "expected: $want, as answered"
        else
            echo "expected: $want, CHANGED to $got"
            changed+=("$machine (expected $want, answered $got)")
        fi
    fi
    echo
    "$build/destpick-explain.exe" "$folder/destpick.log" 2>&1 | sed 's/^./    &/'
    echo
done

if [ ${#changed[@]} -gt 0 ]; then
    echo "${#changed[@]} of ${#machines[@]} machines changed:"
    printf '  %s\n' "${changed[@]}"
    exit 1
fi
if [ -n "$expect_file" ]; then
    echo "all ${#machines[@]} machines answered as expected"
fi
exit 0
