#!/usr/bin/env bash
# Builds the Windows programs and packs them, with the readme for the imaging environment and
# their SHA-256 sums, into build/release/destpick-<version>-win64.zip. The archive depends only on
# the files it holds and the time of the last commit (SOURCE_DATE_EPOCH overrides it): the names
# in a fixed order, each stamped with that time, no owner, permissions or extra fields of this
# computer. The programs themselves carry no link time, so two builds of one commit give the
# same archive.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
build=build/windows
version=$(cat "$build/release/version.txt")
archive=$PWD/build/release/destpick-$version-win64.zip
# No archive of an earlier build stays under the name when this one fails.
rm -f "$archive"
cmake --build --preset windows

programs=(destpick.exe destpick-ts.exe destpick-capture.exe destpick-explain.exe)
for program in "${programs[@]}"; do
    if [ ! -f "$build/$program" ]; then
        echo "release.sh: $build/$program was not built; no archive without it" >&2
        exit 1
    fi
done
stamp=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
for program in "${programs[@]}"; do
    cp "$build/$program" "$folder/"
done
cp "$build/release/README.txt" "$folder/"
files=("${programs[@]}" README.txt)
(cd "$folder" && sha256sum -- "${files[@]}" >SHA256SUMS)
files+=(SHA256SUMS)
(cd "$folder" && chmod 0644 -- "${files[@]}" && touch -d "@$stamp" -- "${files[@]}")

mkdir -p build/release
# zip writes local time: in UTC the stamp is the same on every computer. -X leaves out the
# owner and the extra time fields.
(cd "$folder" && TZ=UTC zip -X -q "$archive" "${files[@]}")
echo "archive: $archive"
(cd build/release && sha256sum "$(basename "$archive")")
