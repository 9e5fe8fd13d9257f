#!/usr/bin/env bash
# End to end, the native build on an empty machine against destpick.exe under Wine (whose disk
# list is empty): in the same folder, under the same name, both must print the same bytes, end
# with the same exit code and leave the same log, time stamps aside. The cases are the normal
# run, a second run appending, and each start-up failure the executable's name and place can
# provoke.
#
# Usage: golden_test.sh <native destpick.exe> <windows destpick.exe> <wine64> <source folder>
set -u
native=${1:?usage: golden_test.sh <native> <windows> <wine64> <source>}
exe=${2:?usage: golden_test.sh <native> <windows> <wine64> <source>}
wine=${3:?usage: golden_test.sh <native> <windows> <wine64> <source>}
source_dir=${4:?usage: golden_test.sh <native> <windows> <wine64> <source>}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
for program in "$native" "$exe"; do
    [ -f "$program" ] || { fail "no program at $program"; finish; }
done
exe=$(cd "$(dirname "$exe")" && pwd -P)/$(basename "$exe")
# shellcheck source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"

mask() { sed -E 's/^\[[ 0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\] /[stamp] /' "$1"; }

# Runs one side in the folder, runs times; leaves <side>.out, <side>.code and <side>.log.
run_side() { # side, folder, name, log name, runs
    local side=$1 folder=$2 name=$3 log=$4 runs=$5 program
    [ "$side" = native ] && program=$native || program=$exe
    rm -f "$folder/$name" "$folder/$log"
    cp "$program" "$folder/$name"
    for ((i = 0; i < runs; i++)); do
        if [ "$side" = native ]; then
            (cd "$folder" && DESTPICK_SIM_MACHINE="$source_dir/examples/machines/empty.json" "./$name") \
                >"$scratch/$side.out" 2>/dev/null
        else
            (cd "$folder" && timeout 120 "$wine" "./$name" </dev/null 2>/dev/null) >"$scratch/$side.out"
        fi
        echo $? >"$scratch/$side.code"
    done
    if [ -f "$folder/$log" ]; then mask "$folder/$log" >"$scratch/$side.log"; else echo "(no log)" >"$scratch/$side.log"; fi
    rm -f "$folder/$name" "$folder/$log"
}

compare() { # case name, folder, exe name, log name, runs
    local name=$1 folder=$2
    mkdir -p "$folder"
    run_side native "$folder" "$3" "$4" "$5"
    run_side windows "$folder" "$3" "$4" "$5"
    local what
    for what in out code log; do
        if cmp -s "$scratch/native.$what" "$scratch/windows.$what"; then
            pass
        else
            fail "$name: the $what differs"
            diff <(od -c "$scratch/native.$what") <(od -c "$scratch/windows.$what") | head -n 10
        fi
    done
    echo "$name: exit $(cat "$scratch/native.code"), $(wc -l <"$scratch/native.log") log lines"
}

compare "normal run" "$scratch/plain" destpick.exe destpick.log 1
compare "second run appends" "$scratch/twice" destpick.exe destpick.log 2
compare "two dots" "$scratch/dots" pick.new.exe pick.new.log 1
compare "no extension" "$scratch/bare" destpick destpick.log 1

# A folder deep enough that the module path needs more than the 254 characters the tool holds.
deep=$scratch/$(printf 'd%.0s' {1..120})/$(printf 'e%.0s' {1..120})
compare "module path too long" "$deep" destpick.exe destpick.log 1
# A folder where the module path fits but its log name, longer than ".x", would not.
prefix="Z:${scratch//\//\\}\\"
room=$((254 - ${#prefix} - 1 - 3))
fit=$scratch/$(printf "f%.0s" $(seq 1 "$room"))
compare "log path too long" "$fit" a.x a.log 1
finish
