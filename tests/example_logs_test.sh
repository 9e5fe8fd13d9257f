#!/usr/bin/env bash
# Every example machine's whole log, pinned: the native destpick.exe runs on each description in
# examples/machines and its log, with time stamps, the run's folder and the tool's version masked,
# must equal tests/example_logs/<machine>.log byte for byte. After a deliberate change to what the
# tool logs, scripts/pin-example-logs.sh writes them anew; review the diff before committing it.
# With --rewritten-by, each description is first written anew by the description writer
# (rewrite_description), and the run on what it wrote must leave the same pinned log.
#
# Usage: example_logs_test.sh <native destpick.exe> <source folder>
#            [--update | --rewritten-by <rewrite_description>]
set -u
usage="usage: example_logs_test.sh <native destpick.exe> <source folder> [--update | --rewritten-by <program>]"
exe=${1:?$usage}
source_dir=${2:?$usage}
update=${3:-}
rewriter=${4:-}
pinned=$source_dir/tests/example_logs

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for machine in "$source_dir"/examples/machines/*.json; do
    name=$(basename "$machine" .json)
    folder=$scratch/$name
    mkdir -p "$folder"
    if [ "$update" = --rewritten-by ]; then
        if ! "$rewriter" "$machine" "$scratch/$name.json"; then
            fail "$name: the description was not written anew"
            continue
        fi
        machine=$scratch/$name.json
    fi
    cp "$exe" "$folder/destpick.exe"
    (cd "$folder" && DESTPICK_SIM_MACHINE=$machine ./destpick.exe >/dev/null 2>&1)
    mask_log "$folder/destpick.log" "$folder" | sed -E 's/ExeVersion=\[[0-9.]*\]/ExeVersion=[version]/' \
        >"$scratch/$name.log"
    if [ "$update" = --update ]; then
        cp "$scratch/$name.log" "$pinned/$name.log"
        pass "$name: pinned"
    elif cmp -s "$scratch/$name.log" "$pinned/$name.log"; then
        pass
    else
        fail "$name: the log differs from tests/example_logs/$name.log"
        diff "$pinned/$name.log" "$scratch/$name.log" | head -n 20
    fi
done
# A pinned log whose machine is gone would go unchecked.
for log in "$pinned"/*.log; do
    [ -f "$source_dir/examples/machines/$(basename "$log" .log).json" ] ||
        fail "$(basename "$log"): no example machine of that name"
done
finish
