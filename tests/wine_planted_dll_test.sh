#!/usr/bin/env bash
# A version.dll planted beside destpick.exe is never loaded. The plant (tests/planted_version_dll.cpp)
# leaves "version.dll.loaded" beside itself when it is loaded. WINEDLLOVERRIDES=version=n,b makes
# Wine search the executable's folder first for version.dll, as Windows does for a DLL that is not
# a known DLL. A program that imports VERSION.dll the ordinary way first shows that the plant is
# loaded when nothing keeps it out; destpick.exe, run the same way, must leave it unloaded and
# answer as usual.
#
# Wine departs from Windows here: its own USER32 and SETUPAPI import version.dll, and Wine looks
# for what they import in the executable's folder too. Windows takes a known DLL's dependencies
# from the system. destpick.exe delay-loads both, so they are loaded only after main has limited
# the search to the system folder, and the check holds under Wine as on Windows.
#
# Usage: wine_planted_dll_test.sh <destpick.exe> <planted version.dll> <control.exe> <wine64> <version>
set -u
usage="usage: wine_planted_dll_test.sh <destpick.exe> <version.dll> <control.exe> <wine64> <version>"
exe=${1:?$usage}
plant=${2:?$usage}
control=${3:?$usage}
wine=${4:?$usage}
version=${5:?$usage}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

for file in "$exe" "$plant" "$control"; do
    [ -f "$file" ] || { fail "no file at $file"; finish; }
done
[ -x "$wine" ] || { fail "no Wine at $wine"; finish; }
exe=$(cd "$(dirname "$exe")" && pwd -P)/$(basename "$exe")

# shellcheck source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;version=n,b"

# Copies <program> and the plant into a folder of their own and runs the program there; leaves
# its standard output in $out and its exit code in $status.
run_beside_plant() {
    local folder=$1 program=$2
    mkdir "$folder"
    cp "$program" "$folder/$(basename "$program")"
    cp "$plant" "$folder/version.dll"
    out=$(cd "$folder" && timeout 120 "$wine" "./$(basename "$program")" </dev/null 2>"$scratch/stderr.txt")
    status=$?
}

# --- The plant works: an ordinary import of VERSION.dll loads it ----------------------------
run_beside_plant "$scratch/control" "$control"
if [ -e "$scratch/control/version.dll.loaded" ]; then
    pass "control: a program importing VERSION.dll the ordinary way loads the plant"
else
    fail "control: the plant was not loaded even by an ordinary import (exit $status); the check below would prove nothing"
    sed 's/^/     stderr: /' "$scratch/stderr.txt"
fi

# --- destpick.exe leaves it unloaded and answers as usual -------------------------------------
folder="$scratch/planted"
run_beside_plant "$folder" "$exe"
if [ -e "$folder/version.dll.loaded" ]; then
    fail "destpick.exe loaded the version.dll beside it"
else
    pass "destpick.exe did not load the version.dll beside it"
fi
if [ "$out" = "Destination=UNKNOWN" ] && [ "$status" -eq 231 ]; then
    pass "destpick.exe answered \"Destination=UNKNOWN\" with 999 (231 in the shell)"
else
    fail "destpick.exe answered \"$out\" with exit code $status"
    sed 's/^/     stderr: /' "$scratch/stderr.txt"
fi
if grep -qaF "ExeVersion=[$version]" "$folder/destpick.log" 2>/dev/null; then
    pass "the log holds ExeVersion=[$version], read through the system's VERSION.dll"
else
    fail "no \"ExeVersion=[$version]\" in the log; the folder holds $(ls -A "$folder" | tr '\n' ' ')"
fi

finish
