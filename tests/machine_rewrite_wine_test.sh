#!/usr/bin/env bash
# The machine model built for Windows reads and writes descriptions as the native build does:
# rewrite_description.exe under Wine must write every example machine, and the machines only the
# Wine route runs and one of text beyond the Basic Multilingual Plane and odd replies, byte for
# byte as the native rewrite_description writes them: text is UTF-16 units in both, whatever the
# width of wchar_t.
#
# Usage: machine_rewrite_wine_test.sh <native rewrite_description> <windows rewrite_description.exe>
#            <wine64> <source folder>
set -u
usage="usage: machine_rewrite_wine_test.sh <native> <windows> <wine64> <source folder>"
native=${1:?$usage}
exe=${2:?$usage}
wine=${3:?$usage}
source_dir=${4:?$usage}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
for program in "$native" "$exe"; do
    [ -f "$program" ] || { fail "no program at $program"; finish; }
done
exe=$(cd "$(dirname "$exe")" && pwd -P)/$(basename "$exe")
# shellcheck source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"

cp "$exe" "$scratch/rewrite_description.exe"
for machine in "$source_dir"/examples/machines/*.json "$source_dir"/tests/wine_disk/machines/*.json \
    "$source_dir"/tests/machine/descriptions/*.json; do
    name=$(basename "$machine" .json)
    cp "$machine" "$scratch/$name.json"
    "$native" "$machine" "$scratch/$name.native.json" ||
        { fail "$name: not written natively"; continue; }
    (cd "$scratch" && timeout 120 "$wine" ./rewrite_description.exe "$name.json" \
        "$name.windows.json" </dev/null >/dev/null 2>&1) ||
        { fail "$name: not written under Wine"; continue; }
    if cmp -s "$scratch/$name.native.json" "$scratch/$name.windows.json"; then
        pass
    else
        fail "$name: the Windows build writes it otherwise"
        diff "$scratch/$name.native.json" "$scratch/$name.windows.json" | head -n 10
    fi
done
finish
