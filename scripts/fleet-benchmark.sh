#!/usr/bin/env bash
# The fleet benchmark: destpick-fleet (Release, the bench preset) replays 2,000 and then 100,000
# generated descriptions from a folder on tmpfs, without logs, once with one worker and once with
# one per core, from an empty folder that must stay empty. Prints per run the wall time, the CPU
# time, the machines a second (per wall second, and per CPU second: per core) and the peak
# resident size. Counts other than 2,000 and 100,000 can be given as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build build/bench --target destpick_fleet write_generated_machines >/dev/null
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(2000 100000)
parent=/tmp
[ -d /dev/shm ] && parent=/dev/shm
scratch=$(mktemp -d "$parent/destpick-fleet-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/cwd"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
for count in "${counts[@]}"; do
    rm -rf "$scratch/machines"
    mkdir "$scratch/machines"
    build/bench/write_generated_machines "$count" "$scratch/machines"
    for jobs in 1 "$(nproc)"; do
        (cd "$scratch/cwd" && /usr/bin/time -f "%e %U %S %M" -o "$scratch/time" \
            "$OLDPWD/build/bench/destpick-fleet" --jobs "$jobs" "$scratch/machines" >/dev/null)
        read -r wall user system kib <"$scratch/time"
        awk -v n="$count" -v j="$jobs" -v w="$wall" -v u="$user" -v s="$system" -v k="$kib" 'BEGIN {
            printf "%7d machines, %d worker(s): %6.2f s wall, %6.2f s CPU, %7.0f/s, %6.0f/s per CPU second, peak %d KiB\n",
                n, j, w, u + s, n / w, n / (u + s), k }'
        [ -z "$(ls -A "$scratch/cwd")" ] || { echo "the fleet wrote into its folder" >&2; exit 1; }
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
