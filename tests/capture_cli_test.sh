#!/usr/bin/env bash
# The native destpick-capture.exe run as an engineer runs it. Every example machine is captured to a
# file, and destpick.exe run on that file must print, exit and log exactly as on the machine itself
# (time stamps and folder masked). Then what only a real process shows: where the file goes, what
# is printed, and how a failure ends.
#
# Usage: capture_cli_test.sh <destpick-capture.exe> <destpick.exe> <source dir>
set -u
usage="usage: capture_cli_test.sh <destpick-capture.exe> <destpick.exe> <source dir>"
capture=${1:?$usage}
destpick=${2:?$usage}
source_dir=${3:?$usage}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run_destpick() { # folder, machine file: leaves stdout and code in the folder
    mkdir -p "$1"
    cp "$destpick" "$1/destpick.exe"
    (cd "$1" && DESTPICK_SIM_MACHINE=$2 ./destpick.exe >stdout 2>/dev/null)
    echo $? >"$1/code"
}

# --- Round trip on every example machine ---------------------------------------------------------
for machine in "$source_dir"/examples/machines/*.json; do
    name=$(basename "$machine" .json)
    original=$scratch/$name/original
    captured=$scratch/$name/capture
    replayed=$scratch/$name/replay
    run_destpick "$original" "$machine"
    mkdir -p "$captured"
    cp "$capture" "$captured/destpick-capture.exe"
    printed=$(cd "$captured" && DESTPICK_SIM_MACHINE=$machine ./destpick-capture.exe machine.json 2>&1)
    status=$?
    if [ "$status" -ne 0 ] || [ "$printed" != $'machine.json\r' ]; then
        fail "$name: the capture ended with $status: $printed"
        continue
    fi
    run_destpick "$replayed" "$captured/machine.json"
    if cmp -s "$original/stdout" "$replayed/stdout" && cmp -s "$original/code" "$replayed/code"; then
        pass
    else
        fail "$name: replayed \"$(cat "$replayed/stdout")\" ($(cat "$replayed/code")), on the machine \"$(cat "$original/stdout")\" ($(cat "$original/code"))"
    fi
    mask_log "$original/destpick.log" "$original" >"$scratch/original.log"
    mask_log "$replayed/destpick.log" "$replayed" >"$scratch/replayed.log"
    if cmp -s "$scratch/original.log" "$scratch/replayed.log"; then
        pass
    else
        fail "$name: the replay's log differs (< machine, > replay):"
        diff "$scratch/original.log" "$scratch/replayed.log" | head -n 20
    fi
done

# --- The command line ------------------------------------------------------------------------------
tool=$scratch/tool
mkdir -p "$tool" "$scratch/elsewhere"
cp "$capture" "$tool/destpick-capture.exe"
machine=$source_dir/examples/machines/default.json
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

run_capture() { # folder to run from, arguments...: sets out, err, code
    local folder=$1
    shift
    (cd "$folder" && DESTPICK_SIM_MACHINE=$machine "$tool/destpick-capture.exe" "$@" >"$scratch/stdout" 2>"$scratch/stderr")
    code=$?
    out=$(tr -d '\r' <"$scratch/stdout")
    err=$(cat "$scratch/stderr")
}
one_line_failure() { # expected code, case name
    if [ "$code" -eq "$1" ] && [ -z "$out" ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] &&
        [[ $err == "destpick-capture: "* ]]; then
        pass
    else
        fail "$2: expected exit $1 and one line on standard error, got $code, out \"$out\", err \"$err\""
    fi
}

# Without a name: beside the executable, named after the computer and the UTC time, whatever the
# folder it is started from; the printed path is the file's.
run_capture "$scratch/elsewhere"
written=$(find "$tool" -name '*.json')
if [ "$code" -eq 0 ] && [[ $(basename "$written") =~ ^[A-Z0-9_-]+-[0-9]{8}-[0-9]{6}Z\.json$ ]] &&
    [ "$out" = "$(windows_path "$written")" ]; then
    pass "beside itself: $(basename "$written")"
else
    fail "beside itself: exit $code, printed \"$out\", wrote \"$written\""
fi
# A relative name is taken from the folder it runs in.
run_capture "$scratch/elsewhere" sub/../relative.json
if [ "$code" -eq 0 ] && [ "$out" = "sub/../relative.json" ] && [ -s "$scratch/elsewhere/relative.json" ]; then
    pass
else
    fail "relative name: exit $code, printed \"$out\""
fi
# Every failure is one line on standard error; the in-process tests go through them all.
run_capture "$scratch/elsewhere" '\\.\PHYSICALDRIVE0'
one_line_failure 4 "a disk"
# A file that cannot be written whole is not left behind: the disk fills up after its first
# kilobyte.
(
    trap '' XFSZ
    ulimit -f 1
    cd "$scratch/elsewhere" &&
        DESTPICK_SIM_MACHINE=$machine "$tool/destpick-capture.exe" cut.json >"$scratch/stdout" 2>"$scratch/stderr"
)
code=$?
out=$(tr -d '\r' <"$scratch/stdout")
err=$(cat "$scratch/stderr")
one_line_failure 4 "a full disk"
if [ -e "$scratch/elsewhere/cut.json" ]; then fail "a full disk: the cut file is left behind"; else pass; fi
# The path that cannot be printed: the file is written all the same, and the exit code says so.
(cd "$scratch/elsewhere" && DESTPICK_SIM_MACHINE=$machine "$tool/destpick-capture.exe" unprinted.json >/dev/full 2>/dev/null)
code=$?
if [ "$code" -eq 5 ] && [ -s "$scratch/elsewhere/unprinted.json" ]; then pass; else fail "unprinted path: exit $code"; fi
finish
