#!/usr/bin/env bash
# wine_machine refuses every description that the Wine route cannot play exactly, with exit code 3
# and one line naming the field, and one it cannot read with exit code 2; and it takes one that
# uses every answer the route can play.
#
# Usage: wine_machine_test.sh <wine_machine>
set -u
generator=${1:?usage: wine_machine_test.sh <wine_machine>}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

path() { printf '"\\\\\\\\?\\\\scsi#disk&ven_a&prod_%s#1&2&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"' "$1"; }
D0="{\"path\": $(path zero)"
D1="{\"path\": $(path one)"
NVME='"deviceDescriptor": {"busType": "nvme"}'
OPENS='"open": "opens"'

# The field the refusal must name (and the start of its reason, where another one could also name
# the field) | the description
cases=(
    "classQueryFails|{\"classQueryFails\": true}"
    "enumeratorSets|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B\"}], \"enumeratorSets\": [{\"enumerator\": \"A\\\\B\"}]}"
    "devicePropertyFunctionMissing|{\"devicePropertyFunctionMissing\": true}"
    "deviceNodes[0].idFails|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B\", \"idFails\": true}]}"
    "deviceNodes[1].instanceId|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B\"}, {\"instanceId\": \"a\\\\b\"}]}"
    "deviceNodes[0].instanceId: a lower-case|{\"deviceNodes\": [{\"instanceId\": \"PCI\\\\VEN_9455&DEV_6986&SUBSYS_00000000&REV_00\\\\3&8b287506&0&82\"}]}"
    "deviceNodes[0].instanceId: a control|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B]\\r\\n[HKEY_CURRENT_USER\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run]\\r\\n\\\"x\\\"=\\\"y\\\"\"}]}"
    "deviceNodes[0].instanceId: a control|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B]C\"}]}"
    "deviceNodes[0].instanceId: a control|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B\\u0085C\"}]}"
    "deviceNodes[0].parent|{\"deviceNodes\": [{\"instanceId\": \"A\\\\B\", \"parent\": \"A\\\\C\"}]}"
    "interfaceLists[1]|{\"disks\": [$D0}, $D1}], \"interfaceLists\": [[1, 0], [1]]}"
    "interfaceLists[0]|{\"disks\": [$D0}, $D1}], \"interfaceLists\": [[1]]}"
    "disks[0].path|{\"disks\": [{\"path\": \"\\\\\\\\.\\\\PhysicalDrive0\"}]}"
    "disks[0].path: a control|{\"disks\": [{\"path\": $(path 'a\nb')}]}"
    "disks[0].path: a control|{\"disks\": [{\"path\": $(path 'a]b')}]}"
    "disks[0].path: names a registry key of 256|{\"disks\": [{\"path\": $(path "$(printf 'x%.0s' {1..174})")}]}"
    "deviceNodes[0].instanceId: names a registry key of 256|{\"deviceNodes\": [{\"instanceId\": \"A\\\\$(printf 'X%.0s' {1..256})\"}]}"
    "disks[1].path|{\"disks\": [$D0}, $D0}]}"
    "disks[0].detailReportsNoSize|{\"disks\": [$D0, \"detailReportsNoSize\": true}]}"
    "disks[0].detailError|{\"disks\": [$D0, \"detailError\": 5}]}"
    "disks[0].openError|{\"disks\": [$D0, \"openError\": 5}]}"
    "disks[0].geometry.error|{\"disks\": [$D0, \"geometry\": {\"error\": 9999}}]}"
    "disks[0].layout.failureError|{\"disks\": [$D0, \"layout\": {\"style\": \"raw\", \"failures\": 1, \"failureError\": 0}}]}"
    "controllers[0].open|{\"controllers\": [{\"open\": \"null\"}]}"
    "controllers[0].openError|{\"controllers\": [{\"open\": \"fails\", \"openError\": 5}]}"
    "controllers[0].lastError|{\"controllers\": [{$OPENS, \"lastError\": 183}]}"
    "controllers[0].bytesReturned|{\"controllers\": [{$OPENS, \"bytesReturned\": 45}]}"
    "controllers[0].reply|{\"controllers\": [{$OPENS, \"bytesReturned\": 2, \"reply\": {\"bytes\": \"010203\"}}]}"
    "controllers[0].bytesReturned|{\"controllers\": [{$OPENS, \"result\": false, \"lastError\": 1}]}"
    "controllers[0].reply|{\"controllers\": [{$OPENS, \"result\": false, \"lastError\": 1, \"bytesReturned\": 0, \"reply\": {\"bytes\": \"00\"}}]}"
    "controllers[0].lastError|{\"controllers\": [{$OPENS, \"result\": false, \"bytesReturned\": 0}]}"
    "controllers[0].diskAnswers[0].lastError|{\"controllers\": [{$OPENS, \"diskAnswers\": [{\"diskId\": 1, \"lastError\": 5}]}]}"
)
for case in "${cases[@]}"; do
    field=${case%%|*}
    printf '%s' "${case#*|}" >"$scratch/machine.json"
    message=$("$generator" "$scratch/machine.json" "$scratch/machine.reg" 2>&1)
    status=$?
    if [ "$status" -eq 3 ] && [ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] &&
        [[ $message == "wine_machine: $scratch/machine.json: $field"* ]]; then
        pass
    else
        fail "$field: expected a one-line refusal naming it, got exit $status: $message"
    fi
done

# What the machine model itself refuses comes through as its one line, with the exit code of a
# description that cannot be read: the route is not what fails there.
# The description | the end of the one line
unreadable=(
    '{"colour": 1}|colour: unknown field'
    '{"disks": [|not valid JSON: *'
    '|cannot be read: No such file or directory'
)
for case in "${unreadable[@]}"; do
    rm -f "$scratch/machine.json"
    [ -z "${case%%|*}" ] || printf '%s' "${case%%|*}" >"$scratch/machine.json"
    message=$("$generator" "$scratch/machine.json" "$scratch/machine.reg" 2>&1)
    status=$?
    # shellcheck disable=SC2053 # the expected end is a pattern
    if [ "$status" -eq 2 ] && [[ $message == "wine_machine: $scratch/machine.json: "${case#*|} ]]; then
        pass
    else
        fail "${case#*|}: expected exit 2 and that line, got exit $status: $message"
    fi
done

# Every answer the route plays, in one description.
cat >"$scratch/machine.json" <<EOF
{"disks": [$D1, "openError": 2}, $D0, $NVME, "seekPenalty": {"error": 1784},
           "layout": {"style": "gpt", "failures": "always", "failureError": 21}}],
 "interfaceLists": [[1, 0], [1, 0]],
 "deviceNodes": [{"instanceId": "SCSI\\\\DISK&VEN_A&PROD_ZERO\\\\1&2&0&000000", "parent": "pci\\\\x",
                  "busReportedDescription": "d\\"q\\" \\\\"},
                 {"instanceId": "PCI\\\\X", "maxLinkSpeed": {"bytes": "04"}}],
 "controllers": [{"open": "fails"},
                 {$OPENS, "result": false, "lastError": 21, "bytesReturned": 0,
                  "diskAnswers": [{"diskId": 7, "bytesReturned": 44, "reply": {"bytes": "1c"}}]}]}
EOF
if message=$("$generator" "$scratch/machine.json" "$scratch/machine.reg" 2>&1) && [ -s "$scratch/machine.reg" ]; then
    pass "a description of every playable answer is taken"
else
    fail "a description of every playable answer refused: $message"
fi
finish
