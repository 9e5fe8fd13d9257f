#!/usr/bin/env bash
# The native destpick.exe run as a user runs it: from a folder of its own, on the embedded
# default machine or on a machine description named by DESTPICK_SIM_MACHINE.
set -u
exe=$1
source_dir=$2
# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
passed=0
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check() { # name, condition...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
    fi
}

run() { # folder, exe name, [machine file]; sets out, err, code
    local folder=$1 name=$2
    mkdir -p "$folder"
    cp "$exe" "$folder/$name"
    if [ $# -ge 3 ]; then
        out=$(cd "$folder" && DESTPICK_SIM_MACHINE=$3 "./$name" 2>"$folder/stderr")
    else
        out=$(cd "$folder" && env -u DESTPICK_SIM_MACHINE "./$name" 2>"$folder/stderr")
    fi
    code=$?
    err=$(cat "$folder/stderr")
    rm -f "$folder/stderr"
}

# The default machine: a decision on standard output, its number (low byte) as exit code.
run "$scratch/default" destpick.exe
check "default machine prints a decision" \
    bash -c '[[ "$1" =~ ^Destination=(UNKNOWN|\\\\\.\\PHYSICALDRIVE[0-9]+)$ ]]' _ "$out"
if [ "$out" = "Destination=UNKNOWN" ]; then expected=231; else expected=$((${out##*PHYSICALDRIVE} & 255)); fi
check "default machine exit code matches the report (got $code)" [ "$code" -eq "$expected" ]
check "default machine log beside the executable" grep -q "ExeFileName=\[destpick\]" "$scratch/default/destpick.log"
check "every log line begins with its stamp" \
    bash -c '! grep -avE "^\[[ 0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\] " "$1"' _ "$scratch/default/destpick.log"
check "the log ends with the report" bash -c 'tail -n 1 "$1" | grep -q "] $2"' _ "$scratch/default/destpick.log" "${out//\\/\\\\}"

# An empty machine, as Wine presents one.
run "$scratch/empty" destpick.exe "$source_dir/examples/machines/empty.json"
check "empty machine reports UNKNOWN" [ "$out" = "Destination=UNKNOWN" ]
check "empty machine exits with 999 (231 in the shell)" [ "$code" -eq 231 ]

# Every shipped machine gets the destination its description names.
declare -A destinations=(
    [default]=0 [nvme-sata-ssd-hdd]=2 [card-reader-and-removable]=0 [unopenable-disk]=1
    [raw-and-mbr]=1 [optane-and-tg]=2 [layout-retry]=0 [nvme-gen4-beside-gen3]=1
    [vmd-raid]=0 [vmd-refused]=1 [no-device-property-function]=0 [empty]=UNKNOWN
)
for machine in "$source_dir"/examples/machines/*.json; do
    name=$(basename "$machine" .json)
    run "$scratch/example-$name" destpick.exe "$machine"
    expected=${destinations[$name]:-unlisted}
    if [ "$expected" = UNKNOWN ]; then want="Destination=UNKNOWN"; else want="Destination=\\\\.\\PHYSICALDRIVE$expected"; fi
    check "example $name: $out" [ "$out" = "$want" ]
done

# A description with a mistake is refused before the system runs.
printf '{"disks": [{"path": "a", "colour": "red"}]}' >"$scratch/bad.json"
run "$scratch/bad" destpick.exe "$scratch/bad.json"
check "refused description exits with 78" [ "$code" -eq 78 ]
check "refusal names the file and the field" bash -c '[[ "$1" == *bad.json*disks\[0\].colour*unknown\ field* ]]' _ "$err"
check "refusal prints nothing on standard output" [ -z "$out" ]
check "refusal writes no log" [ ! -e "$scratch/bad/destpick.log" ]
# Whatever the loader meets ends the process the same way: exit 78 and one line naming the field.
declare -A hostile=(
    [huge-number]='{"description": 1e400}|description: number overflow'
    [duplicate]='{"disks": [], "disks": []}|disks: duplicate field'
    [controller-path]='{"disks": [{"path": "\\\\.\\scsi0:"}]}|disks[0].path: names a SCSI controller'
)
for name in "${!hostile[@]}"; do
    printf '%s' "${hostile[$name]%%|*}" >"$scratch/$name.json"
    run "$scratch/$name" destpick.exe "$scratch/$name.json"
    check "$name description exits with 78 (got $code)" [ "$code" -eq 78 ]
    check "$name description gives one line naming the field: $err" bash -c \
        '[ "$(wc -l <<<"$1")" -eq 1 ] && [[ "$1" == "destpick (simulated machine): $2"* ]]' _ \
        "$err" "$scratch/$name.json: ${hostile[$name]#*|}"
done
run "$scratch/missing" destpick.exe "$scratch/none.json"
check "missing description exits with 78" [ "$code" -eq 78 ]
check "missing description is named" bash -c '[[ "$1" == *none.json*cannot\ be\ read* ]]' _ "$err"

# Start-up failure: a name without extension.
run "$scratch/noext" destpick
# Standard output is in text mode, as on Windows: the message's "\r\n" goes out as "\r\r\n".
check "no extension: message" [ "$out" = "$(printf 'Could not found the exe file name. \r\r')" ]
check "no extension: exit code 1" [ "$code" -eq 1 ]
check "no extension: no log" [ -z "$(ls "$scratch/noext" | grep -v '^destpick$')" ]

# A version.dll planted beside the executable (any case of the name): main limits the DLL search
# to the system folder before the run, so the stand-in's loader never takes it, and the run
# answers as without it. Loading it would end the run with the stand-in's exit code 77.
mkdir -p "$scratch/planted"
printf 'not the system version.dll' >"$scratch/planted/Version.DLL"
run "$scratch/planted" destpick.exe "$source_dir/examples/machines/empty.json"
check "planted version.dll: not loaded ($err)" [ -z "$err" ]
check "planted version.dll: the run answers UNKNOWN with 999 (231)" \
    bash -c '[ "$1" = "Destination=UNKNOWN" ] && [ "$2" -eq 231 ]' _ "$out" "$code"
check "planted version.dll: the version read from the system's" \
    grep -qs "ExeVersion=\[[0-9.]*\]" "$scratch/planted/destpick.log"

# A full file system: the log's folder is a tmpfs of one page, in a mount namespace of its own, the
# executable bound into it. Entries that find no room are lost whole, and the next run, once the
# disk has room again, starts a line of its own.
full_disk_runs() { # exe, machine, folder
    mount -t tmpfs -o size=4k tmpfs "$3" && touch "$3/destpick.exe" &&
        mount --bind "$1" "$3/destpick.exe" || return 1
    (cd "$3" && DESTPICK_SIM_MACHINE=$2 ./destpick.exe >"$3.first.out" 2>&1)
    cp "$3/destpick.log" "$3.first.log"
    mount -o remount,size=64k "$3"
    (cd "$3" && DESTPICK_SIM_MACHINE=$2 ./destpick.exe >/dev/null 2>&1)
    cp "$3/destpick.log" "$3.log"
}
whole_entries() { # log: each line one entry with its stamp at the start only, the last one ended
    local stamp='\[[ 0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\] '
    ! LC_ALL=C grep -avE "^$stamp" "$1" && ! LC_ALL=C grep -aqE ".$stamp" "$1" &&
        [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" = "0a" ]
}
mkdir -p "$scratch/full"
if private_mounts_work; then
    export -f full_disk_runs
    with_private_mounts bash -c 'full_disk_runs "$@"' _ "$exe" \
        "$source_dir/examples/machines/default.json" "$scratch/full"
    check "full disk: the first run's log holds only whole entries" whole_entries "$scratch/full.first.log"
    check "full disk: the log filled its page" [ "$(wc -c <"$scratch/full.first.log")" -gt 3000 ]
    check "full disk: the run answered all the same" grep -q '^Destination=' "$scratch/full.first.out"
    check "full disk: after it, only whole entries" whole_entries "$scratch/full.log"
    check "full disk: the next run starts a line" \
        [ "$(grep -ac '] ExeVersion=\[' "$scratch/full.log")" -eq 2 ]
else
    echo "SKIPPED: full disk (no mount namespace here)"
fi

echo "native_cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
