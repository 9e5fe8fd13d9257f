#!/usr/bin/env bash
# destpick-ts.exe under Wine on simulated disks (scripts/wine-run.sh --ts): from a read-only
# package folder, inside the test task sequence environment (tests/wine_disk/ts_environment.c),
# whose variables still hold a disk an earlier step left there. On every example machine the
# route plays, and on one whose layout never fits, destpick's log lands in the log folder as the
# native build writes it, and nothing else is left there or in the package. Where the native build
# names a disk, OSDDiskIndex and DESTPICK_DESTINATION name it and the exit code is 0; on no disk
# and on the layout given up, both are cleared, with 6 and 7. Without destpick.exe in the package
# they are cleared with 3; a variable named on the command line is the one set; and --dry-run
# outside a task sequence sets nothing and says what it would set.
# Skips (exit 77) only when Wine itself cannot start.
#
# Usage: wine_ts_test.sh <native build folder> <windows build folder> <wine64>
set -u
# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
wine_check_start "$@"
export LC_ALL=C

# Runs destpick-ts.exe with the arguments on the machine, in a task sequence or outside one;
# leaves $run (its folder), $code and $out.
run_ts() { # inside|outside, label, machine, arguments...
    local where=$1 label=$2 machine=$3
    shift 3
    run=$scratch/$label
    mkdir -p "$run/logs"
    if [ "$where" = inside ]; then
        printf '%s\n' "_SMSTSLogPath=$(windows_path "$run/logs")" OSDDiskIndex=7 \
            'DESTPICK_DESTINATION=\\.\PHYSICALDRIVE7' >"$run/variables"
    fi
    wine_route --ts "$machine" "$run" "$@" || {
        fail "$label: the run under Wine failed ($?): $(cat "$scratch/run.err")"
        return 1
    }
    code=$(cat "$run/exit-code")
    out=$(tr -d '\r' <"$run/stdout")
}

value() { sed -n "s/^$1=//p" "$run/variables" | tail -n 1; }
# What a run left: exit code/OSDDiskIndex/DESTPICK_DESTINATION/TargetDisk.
state() {
    if [ -e "$run/variables" ]; then
        echo "$code/$(value OSDDiskIndex)/$(value DESTPICK_DESTINATION)/$(value TargetDisk)"
    else
        echo "$code/no variables"
    fi
}
expect() { # label, wanted state, lines the run must print...
    local label=$1 wanted=$2 line unsaid=
    shift 2
    for line; do grep -qxF "$line" <<<"$out" || unsaid+=" \"$line\""; done
    if [ "$(state)" = "$wanted" ] && [ -z "$unsaid" ]; then
        pass "$label: $wanted"
    else
        fail "$label: left $(state), not $wanted; did not print$unsaid: $out"
    fi
}

expect_native_log() { # label, native folder
    local listed
    listed="$(ls "$run/logs" | tr '\n' ' ')| $(ls "$run/package" | tr '\n' ' ')"
    if [ "$listed" = "destpick.log | destpick-ts.exe destpick.exe " ] &&
        cmp -s <(mask_log "$2/destpick.log" "$2") <(mask_log "$run/logs/destpick.log" "$run/logs"); then
        pass
    else
        fail "$1: the log folder and the package hold $listed; their destpick.log against the native one:"
        diff <(mask_log "$2/destpick.log" "$2") <(mask_log "$run/logs/destpick.log" "$run/logs") | head -n 5
    fi
}

drive='\\.\PHYSICALDRIVE'
start=$(date +%s)
for machine in "$source_dir"/examples/machines/*.json "$source_dir"/tests/wine_disk/machines/layout-never-fits.json; do
    name=$(basename "$machine" .json)
    # What the route cannot play, the wine_disks check lists.
    "$native_dir/wine_machine" "$machine" "$scratch/check.reg" >/dev/null 2>&1 || continue
    native=$scratch/native/$name
    mkdir -p "$native"
    cp "$native_dir/destpick.exe" "$native/destpick.exe"
    answer=$(cd "$native" && DESTPICK_SIM_MACHINE=$machine ./destpick.exe 2>/dev/null)
    run_ts inside "$name" "$machine" || continue
    case $answer in
    "Destination=$drive"*) disk=${answer#"Destination=$drive"} &&
        expect "$name" "0/$disk/$drive$disk/" "Set OSDDiskIndex=$disk" ;;
    'Destination=UNKNOWN') expect "$name" 6/// ;;
    '') expect "$name" 7/// ;;
    *) fail "$name: the native build answers \"$answer\"" ;;
    esac
    expect_native_log "$name" "$native"
done

default=$source_dir/examples/machines/default.json
run_ts inside named "$default" TargetDisk && expect "TargetDisk named" "0/7/${drive}0/0" "Set TargetDisk=0"
without=$scratch/build-without-destpick
mkdir "$without"
for built in destpick-ts.exe destpick_disk.sys wine_launcher.exe destpick_test_tsenv.dll; do
    ln -s "$windows_dir/$built" "$without/$built"
done
DESTPICK_WINDOWS_BUILD_DIR=$without run_ts inside missing "$default" && expect "no destpick.exe" 3///
run_ts outside dry-run "$default" --dry-run && expect "--dry-run outside a task sequence" "0/no variables" \
    "Would set OSDDiskIndex=0" "Would set DESTPICK_DESTINATION=${drive}0" &&
    { grep -q '^Not in a task sequence (' <<<"$out" || fail "--dry-run outside: did not say so: $out"; }
echo "$(($(date +%s) - start)) s in all"
finish
