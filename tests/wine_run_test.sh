#!/usr/bin/env bash
# Runs the built destpick.exe under Wine, where the disk-interface query answers an empty set,
# and checks what a run leaves behind: the standard output, the exit code and the log beside the
# executable, named after it, also in a folder that the account may write in but not list.
#
# Usage: wine_run_test.sh <destpick.exe> <wine64> <project version a.b.c.d>
# The Wine prefix is kept beside the executable (wine-prefix/) so that only the first run pays
# for creating it; DESTPICK_WINEPREFIX names another one.
set -u

exe=${1:?usage: wine_run_test.sh <exe> <wine64> <version>}
wine=${2:?usage: wine_run_test.sh <exe> <wine64> <version>}
version=${3:?usage: wine_run_test.sh <exe> <wine64> <version>}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

if [ ! -f "$exe" ]; then
    fail "no executable at $exe"
    finish
fi
if [ ! -x "$wine" ]; then
    fail "no Wine at $wine"
    finish
fi
exe=$(cd "$(dirname "$exe")" && pwd -P)/$(basename "$exe")

# shellcheck source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"

# Runs one copy of the tool; leaves its standard output in $scratch/stdout.bin, outside the
# folders whose listings are checked, and its exit code in $status.
run_copy() {
    local folder=$1 name=$2
    timeout 120 "$wine" "$folder/$name" </dev/null >"$scratch/stdout.bin" 2>"$scratch/stderr.txt"
    status=$?
    if [ "$status" -eq 124 ]; then
        echo "     $name did not finish within 120 s"
    fi
}

# Standard output compared byte for byte; a difference shows both sides escaped.
check_stdout() {
    local label=$1 expected=$2
    if [ "$(od -An -c "$scratch/stdout.bin")" = "$(printf '%b' "$expected" | od -An -c)" ]; then
        pass "$label: stdout is exactly \"$expected\""
    else
        fail "$label: stdout expected \"$expected\", got:"
        od -c "$scratch/stdout.bin"
        sed 's/^/     stderr: /' "$scratch/stderr.txt"
    fi
}

check_status() {
    local label=$1 expected=$2
    if [ "$status" -eq "$expected" ]; then
        pass "$label: exit code $expected"
    else
        fail "$label: exit code $status, expected $expected"
    fi
}

stamp_pattern='^\[([0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2})\] (.*)'$'\r''$'

# Checks the form of every entry (stamp, CRLF, single-byte text) and leaves the texts after the
# stamps in the array "bodies" and the stamps in "stamps".
read_log() {
    local label=$1 log=$2
    bodies=()
    stamps=()
    local bad=0 malformed=0 first_malformed="" line
    if [ "$(tr -cd '\000' <"$log" | wc -c)" -ne 0 ]; then
        fail "$label: the log holds NUL bytes (UTF-16 rather than the ANSI code page?)"
        bad=1
    fi
    if [ -n "$(tail -c 1 "$log")" ]; then
        fail "$label: the log does not end with a line end"
        bad=1
    fi
    while IFS= read -r line; do
        if [[ $line =~ $stamp_pattern ]]; then
            stamps+=("${BASH_REMATCH[1]}")
            bodies+=("${BASH_REMATCH[2]}")
        else
            malformed=$((malformed + 1))
            [ -n "$first_malformed" ] || first_malformed=$line
        fi
    done <"$log"
    if [ "$malformed" -ne 0 ]; then
        fail "$label: $malformed lines without \"[YYYY.MM.DD-hh:mm:ss] \" or CRLF, the first:"
        printf '%s\n' "$first_malformed" | od -c | head -n 4
        bad=1
    fi
    [ "$bad" -eq 0 ] && pass "$label: ${#bodies[@]} entries, each stamped and ending in CRLF"
}

# The entries of one run with an empty disk list, for the tool named <name> in <folder>.
expected_block() {
    local folder=$1 name=$2
    expected=(
        "" ""
        " --- Collecting Information ----------------- "
        "LogPath=[$(windows_path "$folder")\\$name.log]"
        "ExeDirPath=[$(windows_path "$folder")]"
        "ExeFileName=[$name]"
        "ExeVersion=[$version]"
        "" ""
        " --- Pick Drive By Weight ----------------- "
        "" ""
        " --- Report ----------------- "
        "Destination=UNKNOWN"
    )
}

