#!/usr/bin/env bash
# The release as a user gets it. scripts/release.sh builds the archive, which must hold exactly
# the four programs, the readme and the sums, in that order, and come out the same when built
# again in another time zone under another umask. Unpacked, the sums must verify, each program
# must pass the import, manifest and version checks, and each must run under Wine as the readme
# says: destpick.exe answers UNKNOWN (Wine shows it no disk), destpick-capture.exe writes that
# empty machine beside itself, on which the native build leaves the same log,
# destpick-explain.exe explains the log of that run, and destpick-ts.exe, outside a task
# sequence, refuses to run without --dry-run and with it runs a copy of destpick.exe elsewhere.
#
# Usage: release_test.sh <source folder> <project version> <native destpick.exe> <wine64> <Wine prefix>
set -u
usage="usage: release_test.sh <source folder> <version> <native destpick.exe> <wine64> <Wine prefix>"
source_dir=${1:?$usage}
version=${2:?$usage}
native=${3:?$usage}
wine=${4:?$usage}
export DESTPICK_WINEPREFIX=${DESTPICK_WINEPREFIX:-${5:?$usage}}
tests=$(cd "$(dirname "$0")" && pwd -P)

# shellcheck source=checks.sh
. "$tests/checks.sh"
for needed in "$native" "$wine"; do
    [ -f "$needed" ] || { fail "no file at $needed"; finish; }
done
# shellcheck source=wine_env.sh
. "$tests/wine_env.sh"

archive=$source_dir/build/release/destpick-$version-win64.zip
names=(destpick.exe destpick-ts.exe destpick-capture.exe destpick-explain.exe README.txt SHA256SUMS)

# --- The archive ------------------------------------------------------------------------------
if ! "$source_dir/scripts/release.sh" >"$scratch/release.out" 2>&1; then
    fail "scripts/release.sh failed:"
    tail -n 5 "$scratch/release.out"
    finish
fi
if [ "$(zipinfo -1 "$archive" 2>&1)" = "$(printf '%s\n' "${names[@]}")" ]; then
    pass "$(basename "$archive") holds ${names[*]}"
else
    fail "$(basename "$archive") holds: $(zipinfo -1 "$archive" 2>&1 | tr '\n' ' ')"
fi
cp "$archive" "$scratch/first.zip"
if (umask 077 && TZ=Pacific/Kiritimati "$source_dir/scripts/release.sh") >"$scratch/release.out" 2>&1 &&
    cmp -s "$archive" "$scratch/first.zip"; then
    pass "built again (UTC+14, umask 077): the same bytes"
else
    fail "built again (UTC+14, umask 077), the archive differs:"
    tail -n 5 "$scratch/release.out"
    cmp "$archive" "$scratch/first.zip"
fi

folder=$scratch/destpick-$version-win64
if ! unzip -q "$archive" -d "$folder"; then
    fail "unzip could not unpack $archive"
    finish
fi

# --- The sums and the readme ------------------------------------------------------------------
summed=$(sed -nE 's/^[0-9a-f]{64}  (.*)$/\1/p' "$folder/SHA256SUMS")
if [ "$summed" = "$(printf '%s\n' "${names[@]:0:5}")" ] &&
    [ "$(wc -l <"$folder/SHA256SUMS")" -eq 5 ]; then
    pass "SHA256SUMS lists the other five files, one sum each"
else
    fail "SHA256SUMS is not one sum line for each of the other files:"
    cat "$folder/SHA256SUMS"
fi
if (cd "$folder" && sha256sum --check --strict --quiet SHA256SUMS); then
    pass "sha256sum -c verifies every sum"
else
    fail "sha256sum -c finds a sum that does not match"
fi

readme=$folder/README.txt
lines=$(wc -l <"$readme")
if [ "$lines" -gt 0 ] && [ "$(grep -c $'\r$' "$readme")" -eq "$lines" ] && [ -z "$(tail -c 1 "$readme")" ]; then
    pass "README.txt: $lines lines, each ending in CRLF"
else
    fail "README.txt: not every one of its $lines lines ends in CRLF"
fi
if LC_ALL=C grep -q '[^[:print:][:space:]]' "$readme"; then
    fail "README.txt holds bytes outside printable ASCII: $(LC_ALL=C grep -n '[^[:print:][:space:]]' "$readme" | head -n 3)"
else
    pass "README.txt is plain ASCII"
fi
if [ "$(head -n 1 "$readme")" = $'destpick '"$version"$' for 64-bit Windows\r' ]; then
    pass "README.txt names version $version"
else
    fail "README.txt begins \"$(head -n 1 "$readme" | tr -d '\r')\", not with version $version"
fi

# --- Each program as a file -------------------------------------------------------------------
file_check() { # program, delay-loaded DLLs (one argument), execution level
    local program=$1 output
    if output=$(bash "$tests/windows_imports_test.sh" "$folder/$program" "$version" "$2" "$3" 2>&1); then
        pass "$program: system DLLs only, ${2:-none} delay-loaded, $3, version $version ($(tail -n 1 <<<"$output"))"
    else
        fail "$program: the import, manifest and version checks:"
        grep '^FAIL' <<<"$output" | sed 's/^/     /'
    fi
}
file_check destpick.exe "VERSION.dll SETUPAPI.dll USER32.dll" requireAdministrator
file_check destpick-ts.exe "OLE32.dll OLEAUT32.dll" requireAdministrator
file_check destpick-capture.exe "VERSION.dll SETUPAPI.dll" requireAdministrator
file_check destpick-explain.exe "" asInvoker

