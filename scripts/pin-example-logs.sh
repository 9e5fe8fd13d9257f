#!/usr/bin/env bash
# Writes every example machine's expected log anew (tests/example_logs/) from the native build,
# after a deliberate change to what the tool logs. Review `git diff tests/example_logs` before
# committing: every changed line is a change a service engineer will see.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset sim >/dev/null
cmake --build --preset sim
bash tests/example_logs_test.sh build/sim/destpick.exe "$PWD" --update