# Compares bodies[first .. first+count) with the expected entries, naming the first difference.
check_block() {
    local label=$1 first=$2
    local k
    for k in "${!expected[@]}"; do
        if [ "${bodies[$((first + k))]-<missing>}" != "${expected[$k]}" ]; then
            fail "$label: entry $((first + k + 1)) is \"${bodies[$((first + k))]-<missing>}\", expected \"${expected[$k]}\""
            return
        fi
    done
    pass "$label: the entries of an empty-disk run, in order"
}

utc_now() { date -u +%Y.%m.%d-%H:%M:%S; }

# --- (a) A first run: nothing chosen, the log created ----------------------------------------
folder="$scratch/plain"
mkdir "$folder"
cp "$exe" "$folder/destpick.exe"
before=$(utc_now)
# A zone far from UTC: a stamp taken from the local clock would fall outside the run's window.
TZ='<+09>-9' run_copy "$folder" destpick.exe
after=$(utc_now)
check_stdout "run 1" 'Destination=UNKNOWN'
check_status "run 1" 231 # 999 seen through the 8 bits of a Linux exit status
log="$folder/destpick.log"
if [ -f "$log" ]; then
    pass "run 1: destpick.log written beside the executable"
    read_log "run 1" "$log"
    expected_block "$folder" destpick
    if [ "${#bodies[@]}" -eq "${#expected[@]}" ]; then
        pass "run 1: ${#expected[@]} entries"
    else
        fail "run 1: ${#bodies[@]} entries, expected ${#expected[@]}"
    fi
    check_block "run 1" 0
    late=""
    for stamp in "${stamps[@]}"; do
        if [[ $stamp < $before || $stamp > $after ]]; then
            late=$stamp
        fi
    done
    if [ -z "$late" ]; then
        pass "run 1: stamps in UTC, within the run ($before .. $after)"
    else
        fail "run 1: stamp $late outside the run's UTC window $before .. $after (local time?)"
    fi
    echo "     log of run 1:"
    sed 's/\r$//; s/^/     | /' "$log"

    # --- (b) A second run appends its block below the first ------------------------------------
    cp "$log" "$scratch/run1.log"
    first_lines=$(wc -l <"$log")
    run_copy "$folder" destpick.exe
    check_stdout "run 2" 'Destination=UNKNOWN'
    check_status "run 2" 231
    if [ "$(wc -l <"$log")" -eq $((2 * first_lines)) ]; then
        pass "run 2: the log grew from $first_lines to $((2 * first_lines)) lines"
    else
        fail "run 2: the log has $(wc -l <"$log") lines, expected $((2 * first_lines))"
    fi
    if head -c "$(wc -c <"$scratch/run1.log")" "$log" | cmp -s - "$scratch/run1.log"; then
        pass "run 2: the first run's entries kept byte for byte"
    else
        fail "run 2: the first run's entries changed"
    fi
    read_log "run 2" "$log"
    check_block "run 2" "$first_lines"
else
    fail "run 1: no destpick.log in $folder: $(ls -A "$folder")"
fi

# --- (c) A copy without an extension: refused before any log ---------------------------------
folder="$scratch/bare"
mkdir "$folder"
cp "$exe" "$folder/destpick"
run_copy "$folder" destpick
# The tool prints "... name. \r\n"; standard output is in the C runtime's text mode, on Windows
# as under Wine, so its "\n" goes out as "\r\n" and the bytes are "\r\r\n".
check_stdout "no extension" 'Could not found the exe file name. \r\r\n'
check_status "no extension" 1
if [ "$(ls -A "$folder")" = "destpick" ]; then
    pass "no extension: no log or other file created"
else
    fail "no extension: the folder holds $(ls -A "$folder" | tr '\n' ' ')"
fi

