#!/usr/bin/env bash
# The real destpick.exe under Wine on simulated disks (scripts/wine-run.sh) against the native build
# on the same description: standard output, exit code and the whole log must be the same, byte for
# byte, with time stamps and the executable's folder masked; the test driver must have refused
# nothing. Every example machine and every machine in tests/wine_disk/machines runs. A description
# the route cannot play must be listed in the table of docs/wine-disks.md, and one listed there must
# be refused. What the script refuses before Wine starts (wrong arguments, an OUTDIR that is or
# holds a build or that Windows cannot name, a description it cannot read or play) ends with the
# code its header gives and leaves the build as it was; and a run puts back every registry hive of
# the prefix, so that nothing planted in one reaches the next run.
# Skips (exit 77) only when Wine itself cannot start.
#
# Usage: wine_disk_test.sh <native build folder> <windows build folder> <wine64>
set -u
# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
wine_check_start "$@"
listed=$source_dir/docs/wine-disks.md
is_listed() { grep -q "^| \`$1.json\` |" "$listed"; }

# The whole exit code that the standard output implies.
expected_exit_code() {
    local text
    text=$(cat "$1")
    case $text in
    'Destination=\\.\PHYSICALDRIVE'*) echo "${text#'Destination=\\.\PHYSICALDRIVE'}" ;;
    'Destination=UNKNOWN') echo 999 ;;
    '') echo 2147500037 ;; # E_FAIL: the probe gave up on a layout
    *) echo 1 ;;
    esac
}

# Standard output byte for byte, the exit code (the whole one that the output implies, its low byte
# natively), and a driver that refused and wrote nothing; then the log.
compare_runs() { # name, native folder, Wine folder
    local name=$1 native=$2 windows=$3 code wanted got
    code=$(cat "$windows/exit-code")
    wanted="$(cat "$native/stdout"), exit $(expected_exit_code "$native/stdout") ($(cat "$native/code")), unknown-requests=0 writes=0 "
    got="$(cat "$windows/stdout"), exit $code ($((code & 255))), $(tr '\n' ' ' <"$windows/driver-counts")"
    if cmp -s "$native/stdout" "$windows/stdout" && [ "$got" = "$wanted" ]; then
        pass
    else
        fail "$name: under Wine $got; natively $wanted"
    fi
    mask_log "$native/destpick.log" "$native" >"$scratch/native.log"
    mask_log "$windows/destpick.log" "$windows" >"$scratch/wine.log"
    if cmp -s "$scratch/native.log" "$scratch/wine.log"; then
        pass
    else
        fail "$name: the log differs (< native, > Wine):"
        diff "$scratch/native.log" "$scratch/wine.log" | head -n 20
    fi
}

# The arguments, split at ";" | the exit code | the start of standard error (standard output for 0)
wine_run="$source_dir/scripts/wine-run.sh"
default=$source_dir/examples/machines/default.json
out=$scratch/out
printf '{"disks": [' >"$scratch/not-json.json"
printf '{"deviceNodes": [{"instanceId": "PCI\\\\VEN_9455&DEV_6986&SUBSYS_00000000&REV_00\\\\3&8b287506&0&82"}]}' \
    >"$scratch/lower-case-id.json"
