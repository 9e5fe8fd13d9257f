#!/usr/bin/env bash
# The capture proven on Wine's own SetupAPI, configuration manager and I/O manager: on simulated
# disks (scripts/wine-run.sh), destpick-capture.exe writes a description, and the native build
# replaying it must print, exit and log exactly what the real destpick.exe did under Wine on the
# same machine (time stamps and folders masked). The capture must have sent the test driver nothing
# it refuses, and no write.
# Skips (exit 77) only when Wine itself cannot start.
#
# Usage: wine_capture_test.sh <native build folder> <windows build folder> <wine64>
set -u
# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
wine_check_start "$@"

# Machines of every kind the route plays: a disk behind the RAID driver beside one whose link speed
# is looked up, a removable disk and a card reader, markers in the paths, and 24 disks with every
# controller error.
machines=(
    "$source_dir/examples/machines/vmd-raid.json"
    "$source_dir/examples/machines/card-reader-and-removable.json"
    "$source_dir/examples/machines/optane-and-tg.json"
    "$source_dir/tests/wine_disk/machines/fleet-of-24.json"
)

wine_run() { # machine, folder, [--capture]
    wine_route ${3:+"$3"} "$1" "$2" ||
        { fail "$(basename "$1"): the run under Wine failed ($?): $(cat "$scratch/run.err")"; return 1; }
}

start=$(date +%s)
for machine in "${machines[@]}"; do
    name=$(basename "$machine" .json)
    wine_run "$machine" "$scratch/$name/wine" || continue
    wine_run "$machine" "$scratch/$name/capture" --capture || continue
    captured=$(tr -d '\r' <"$scratch/$name/capture/stdout")
    captured=${captured#Z:}
    captured=${captured//\\//}
    if [ "$(cat "$scratch/$name/capture/exit-code")" = 0 ] && [ -f "$captured" ] &&
        [ "$(tr '\n' ' ' <"$scratch/$name/capture/driver-counts")" = "unknown-requests=0 writes=0 " ]; then
        pass
    else
        fail "$name: the capture under Wine ended with $(cat "$scratch/$name/capture/exit-code"), printed \"$(cat "$scratch/$name/capture/stdout")\", driver $(tr '\n' ' ' <"$scratch/$name/capture/driver-counts")"
        continue
    fi
    replay=$scratch/$name/replay
    mkdir -p "$replay"
    cp "$native_dir/destpick.exe" "$replay/destpick.exe"
    (cd "$replay" && DESTPICK_SIM_MACHINE=$captured ./destpick.exe >stdout 2>/dev/null)
    code=$?
    wine_code=$(cat "$scratch/$name/wine/exit-code")
    if cmp -s "$replay/stdout" "$scratch/$name/wine/stdout" && [ "$code" -eq $((wine_code & 255)) ]; then
        pass
    else
        fail "$name: replayed \"$(cat "$replay/stdout")\" ($code), under Wine \"$(cat "$scratch/$name/wine/stdout")\" ($wine_code)"
    fi
    mask_log "$scratch/$name/wine/destpick.log" "$scratch/$name/wine" >"$scratch/wine.log"
    mask_log "$replay/destpick.log" "$replay" >"$scratch/replay.log"
    if cmp -s "$scratch/wine.log" "$scratch/replay.log"; then
        pass "$name: $(wc -l <"$scratch/wine.log") log lines replayed as Wine wrote them"
    else
        fail "$name: the replay's log differs (< Wine, > replay):"
        diff "$scratch/wine.log" "$scratch/replay.log" | head -n 20
    fi
done
echo "$(($(date +%s) - start)) s in all"
finish
