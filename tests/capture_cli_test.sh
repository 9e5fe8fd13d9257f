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

# Two machines the field meets, beside the examples: an empty card-reader slot, which destpick
# skips as removable and whose every request fails as not ready (21), and a disk whose layout never
# comes, on which destpick gives up.
nvme_disk='"path": "\\\\?\\scsi#disk&ven_nvme&prod_model_x100#4&2c41e0aa&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
  "deviceNumber": {"deviceNumber": 0}, "deviceDescriptor": {"busType": "nvme"},
  "geometry": {"cylinders": 124519, "tracksPerCylinder": 255, "sectorsPerTrack": 63, "bytesPerSector": 512}'
slot_disk='"path": "\\\\?\\usbstor#disk&ven_generic&prod_sd_reader#000000000001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
  "deviceNumber": {"deviceNumber": 1}, "deviceDescriptor": {"busType": "usb", "removable": true},
  "seekPenalty": {"error": 21}, "geometry": {"error": 21}, "scsiAddress": {"error": 21}'
mkdir -p "$scratch/field"
cat >"$scratch/field/empty-card-slot.json" <<EOF
{"disks": [{$nvme_disk, "layout": {"style": "gpt"}},
           {$slot_disk, "layout": {"style": "mbr", "failures": "always", "failureError": 21}}]}
EOF
cat >"$scratch/field/layout-never-comes.json" <<EOF
{"disks": [{$nvme_disk, "layout": {"style": "gpt", "failures": "always", "failureError": 21}},
           {$slot_disk, "layout": {"error": 21}}]}
EOF

# --- Round trip on every example machine and the field's ------------------------------------------
for machine in "$source_dir"/examples/machines/*.json "$scratch"/field/*.json; do
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

# The replay gives up where destpick gave up, with the layout's error, and answers beside the slot.
if grep -q '\[Disk0\] Failed to get paritions by IOCTL_DISK_GET_DRIVE_LAYOUT_EX, error code = \[0x00000015\]' \
    "$scratch/layout-never-comes/replay/destpick.log" &&
    [ "$(cat "$scratch/empty-card-slot/replay/stdout")" = 'Destination=\\.\PHYSICALDRIVE0' ]; then
    pass
else
    fail "the field machines: no give-up line, or no answer beside the empty slot"
fi

# --- The command line ------------------------------------------------------------------------------
tool=$scratch/tool
mkdir -p "$tool" "$scratch/elsewhere"
cp "$capture" "$tool/destpick-capture.exe"
machine=$source_dir/examples/machines/default.json

run_capture() { # folder to run from, arguments...: sets out, err, code
    local folder=$1
    shift
    (cd "$folder" && DESTPICK_SIM_MACHINE=$machine "$tool/destpick-capture.exe" "$@" >"$scratch/stdout" 2>"$scratch/stderr")
    take_output $?
}
take_output() { # exit code: sets code, and out and err from the files the run wrote
    code=$1
    out=$(tr -d '\r' <"$scratch/stdout")
    err=$(tr -d '\r' <"$scratch/stderr")
}
one_line_failure() { # expected code, case name, [how the line ends]
    if [ "$code" -eq "$1" ] && [ -z "$out" ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] &&
        [[ $err == "destpick-capture: "*"${3-}" ]]; then
        pass
    else
        fail "$2: expected exit $1 and one line on standard error${3:+ ending \"$3\"}, got $code, out \"$out\", err \"$err\""
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
# Every failure is one line on standard error; the in-process tests go through them all. An option
# it does not know is refused rather than taken for a file's name ("/v" at the root of the drive),
# and so are a disk's and a DOS device's name.
for refused in 1:/v 1:-v 1:--verbose 4:nul.json '4:\\.\PHYSICALDRIVE0'; do
    run_capture "$scratch/elsewhere" "${refused#*:}"
    one_line_failure "${refused%%:*}" "${refused#*:}"
done
left=$(find "$scratch/elsewhere" /v -maxdepth 1 \( -iname 'nul*' -o -name v -o -name '-*' \) 2>/dev/null)
if [ -z "$left" ]; then pass; else fail "a refused argument left a file: $left"; fi
run_capture "$scratch/elsewhere" --version
if [ "$code" -eq 0 ] && [[ $out =~ ^destpick-capture\ [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] &&
    [ ! -e "$scratch/elsewhere/--version" ]; then
    pass
else
    fail "--version: exit $code, printed \"$out\""
fi
# A file that cannot be written whole is not left behind: the disk fills up after its first
# kilobyte.
(
    trap '' XFSZ
    ulimit -f 1
    cd "$scratch/elsewhere" &&
        DESTPICK_SIM_MACHINE=$machine "$tool/destpick-capture.exe" cut.json >"$scratch/stdout" 2>"$scratch/stderr"
)
take_output $?
one_line_failure 4 "a full disk" ": the disk is full"
if [ -e "$scratch/elsewhere/cut.json" ]; then fail "a full disk: the cut file is left behind"; else pass; fi
# A full file system (a tmpfs whose one page is taken): Windows says the disk is full, and no file
# is left.
if private_mounts_work; then
    mkdir -p "$scratch/full"
    with_private_mounts bash -c 'mount -t tmpfs -o size=4k tmpfs "$1" && cd "$1" && head -c 4096 /dev/zero >taken &&
        DESTPICK_SIM_MACHINE=$2 "$3" full.json; echo $? >"$4/code"; ls -A "$1" >"$4/left"' _ \
        "$scratch/full" "$machine" "$tool/destpick-capture.exe" "$scratch" \
        >"$scratch/stdout" 2>"$scratch/stderr"
    take_output "$(cat "$scratch/code")"
    one_line_failure 4 "a full file system" ": the disk is full"
    if [ "$(cat "$scratch/left")" = taken ]; then pass; else fail "a full file system: left $(cat "$scratch/left")"; fi
else
    echo "SKIPPED: a full file system (no mount namespace here)"
fi
# The path that cannot be printed: the file is written all the same, and the exit code says so.
(cd "$scratch/elsewhere" && DESTPICK_SIM_MACHINE=$machine "$tool/destpick-capture.exe" unprinted.json >/dev/full 2>/dev/null)
code=$?
if [ "$code" -eq 5 ] && [ -s "$scratch/elsewhere/unprinted.json" ]; then pass; else fail "unprinted path: exit $code"; fi
finish
