#!/usr/bin/env bash
# The real destpick.exe under Wine on simulated disks (scripts/wine-run.sh) against the native build
# on the same description: standard output, exit code and the whole log must be the same, byte for
# byte, with time stamps and the executable's folder masked; the test driver must have refused
# nothing. Every example machine and every machine in tests/wine_disk/machines runs. A description
# the route cannot play must be listed in the table of docs/wine-disks.md, and one listed there must
# be refused.
# Skips (exit 77) only when Wine itself cannot start.
#
# Usage: wine_disk_test.sh <native build folder> <windows build folder> <wine64>
set -u
usage="usage: wine_disk_test.sh <native build folder> <windows build folder> <wine64>"
native_dir=${1:?$usage}
windows_dir=${2:?$usage}
wine=${3:?$usage}
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
listed=$source_dir/docs/wine-disks.md
is_listed() { grep -q "^| \`$1.json\` |" "$listed"; }

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export DESTPICK_NATIVE_BUILD_DIR=$native_dir DESTPICK_WINDOWS_BUILD_DIR=$windows_dir DESTPICK_WINE=$wine

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

compare_runs() { # name, native folder, Wine folder
    local name=$1 native=$2 windows=$3 code
    if cmp -s "$native/stdout" "$windows/stdout"; then
        pass
    else
        fail "$name: standard output differs: native \"$(cat "$native/stdout")\", Wine \"$(cat "$windows/stdout")\""
    fi
    code=$(cat "$windows/exit-code")
    if [ $((code & 255)) -eq "$(cat "$native/code")" ] && [ "$code" = "$(expected_exit_code "$windows/stdout")" ]; then
        pass
    else
        fail "$name: exit code $code under Wine, $(cat "$native/code") natively (8 bits)"
    fi
    if [ "$(tr '\n' ' ' <"$windows/driver-counts")" = "unknown-requests=0 writes=0 " ]; then
        pass
    else
        fail "$name: the driver refused requests: $(tr '\n' ' ' <"$windows/driver-counts")"
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

start=$(date +%s)
for machine in "$source_dir"/examples/machines/*.json "$source_dir"/tests/wine_disk/machines/*.json; do
    name=$(basename "$machine" .json)
    if ! refusal=$("$native_dir/wine_machine" "$machine" "$scratch/check.reg" 2>&1); then
        if is_listed "$name"; then
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
    "$source_dir/scripts/wine-run.sh" "$machine" "$windows" 2>"$scratch/run.err"
    status=$?
    if [ "$status" -eq 4 ]; then
        echo "SKIP: Wine cannot start here: $(cat "$scratch/run.err")"
        exit 77
    elif [ "$status" -ne 0 ]; then
        fail "$name: the run under Wine failed ($status): $(cat "$scratch/run.err")"
        continue
    fi
    compare_runs "$name" "$native" "$windows"
    echo "$name: $(wc -l <"$scratch/wine.log") log lines, exit code $(cat "$windows/exit-code")"
done
echo "$(($(date +%s) - start)) s in all"
finish
