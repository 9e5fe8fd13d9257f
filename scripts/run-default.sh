#!/usr/bin/env bash
# Builds the native destpick.exe and the native tools beside it (destpick-explain.exe,
# destpick-capture.exe, destpick-fleet, and wine_machine for scripts/wine-run.sh), and runs destpick.exe once on
# the embedded default machine (or on the machine description named by DESTPICK_SIM_MACHINE), as an
# imaging step would.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset sim >/dev/null
cmake --build --preset sim --target destpick destpick_explain destpick_capture destpick_fleet wine_machine >/dev/null
set +e
build/sim/destpick.exe
code=$?
set -e
echo
echo "exit code: $code (the shell sees only its low byte: 999 arrives as 231)"
echo "log: $PWD/build/sim/destpick.log"