refused_runs=(
    "--capture;--help|0|usage: scripts/wine-run.sh "
    "$default|1|wine-run: usage: "
    "--verbose;$default;$out|1|wine-run: unknown option --verbose"
    "$default;$windows_dir|1|wine-run: OUTDIR $windows_dir is or holds the build folder"
    "--capture;$default;$source_dir|1|wine-run: OUTDIR $source_dir is or holds the build folder"
    "$default;$source_dir/build/wine-disk/prefix/drive_c|1|wine-run: OUTDIR $source_dir/build/wine-disk/prefix/drive_c is inside"
    "$default;$scratch/a\"b|1|wine-run: OUTDIR $scratch/a\"b: Windows cannot name"
    "$default;$scratch/a\\b|1|wine-run: OUTDIR $scratch/a\\b: Windows cannot name"
    "$scratch/missing.json;$out|5|wine_machine: $scratch/missing.json: cannot be read"
    "$scratch/not-json.json;$out|5|wine_machine: $scratch/not-json.json: not valid JSON"
    "$scratch/lower-case-id.json;$out|3|wine_machine: $scratch/lower-case-id.json: deviceNodes[0].instanceId: "
)
built_before=$(ls -l "$windows_dir")
for case in "${refused_runs[@]}"; do
    IFS=';' read -ra arguments <<<"${case%%|*}"
    expected=${case#*|}
    "$wine_run" "${arguments[@]}" >"$scratch/run.out" 2>"$scratch/run.err"
    status=$?
    said=$(cat "$scratch/run.out" "$scratch/run.err")
    if [ "$status" -eq "${expected%%|*}" ] && [ "$(printf '%s\n' "$said" | wc -l)" -eq 1 ] &&
        [[ $said == "${expected#*|}"* ]]; then
        pass
    else
        fail "wine-run.sh ${arguments[*]}: expected exit ${expected%%|*} and \"${expected#*|}...\", got $status: $said"
    fi
done
if [ "$(ls -l "$windows_dir")" = "$built_before" ] && [ ! -e "$out" ]; then
    pass "no refused run touched the build or created its OUTDIR"
else
    fail "a refused run changed $windows_dir or created $out"
fi

start=$(date +%s)
for machine in "$source_dir"/examples/machines/*.json "$source_dir"/tests/wine_disk/machines/*.json; do
    name=$(basename "$machine" .json)
    refusal=$("$native_dir/wine_machine" "$machine" "$scratch/check.reg" 2>&1)
    status=$?
    if [ "$status" -ne 0 ]; then
        if [ "$status" -ne 3 ]; then
            fail "$name: the generator failed ($status): $refusal"
        elif is_listed "$name"; then
            pass "$name: not playable under Wine, as docs/wine-disks.md lists (${refusal##*: })"
        else
            fail "$name: refused but not listed in docs/wine-disks.md: $refusal"
        fi
        continue
    fi
    if is_listed "$name"; then
        fail "$name: listed in docs/wine-disks.md as not playable, yet the generator takes it"
    fi
    native=$scratch/native/$name
    mkdir -p "$native"
    cp "$native_dir/destpick.exe" "$native/destpick.exe"
    (cd "$native" && DESTPICK_SIM_MACHINE=$machine ./destpick.exe >stdout 2>/dev/null)
    echo $? >"$native/code"
    windows=$scratch/wine/$name
    wine_route "$machine" "$windows" || {
        fail "$name: the run under Wine failed ($?): $(cat "$scratch/run.err")"
        continue
    }
    compare_runs "$name" "$native" "$windows"
    echo "$name: $(wc -l <"$scratch/wine.log") log lines, exit code $(cat "$windows/exit-code")"
done
echo "$(($(date +%s) - start)) s in all"

# A key planted in each hive of the prefix, as an import of an earlier run could leave one: the
# next run must start from the hives as the prefix was made, and Wine writes its hives back when
# it ends, so none may still hold the key.
prefix=$source_dir/build/wine-disk/prefix
hives=(system.reg user.reg userdef.reg)
for hive in "${hives[@]}"; do
    printf '\n[Software\\\\DestpickPlanted] 1796777742\n"planted"="1"\n' >>"$prefix/$hive"
done
if wine_route "$default" "$scratch/after-planting"; then
    kept=$(cd "$prefix" && grep -l DestpickPlanted "${hives[@]}")
    if [ -z "$kept" ]; then pass "every hive put back before the run"; else fail "a key planted before the run is still in $kept"; fi
else
    fail "the run after planting failed: $(cat "$scratch/run.err")"
fi
finish
