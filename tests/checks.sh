# Sourced by the check scripts: the count of what passed and failed, and the closing line that
# tells the test runner how it went.
passed=0
failed=0
pass() {
    passed=$((passed + 1))
    if [ $# -gt 0 ]; then echo "PASS: $1"; fi
}
fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
}
# A pass when the condition holds, else a failure under the name.
check() { # name, condition...
    local name=$1
    shift
    if "$@"; then pass; else fail "$name"; fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# A log with its time stamps and the run's folder masked, so that runs at other times and in other
# places compare. The folder is named as Wine and the stand-in report it: drive Z: and backslashes.
mask_log() { # log, folder
    local folder
    folder=$(windows_path "$2")
    sed -E 's/^\[[ 0-9]{4}\.[0-9]{2}\.[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}\] /[stamp] /' "$1" |
        FOLDER=$folder awk '{ folder = ENVIRON["FOLDER"]; while ((i = index($0, folder)) > 0)
            $0 = substr($0, 1, i - 1) "<folder>" substr($0, i + length(folder)); print }'
}

# A path as Windows under Wine names it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# A command run as the root of a user and mount namespace of its own, where it may mount a small
# tmpfs to fill up; private_mounts_work tells whether this system gives such namespaces.
private_mounts_work() { unshare --user --map-root-user --mount true 2>/dev/null; }
with_private_mounts() { unshare --user --map-root-user --mount "$@"; }

# The start of a check under Wine, whose arguments are the native and the Windows build folders
# and wine64: native_dir, windows_dir, wine and source_dir for it and for scripts/wine-run.sh, and a
# scratch folder that goes when it ends.
wine_check_start() { # native build folder, Windows build folder, wine64
    local usage="usage: ${0##*/} <native build folder> <windows build folder> <wine64>"
    native_dir=${1:?$usage}
    windows_dir=$(cd "${2:?$usage}" && pwd -P)
    wine=${3:?$usage}
    source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    export DESTPICK_NATIVE_BUILD_DIR=$native_dir DESTPICK_WINDOWS_BUILD_DIR=$windows_dir DESTPICK_WINE=$wine
}

# scripts/wine-run.sh with the arguments, its standard error in $scratch/run.err. Where Wine itself
# cannot start, the whole check is skipped (77); another failure is returned.
wine_route() {
    "$source_dir/scripts/wine-run.sh" "$@" 2>"$scratch/run.err"
    local status=$?
    if [ "$status" -eq 4 ]; then
        echo "SKIP: Wine cannot start here: $(cat "$scratch/run.err")"
        exit 77
    fi
    return "$status"
}
