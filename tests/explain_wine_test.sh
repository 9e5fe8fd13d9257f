#!/usr/bin/env bash
# destpick-explain.exe as the imaging environment gets it: linked without the compiler's runtime
# DLLs, running with the rights of whoever starts it, and under Wine explaining a pinned example
# log exactly as the native build does (tests/explain_logs/default.txt).
#
# Usage: explain_wine_test.sh <destpick-explain.exe> <wine64> <source folder>
set -u
exe=${1:?usage: explain_wine_test.sh <destpick-explain.exe> <wine64> <source folder>}
wine=${2:?usage: explain_wine_test.sh <destpick-explain.exe> <wine64> <source folder>}
source_dir=${3:?usage: explain_wine_test.sh <destpick-explain.exe> <wine64> <source folder>}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
for needed in "$exe" "$wine"; do
    [ -f "$needed" ] || { fail "no file at $needed"; finish; }
done
exe=$(cd "$(dirname "$exe")" && pwd -P)/$(basename "$exe")
# shellcheck source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"

dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr '\n' ' ')
if [ -z "$dlls" ] || grep -Eqi 'libstdc\+\+|libgcc|libwinpthread' <<<"$dlls"; then
    fail "imports the compiler's runtime, or nothing readable: $dlls"
else
    pass "imports system DLLs only: $dlls"
fi
if grep -aq 'level="asInvoker"' "$exe" && ! grep -aq 'requireAdministrator' "$exe"; then
    pass "manifest: asInvoker"
else
    fail "the manifest does not ask for asInvoker alone"
fi

# Runs the program in the scratch folder on a log there; leaves out (line endings as Linux's),
# err and code.
run_wine() {
    (cd "$scratch" && timeout 120 "$wine" "$exe" "$@" </dev/null >"$scratch/out" 2>"$scratch/err")
    code=$?
    out=$(tr -d '\r' <"$scratch/out")
    err=$(tr -d '\r' <"$scratch/err")
}

cp "$source_dir/tests/example_logs/default.log" "$scratch/default.log"
run_wine default.log
if [ "$code" -eq 0 ] && cmp -s <(printf '%s\n' "$out") "$source_dir/tests/explain_logs/default.txt"; then
    pass "default.log explained as tests/explain_logs/default.txt"
else
    fail "default.log: exit $code, output differs:"
    diff <(printf '%s\n' "$out") "$source_dir/tests/explain_logs/default.txt" | head -n 20
    printf '%s\n' "$err" | head -n 5
fi

run_wine "no such.log"
if [ "$code" -eq 2 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [ -z "$out" ]; then
    pass "a missing log: exit 2 and one line on stderr: $err"
else
    fail "a missing log: exit $code, stderr: $err"
fi
finish
