#!/usr/bin/env bash
# The native destpick.exe run as a user runs it: from a folder of its own, on the embedded
# default machine or on a machine description named by DESTPICK_SIM_MACHINE.
set -u
exe=$1
source_dir=$2
# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

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

# The output and the exit code (its low byte, 231 for 999) that answer the disk or UNKNOWN.
answer() { if [ "$1" = UNKNOWN ]; then echo "Destination=UNKNOWN/231"; else echo "Destination=\\\\.\\PHYSICALDRIVE$1/$(($1 & 255))"; fi; }

whole_entries() { # log: each line one entry with its stamp at the start only, the last one ended
    local stamp='\[[ 0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\] '
    ! LC_ALL=C grep -avE "^$stamp" "$1" && ! LC_ALL=C grep -aqE ".$stamp" "$1" &&
        [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" = "0a" ]
}

# The embedded default machine: a decision, and a log beside the executable that ends with it.
run "$scratch/default" destpick.exe
check "default machine answers with its exit code: $out ($code)" [ "$out/$code" = "$(answer "${out##*[E=]}")" ]
check "default machine log beside the executable" grep -q "ExeFileName=\[destpick\]" "$scratch/default/destpick.log"
check "every log line one whole entry" whole_entries "$scratch/default/destpick.log"
check "the log ends with the report" bash -c 'tail -n 1 "$1" | grep -q "] $2"' _ "$scratch/default/destpick.log" "${out//\\/\\\\}"

# Every shipped machine gets the destination its description names.
declare -A destinations=(
    [default]=0 [nvme-sata-ssd-hdd]=2 [card-reader-and-removable]=0 [unopenable-disk]=1
    [raw-and-mbr]=1 [optane-and-tg]=2 [layout-retry]=0 [nvme-gen4-beside-gen3]=1
    [vmd-raid]=0 [vmd-refused]=1 [no-device-property-function]=0 [empty]=UNKNOWN
)
for machine in "$source_dir"/examples/machines/*.json; do
    name=$(basename "$machine" .json)
    run "$scratch/example-$name" destpick.exe "$machine"
    check "example $name: $out ($code)" [ "$out/$code" = "$(answer "${destinations[$name]:-unlisted}")" ]
done

# Whatever the loader meets, the process ends before the system runs, the same way: exit 78, one
# line naming the file and the field, nothing on standard output and no log. No text: no file.
declare -A refused=(
    [bad]='{"disks": [{"path": "a", "colour": "red"}]}|disks[0].colour: unknown field'
    [huge-number]='{"description": 1e400}|description: number overflow'
    [duplicate]='{"disks": [], "disks": []}|disks: duplicate field'
    [controller-path]='{"disks": [{"path": "\\\\.\\scsi0:"}]}|disks[0].path: names a SCSI controller'
    [missing]='|cannot be read'
)
for name in "${!refused[@]}"; do
    text=${refused[$name]%%|*}
    if [ -n "$text" ]; then printf '%s' "$text" >"$scratch/$name.json"; fi
    run "$scratch/$name" destpick.exe "$scratch/$name.json"
    check "$name description: exit $code, one line naming the field, no output nor log: $err" bash -c \
        '[ "$1/$2/$3" = 78//destpick.exe ] && [ "$(wc -l <<<"$4")" -eq 1 ] && [[ "$4" == "destpick (simulated machine): $5"* ]]' \
        _ "$code" "$out" "$(ls "$scratch/$name")" "$err" "$scratch/$name.json: ${refused[$name]#*|}"
done

# Start-up failure: a name without extension.
run "$scratch/noext" destpick
# Standard output is in text mode, as on Windows: the message's "\r\n" goes out as "\r\r\n".
check "no extension: message, exit code 1, no log" \
    [ "$out/$code/$(ls "$scratch/noext")" = "$(printf 'Could not found the exe file name. \r\r')/1/destpick" ]

# A version.dll planted beside the executable (any case of the name): main limits the DLL search
# to the system folder before the run, so the stand-in's loader never takes it, and the run
# answers as without it. Loading it would end the run with the stand-in's exit code 77.
mkdir -p "$scratch/planted"
printf 'not the system version.dll' >"$scratch/planted/Version.DLL"
run "$scratch/planted" destpick.exe "$source_dir/examples/machines/empty.json"
check "planted version.dll: not loaded, the run answers as without it ($err)" \
    [ "$err/$out/$code" = "/$(answer UNKNOWN)" ]
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
mkdir -p "$scratch/full"
if private_mounts_work; then
    export -f full_disk_runs whole_entries
    with_private_mounts bash -c 'full_disk_runs "$@"' _ "$exe" \
        "$source_dir/examples/machines/default.json" "$scratch/full"
    check "full disk: the first run's log filled its page with whole entries, and it answered" bash -c \
        '[ "$(wc -c <"$1.first.log")" -gt 3000 ] && whole_entries "$1.first.log" && grep -q ^Destination= "$1.first.out"' _ "$scratch/full"
    check "full disk: the next run starts a line of its own" \
        bash -c 'whole_entries "$1.log" && [ "$(grep -ac "] ExeVersion=\[" "$1.log")" -eq 2 ]' _ "$scratch/full"
else
    echo "SKIPPED: full disk (no mount namespace here)"
fi

finish
