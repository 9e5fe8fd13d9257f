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
usage="usage: wine_ts_test.sh <native build folder> <windows build folder> <wine64>"
native_dir=${1:?$usage}
windows_dir=$(cd "${2:?$usage}" && pwd -P)
wine=${3:?$usage}
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export DESTPICK_NATIVE_BUILD_DIR=$native_dir DESTPICK_WINDOWS_BUILD_DIR=$windows_dir DESTPICK_WINE=$wine
export LC_ALL=C
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Runs destpick-ts.exe with the arguments on the machine, in a task sequence or outside one;
# leaves $run (its folder), $code and $out.
run_ts() { # inside|outside, label, machine, arguments...
    local where=$1 label=$2 machine=$3 status
    shift 3
    run=$scratch/$label
    mkdir -p "$run/logs"
    if [ "$where" = inside ]; then
        printf '%s\n' "_SMSTSLogPath=$(windows_path "$run/logs")" OSDDiskIndex=7 \
            'DESTPICK_DESTINATION=\\.\PHYSICALDRIVE7' >"$run/variables"
    fi
    "$source_dir/scripts/wine-run.sh" --ts "$machine" "$run" "$@" 2>"$scratch/run.err"
    status=$?
    if [ "$status" -eq 4 ]; then
        echo "SKIP: Wine cannot start here: $(cat "$scratch/run.err")"
        exit 77
    elif [ "$status" -ne 0 ]; then
        fail "$label: the run under Wine failed ($status): $(cat "$scratch/run.err")"
        return 1
    fi
    code=$(cat "$run/exit-code")
    out=$(tr -d '\r' <"$run/stdout")
}

value() { sed -n "s/^$1=//p" "$run/variables" | tail -n 1; }

expect_set() { # label, disk, variable
    local label=$1 disk=$2 variable=$3
    if [ "$code" -eq 0 ] && [ "$(value "$variable")" = "$disk" ] &&
        [ "$(value DESTPICK_DESTINATION)" = "\\\\.\\PHYSICALDRIVE$disk" ] &&
        grep -qxF "Set $variable=$disk" <<<"$out"; then
        pass "$label: $variable=$disk"
    else
        fail "$label: exit code $code, $variable \"$(value "$variable")\", DESTPICK_DESTINATION \"$(value DESTPICK_DESTINATION)\": $out"
    fi
}

expect_cleared() { # label, exit code
    if [ "$code" -eq "$2" ] && [ -z "$(value OSDDiskIndex)" ] && [ -z "$(value DESTPICK_DESTINATION)" ]; then
        pass "$1: both variables cleared, exit code $2"
    else
        fail "$1: exit code $code (not $2), OSDDiskIndex \"$(value OSDDiskIndex)\", DESTPICK_DESTINATION \"$(value DESTPICK_DESTINATION)\": $out"
    fi
}

expect_native_log() { # label, native folder
    if [ "$(ls "$run/logs")" = destpick.log ] &&
        [ "$(ls "$run/package" | tr '\n' ' ')" = "destpick-ts.exe destpick.exe " ] &&
        cmp -s <(mask_log "$2/destpick.log" "$2") <(mask_log "$run/logs/destpick.log" "$run/logs"); then
        pass
    else
        fail "$1: the log folder holds $(ls "$run/logs" | tr '\n' ' '), the package $(ls "$run/package" | tr '\n' ' '), and its destpick.log is not the native one:"
        diff <(mask_log "$2/destpick.log" "$2") <(mask_log "$run/logs/destpick.log" "$run/logs") | head -n 5
    fi
}

start=$(date +%s)
for machine in "$source_dir"/examples/machines/*.json "$source_dir"/tests/wine_disk/machines/layout-never-fits.json; do
    name=$(basename "$machine" .json)
    # What the route cannot play, the wine_disks check lists.
    "$native_dir/wine_machine" "$machine" "$scratch/check.reg" >/dev/null 2>&1 || continue
    native=$scratch/native/$name
    mkdir -p "$native"
    cp "$native_dir/destpick.exe" "$native/destpick.exe"
    (cd "$native" && DESTPICK_SIM_MACHINE=$machine ./destpick.exe >stdout 2>/dev/null)
    answer=$(cat "$native/stdout")
    run_ts inside "$name" "$machine" || continue
    case $answer in
    'Destination=\\.\PHYSICALDRIVE'*) expect_set "$name" "${answer#'Destination=\\.\PHYSICALDRIVE'}" OSDDiskIndex ;;
    'Destination=UNKNOWN') expect_cleared "$name" 6 ;;
    '') expect_cleared "$name" 7 ;;
    *) fail "$name: the native build answers \"$answer\"" ;;
    esac
    expect_native_log "$name" "$native"
done

default=$source_dir/examples/machines/default.json
if run_ts inside named "$default" TargetDisk; then
    expect_set "TargetDisk named" 0 TargetDisk
    if [ "$(value OSDDiskIndex)" = 7 ]; then
        pass "TargetDisk named: OSDDiskIndex left alone"
    else
        fail "TargetDisk named: OSDDiskIndex is \"$(value OSDDiskIndex)\""
    fi
fi

without=$scratch/build-without-destpick
mkdir "$without"
for built in destpick-ts.exe destpick_disk.sys wine_launcher.exe destpick_test_tsenv.dll; do
    ln -s "$windows_dir/$built" "$without/$built"
done
DESTPICK_WINDOWS_BUILD_DIR=$without run_ts inside missing "$default" && expect_cleared "no destpick.exe" 3

if run_ts outside dry-run "$default" --dry-run; then
    if [ "$code" -eq 0 ] && [ ! -e "$run/variables" ] && grep -q '^Not in a task sequence' <<<"$out" &&
        grep -qxF 'Would set OSDDiskIndex=0' <<<"$out" &&
        grep -qxF 'Would set DESTPICK_DESTINATION=\\.\PHYSICALDRIVE0' <<<"$out"; then
        pass "--dry-run outside a task sequence: says it would set OSDDiskIndex=0, exit code 0"
    else
        fail "--dry-run outside a task sequence: exit code $code: $out"
    fi
fi
echo "$(($(date +%s) - start)) s in all"
finish