# --- Each program run under Wine, in the unpacked folder --------------------------------------
run_wine() { # label, program, arguments...; leaves out (line ends as Linux's) and code
    local label=$1 program=$2
    shift 2
    (cd "$folder" && timeout 120 "$wine" "$folder/$program" "$@" </dev/null \
        >"$scratch/$label.out" 2>"$scratch/$label.err")
    code=$?
    out=$(tr -d '\r' <"$scratch/$label.out")
}

run_wine destpick destpick.exe
if [ "$(cat "$scratch/destpick.out")" = "Destination=UNKNOWN" ] && [ "$code" -eq 231 ]; then
    pass "destpick.exe: \"Destination=UNKNOWN\", exit code 999 (231 in the shell)"
else
    fail "destpick.exe: exit code $code, output \"$(cat "$scratch/destpick.out")\""
fi
log=$folder/destpick.log
if [ -f "$log" ]; then
    pass "destpick.exe: destpick.log beside it"
else
    fail "destpick.exe: no destpick.log beside it; the folder holds $(ls "$folder" | tr '\n' ' ')"
    finish
fi

before=$(date -u +%Y%m%d-%H%M%S)
run_wine capture destpick-capture.exe
after=$(date -u +%Y%m%d-%H%M%S)
shopt -s nullglob
captures=("$folder"/*.json)
shopt -u nullglob
if [ "$code" -eq 0 ] && [ "${#captures[@]}" -eq 1 ]; then
    capture=$(basename "${captures[0]}")
    pass "destpick-capture.exe: exit code 0, $capture written beside it"
    if [[ $capture =~ -([0-9]{8}-[0-9]{6})Z\.json$ ]] &&
        [[ ! ${BASH_REMATCH[1]} < $before && ! ${BASH_REMATCH[1]} > $after ]]; then
        pass "destpick-capture.exe: the name ends in the time of the capture, in UTC"
    else
        fail "destpick-capture.exe: $capture does not end in -YYYYMMDD-hhmmssZ.json of a time in $before .. $after (UTC)"
    fi
    if grep -qF "$capture" <<<"$out"; then
        pass "destpick-capture.exe: prints the path it wrote"
    else
        fail "destpick-capture.exe: its output does not name $capture: $out"
    fi
    replay=$scratch/replay
    mkdir "$replay"
    cp "$native" "$replay/destpick.exe"
    (cd "$replay" && DESTPICK_SIM_MACHINE="$folder/$capture" ./destpick.exe >"$scratch/replay.out" 2>&1)
    code=$?
    if [ "$(cat "$scratch/replay.out")" = "Destination=UNKNOWN" ] && [ "$code" -eq 231 ] &&
        cmp -s <(mask_log "$replay/destpick.log" "$replay") <(mask_log "$log" "$folder"); then
        pass "the native build on the captured machine: UNKNOWN, and the log of the run under Wine"
    else
        fail "the native build on the captured machine: exit code $code, \"$(cat "$scratch/replay.out")\", its log against Wine's:"
        diff <(mask_log "$replay/destpick.log" "$replay") <(mask_log "$log" "$folder") | head -n 10
    fi
else
    fail "destpick-capture.exe: exit code $code, ${#captures[@]} descriptions written: $out $(cat "$scratch/capture.err")"
fi

run_wine capture-version destpick-capture.exe --version
if [ "$code" -eq 0 ] && [ "$out" = "destpick-capture $version" ] && [ ! -e "$folder/--version" ]; then
    pass "destpick-capture.exe --version: \"$out\", exit code 0, no file"
else
    fail "destpick-capture.exe --version: exit code $code, \"$out\""
fi

run_wine explain destpick-explain.exe destpick.log
stamp=$(tail -n 1 "$log" | sed -E 's/^\[([^]]*)\].*/\1/')
if [ "$code" -eq 0 ] &&
    [ "$(head -n 1 <<<"$out")" = "Run of [$stamp], destpick $version: run 1 of 1 in this log" ] &&
    grep -qx 'Answer: Destination=UNKNOWN' <<<"$out" &&
    grep -qx 'No candidate: the run found no disk.' <<<"$out" && ! grep -q '^|' <<<"$out"; then
    pass "destpick-explain.exe: explains the run of $stamp: UNKNOWN, no candidate"
else
    fail "destpick-explain.exe destpick.log: exit code $code, output:"
    printf '%s\n' "$out" "$(cat "$scratch/explain.err")" | head -n 10
fi

run_wine ts-version destpick-ts.exe --version
if [ "$code" -eq 0 ] && [ "$out" = "destpick-ts $version" ]; then
    pass "destpick-ts.exe --version: destpick-ts $version"
else
    fail "destpick-ts.exe --version: exit code $code, \"$out\""
fi
run_wine ts destpick-ts.exe
if [ "$code" -eq 2 ] && grep -q '^Cannot reach the task sequence environment' <<<"$out"; then
    pass "destpick-ts.exe outside a task sequence: exit code 2, no environment"
else
    fail "destpick-ts.exe outside a task sequence: exit code $code: $out"
fi
log_lines=$(wc -l <"$log")
run_wine ts-dry-run destpick-ts.exe --dry-run
if [ "$code" -eq 6 ] && grep -q 'Destination=UNKNOWN' <<<"$out" &&
    [ "$(wc -l <"$log")" -eq "$log_lines" ] && [ ! -e "$folder/destpick-ts.log" ]; then
    pass "destpick-ts.exe --dry-run: UNKNOWN from a copy run in the temporary folder, exit code 6"
else
    fail "destpick-ts.exe --dry-run: exit code $code, $(wc -l <"$log") lines in destpick.log before $log_lines: $out"
fi

finish
