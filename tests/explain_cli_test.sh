#!/usr/bin/env bash
# destpick-explain run as a service engineer runs it: on the logs the native destpick.exe writes
# on every example machine (real time stamps), on a log of two runs, on that log cut short, on
# the log of a run whose probe gave up on a layout, on logs of two machines' runs at once, on a
# log an editor saved, on a line of 200 MB under a memory limit, on a pinned example log, and on
# files that hold no complete run or are no log at all.
#
# Usage: explain_cli_test.sh <destpick-explain.exe> <native destpick.exe> <source folder>
set -u
explain=${1:?usage: explain_cli_test.sh <destpick-explain.exe> <destpick.exe> <source folder>}
destpick=${2:?usage: explain_cli_test.sh <destpick-explain.exe> <destpick.exe> <source folder>}
source_dir=${3:?usage: explain_cli_test.sh <destpick-explain.exe> <destpick.exe> <source folder>}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
machines=$source_dir/examples/machines

# Explains a log; leaves out, err and code.
run_explain() {
    out=$("$explain" "$@" 2>"$scratch/err")
    code=$?
    err=$(cat "$scratch/err")
}

# Runs destpick.exe in a folder of its own on a machine; leaves answer and status. Runs in the
# same folder append to the same log.
run_machine() { # folder, machine file
    mkdir -p "$1"
    cp "$destpick" "$1/destpick.exe"
    answer=$(cd "$1" && DESTPICK_SIM_MACHINE=$2 ./destpick.exe 2>/dev/null)
    status=$?
}