# --- (d) A name with a dot inside: the log takes everything before the last dot -------------
folder="$scratch/dotted"
mkdir "$folder"
cp "$exe" "$folder/pick.new.exe"
run_copy "$folder" pick.new.exe
check_stdout "pick.new.exe" 'Destination=UNKNOWN'
check_status "pick.new.exe" 231
if [ -f "$folder/pick.new.log" ]; then
    read_log "pick.new.exe" "$folder/pick.new.log"
    expected_block "$folder" pick.new
    check_block "pick.new.exe" 0
else
    fail "pick.new.exe: no pick.new.log; the folder holds $(ls -A "$folder" | tr '\n' ' ')"
fi
if [ "$(ls -A "$folder" | wc -l)" -eq 2 ]; then
    pass "pick.new.exe: only the executable and pick.new.log in the folder"
else
    fail "pick.new.exe: the folder holds $(ls -A "$folder" | tr '\n' ' ')"
fi

# --- (e) A folder name outside ASCII: the log is in the ANSI code page (Windows-1252) -------
folder="$scratch/café"
mkdir "$folder"
cp "$exe" "$folder/destpick.exe"
run_copy "$folder" destpick.exe
check_status "non-ASCII folder" 231
log="$folder/destpick.log"
if [ -f "$log" ]; then
    expected_line=$(printf 'ExeDirPath=[Z:%s\\caf\351]\r' "$(dirname "$folder" | tr / '\\')")
    if LC_ALL=C grep -qaxF -- "$expected_line" <(sed 's/^\[[^]]*\] //' "$log"); then
        pass "non-ASCII folder: é logged as the single byte 0xE9"
    else
        fail "non-ASCII folder: no \"ExeDirPath=[...caf\\xE9]\" entry; the log holds:"
        grep -a ExeDirPath "$log" | od -c
    fi
else
    fail "non-ASCII folder: no destpick.log; the folder holds $(ls -A "$folder" | tr '\n' ' ')"
fi

# --- (f) A folder the account may write in but not list, as a drop box is -------------------
# A search for the log (FindFirstFileW) fails there, so the end of the log must be found without
# one. The folder's mode binds only an account other than root: a root run of this check drops to
# the nobody account, whose Wine prefix is kept beside the usual one.
folder="$scratch/drop box"
mkdir "$folder"
cp "$exe" "$folder/destpick.exe"
earlier=$'[2020.01.01-00:00:01] earlier run, entry 1\r\n[2020.01.01-00:00:02] earlier run, entry 2\r\n[2020.01.01-00:00:03] earlier run, entry 3\r\n'
printf '%s' "$earlier" >"$folder/destpick.log"
chmod 0666 "$folder/destpick.log"
as_account=()
if [ "$(id -u)" -eq 0 ]; then
    nobody_prefix=$WINEPREFIX-nobody
    mkdir -p "$nobody_prefix" "$scratch/nobody-home"
    chown 65534:65534 "$nobody_prefix" "$scratch/nobody-home"
    chmod 0711 "$scratch"
    as_account=(setpriv --reuid=65534 --regid=65534 --clear-groups
        env HOME="$scratch/nobody-home" WINEPREFIX="$nobody_prefix")
fi
chmod 0333 "$folder"
# Started from a folder the account may read: Wine reads the folder it starts in.
(cd / && timeout 300 "${as_account[@]}" "$wine" "$folder/destpick.exe" </dev/null \
    >"$scratch/stdout.bin" 2>"$scratch/stderr.txt")
status=$?
chmod 0755 "$folder"
check_stdout "unlisted folder" 'Destination=UNKNOWN'
check_status "unlisted folder" 231
if head -c "${#earlier}" "$folder/destpick.log" | cmp -s - <(printf '%s' "$earlier"); then
    pass "unlisted folder: the earlier runs' entries kept byte for byte"
else
    fail "unlisted folder: the earlier runs' entries changed; the log begins:"
    head -n 5 "$folder/destpick.log" | od -c | head -n 10
fi
read_log "unlisted folder" "$folder/destpick.log"
expected_block "$folder" destpick
check_block "unlisted folder" 3
if [ "${#as_account[@]}" -gt 0 ]; then
    timeout 30 "${as_account[@]}" "$wineserver" -w 2>/dev/null
fi

finish