has_line() { printf '%s\n' "$1" | grep -qxF -- "$2"; }
one_error_line() { [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [[ "$err" == "destpick-explain: "* ]]; }

# --- Every example machine's own log ------------------------------------------------------------
for machine in "$machines"/*.json; do
    name=$(basename "$machine" .json)
    run_machine "$scratch/$name" "$machine"
    run_explain "$scratch/$name/destpick.log"
    check "$name: explained (exit $code: $err)" [ "$code" -eq 0 ]
    check "$name: the answer is what destpick printed" has_line "$out" "Answer: $answer"
    check "$name: the run's stamp and version" \
        bash -c '[[ "$1" =~ ^"Run of ["[0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}"], destpick "[0-9.]+": run 1 of 1 in this log" ]]' _ "$(head -n 1 <<<"$out")"
    chosen_rows=$(grep -c '| chosen ' <<<"$out")
    if [ "$answer" = "Destination=UNKNOWN" ]; then expected_rows=0; else expected_rows=1; fi
    check "$name: $expected_rows chosen row(s), got $chosen_rows" [ "$chosen_rows" -eq "$expected_rows" ]
done

# --- Two runs in one log, then that log cut short --------------------------------------------------
run_machine "$scratch/two" "$machines/default.json"
run_machine "$scratch/two" "$machines/vmd-refused.json"
run_explain "$scratch/two/destpick.log"
check "two runs: the second is explained" grep -q ': run 2 of 2 in this log$' <<<"$out"
check "two runs: the second run's answer" has_line "$out" 'Answer: Destination=\\.\PHYSICALDRIVE1'

head -c -200 "$scratch/two/destpick.log" >"$scratch/cut.log"
run_explain "$scratch/cut.log"
check "cut short: explained (exit $code)" [ "$code" -eq 0 ]
check "cut short: the first run is explained" grep -q ': run 1 of 2 in this log$' <<<"$out"
check "cut short: says the last run did not finish" grep -q '^Note: the last run in this log, of \[.*\], did not finish' <<<"$out"
check "cut short: the first run's answer" has_line "$out" 'Answer: Destination=\\.\PHYSICALDRIVE0'

# --- Two machines running destpick from one share at once ------------------------------------------
# Each trial's explanation is that of one machine's run as it is alone, or names both runs as
# overlapping; never a table of lines of both.
without_heading() { tail -n +2 <<<"$1"; }
run_explain "$scratch/default/destpick.log"
alone_default=$(without_heading "$out")
run_explain "$scratch/vmd-refused/destpick.log"
alone_refused=$(without_heading "$out")
stamp='\[[0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\]'
overlap_error="no complete run: the runs of $stamp and $stamp overlap"
overlapped=0
mixed=0
for trial in $(seq 50); do
    folder=$scratch/shared-$trial
    mkdir -p "$folder"
    cp "$destpick" "$folder/destpick.exe"
    (cd "$folder" && DESTPICK_SIM_MACHINE=$machines/default.json ./destpick.exe >/dev/null) &
    (cd "$folder" && DESTPICK_SIM_MACHINE=$machines/vmd-refused.json ./destpick.exe >/dev/null) &
    wait
    run_explain "$folder/destpick.log"
    if [ "$code" -eq 4 ] && [[ "$err" =~ $overlap_error ]]; then
        overlapped=$((overlapped + 1))
    elif [ "$code" -ne 0 ] || { [ "$(without_heading "$out")" != "$alone_default" ] &&
        [ "$(without_heading "$out")" != "$alone_refused" ]; }; then
        mixed=$((mixed + 1))
        echo "runs at once: trial $trial: exit $code: $err"
    fi
done
echo "runs at once: $overlapped of 50 trials overlapped"
check "runs at once: no trial mixed two runs ($mixed did)" [ "$mixed" -eq 0 ]

# --- A log saved by an editor: byte order mark, trailing blanks trimmed, line feeds alone --------------
run_explain "$scratch/two/destpick.log"
unedited=$out
{ printf '\xEF\xBB\xBF'; sed -E 's/[ \r]+$//' "$scratch/two/destpick.log"; } >"$scratch/edited.log"
run_explain "$scratch/edited.log"
check "edited: explained as before (exit $code)" [ "$out" = "$unedited" ]

# --- A line of 200 MB, under a memory limit of 100 MB ---------------------------------------------------
# Lines are read in bounded pieces. A build that needs more to start (a sanitizer's) skips this.
{ cat "$scratch/default/destpick.log"; head -c 200000000 /dev/zero | tr '\0' x; printf '\r\n'
  cat "$scratch/vmd-refused/destpick.log"; } >"$scratch/huge-line.log"
if (ulimit -v 100000 && "$explain" "$scratch/two/destpick.log" >/dev/null 2>&1); then
    out=$(ulimit -v 100000 && "$explain" "$scratch/huge-line.log" 2>"$scratch/err")
    code=$?
    check "huge line: explained within the limit (exit $code)" [ "$code" -eq 0 ]
    check "huge line: the run after it" grep -q ': run 2 of 2 in this log$' <<<"$out"
else
    echo "huge line: skipped, the tool does not start within 100 MB"
fi
rm -f "$scratch/huge-line.log"

# --- Choosing a run, listing the runs, and the decision for scripts ------------------------------
run_explain --run 1 "$scratch/two/destpick.log"
check "--run 1: the first of two runs, without a note" \
    bash -c '[[ $1 == *": run 1 of 2 in this log"* && $1 != *Note:* ]]' _ "$out"
run_explain --run 3 "$scratch/two/destpick.log"
check "--run 3 of 2: exit 4, got $code" [ "$code" -eq 4 ]
run_explain --all "$scratch/cut.log"
check "--all: the complete run numbered" grep -qE '^1 +\[.*\] destpick [0-9.]+ Destination=\\\\\.\\PHYSICALDRIVE0$' <<<"$out"
check "--all: the cut run not" grep -qE '^- +\[.*\] destpick [0-9.]+ did not finish: its log ends in ' <<<"$out"
run_explain --format csv "$scratch/two/destpick.log"
check "--format csv: a header and the second run's row" \
    bash -c '[ "$(wc -l <<<"$1")" -eq 2 ] && [[ $1 == file,computer,captured,stdout,exitCode,* ]]' _ "$out"
check "--format csv: the second run's answer and exit code" \
    grep -qF ',Destination=\\.\PHYSICALDRIVE1,1,' <<<"$out"
run_explain --format json --run 1 "$scratch/two/destpick.log"
check "--format json: one object whose candidates are the table's" \
    bash -c '[ "$(jq -r "[.exitCode, .run, .runs, (.candidates | length)] | @tsv" <<<"$1")" = "$(printf "0\t1\t2\t3")" ]' _ "$out"
for wrong in "--format xml" "--run 0" "--run -1" "--all --run 1" "--format"; do
    # shellcheck disable=SC2086
    run_explain $wrong "$scratch/two/destpick.log"
    check "$wrong: exit 1, got $code" [ "$code" -eq 1 ]
done
run_explain --version
check "--version: the tool and its version" bash -c '[[ $1 =~ ^"destpick-explain "[0-9.]+$ ]]' _ "$out"

# --- A run whose probe gives up on a layout ----------------------------------------------------------
# layout-retry's hard disk, whose layout requests now fail for ever.
sed 's/"failures": 2/"failures": "always"/' "$machines/layout-retry.json" >"$scratch/gives-up.json"
run_machine "$scratch/gives-up" "$scratch/gives-up.json"
check "gives up: destpick prints nothing and fails (exit $status)" \
    bash -c '[ -z "$1" ] && [ "$2" -ne 0 ]' _ "$answer" "$status"
run_explain "$scratch/gives-up/destpick.log"
check "gives up: explained (exit $code)" [ "$code" -eq 0 ]
check "gives up: no answer, and the disk" has_line "$out" "Answer: no answer: the probe gave up on disk 1's layout"
check "gives up: the failure line is among the odd things" \
    grep -qF -- "- position 1: Failed to get paritions by IOCTL_DISK_GET_DRIVE_LAYOUT_EX, error code = [0x00000015]." <<<"$out"

# --- The whole text, pinned ----------------------------------------------------------------------------
run_explain "$source_dir/tests/example_logs/default.log"
check "default.log: the text is tests/explain_logs/default.txt" \
    cmp -s <(printf '%s\n' "$out") "$source_dir/tests/explain_logs/default.txt"

# --- No explanation: one line on standard error and an exit code of its own ------------------------------
run_explain "$scratch/no such.log"
check "missing file: exit 2, got $code" [ "$code" -eq 2 ]
check "missing file: one line on stderr" one_error_line
run_explain "$scratch"
check "a folder: exit 2, got $code" [ "$code" -eq 2 ]
run_explain "$machines/default.json"
check "a machine description: exit 3, got $code" [ "$code" -eq 3 ]
check "a machine description: one line on stderr" one_error_line
head -c 3000 "$scratch/default/destpick.log" >"$scratch/only-cut.log"
run_explain "$scratch/only-cut.log"
check "only a cut run: exit 4, got $code" [ "$code" -eq 4 ]
check "only a cut run: one line on stderr" one_error_line
check "only a cut run: nothing on stdout" [ -z "$out" ]
run_explain
check "no argument: exit 1, got $code" [ "$code" -eq 1 ]
check "no argument: the usage on stderr" grep -q '^Usage: destpick-explain .*LOG$' <<<"$err"
run_explain --help
check "--help: exit 0, got $code" [ "$code" -eq 0 ]
check "--help: lists the exit codes" grep -q '^  4  the log holds no complete run' <<<"$out"
finish
