#!/usr/bin/env bash
# Runs the real destpick.exe under Wine on a simulated machine: the test disk driver
# (tests/wine_disk/) plays the description's disks and controllers, and the registry describes
# their interfaces and device nodes to Wine's own SetupAPI. The executable runs unmodified.
#
# Usage: scripts/wine-run.sh [--capture] MACHINE.json OUTDIR
#        scripts/wine-run.sh --help    prints the usage and ends with 0
# Leaves in OUTDIR: stdout (the executable's standard output), exit-code (its whole 32-bit exit
# code, in decimal), destpick.log, and driver-counts (requests the driver refused as unknown, and
# writes). With --capture it runs destpick-capture.exe instead, the same way and without
# arguments: the description it writes lands in OUTDIR, and stdout names it. OUTDIR may not be or
# hold a build folder (the run copies the executable in and removes it after), lie in
# build/wine-disk, or have a path that Windows cannot name (", \, *, ?, <, >, | or a control
# character).
# Exit code: 0 the executable ran; 1 a wrong command line or a refused OUTDIR; 2 any other
# failure; 3 the description cannot be played this way (one line names the field); 4 Wine cannot
# start; 5 the description cannot be read or is no machine description (missing, not JSON, a
# field the format does not know). Every code but 0 comes with one line on standard error.
#
# Needs the sim preset (wine_machine) and the windows preset (destpick.exe or
# destpick-capture.exe, destpick_disk.sys, wine_launcher.exe) built. The Wine prefix is
# build/wine-disk/prefix, made on first use; every run starts from its registry hives (system,
# user and default user) as they were then. DESTPICK_NATIVE_BUILD_DIR, DESTPICK_WINDOWS_BUILD_DIR
# and DESTPICK_WINE name other builds or another wine64.
set -u
usage="usage: scripts/wine-run.sh [--capture] MACHINE.json OUTDIR"
die() { # exit code, message
    echo "wine-run: $2" >&2
    exit "$1"
}

program=destpick.exe
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help)
        echo "$usage"
        exit 0
        ;;
    --capture) program=destpick-capture.exe ;;
    -*) die 1 "unknown option $1; $usage" ;;
    *) break ;;
    esac
    shift
done
[ $# -eq 2 ] || die 1 "$usage"
machine=$1
root=$(cd "$(dirname "$0")/.." && pwd -P)
native_dir=${DESTPICK_NATIVE_BUILD_DIR:-$root/build/sim}
windows_dir=${DESTPICK_WINDOWS_BUILD_DIR:-$root/build/windows}
wine=${DESTPICK_WINE:-/usr/lib/wine/wine64}
state=$root/build/wine-disk
service=destpick_disk
driver_path='C:\windows\system32\drivers\destpick_disk.sys'
hives=(system.reg user.reg userdef.reg)

# The folder as it will be, symbolic links followed, before anything is created in it.
outdir=$(realpath -m -- "$2") || die 1 "cannot resolve $2"
case $outdir in
*[\"\\*?\<\>\|]* | *[[:cntrl:]]*)
    die 1 "OUTDIR $outdir: Windows cannot name a path holding \", \\, *, ?, <, >, | or a control character; choose another folder"
    ;;
esac
outdir_and_below=${outdir%/}/
for build in "$root/build" "$native_dir" "$windows_dir" "$state"; do
    build=$(realpath -m -- "$build")/
    case $build in
    "$outdir_and_below"*) die 1 "OUTDIR $outdir is or holds the build folder ${build%/}; choose another folder" ;;
    esac
done
# The prefix is made anew when its hives were not kept, with whatever is in it.
case $outdir_and_below in
"$(realpath -m -- "$state")"/*) die 1 "OUTDIR $outdir is inside $state, which the runs keep to themselves" ;;
esac

for built in "$native_dir/wine_machine" "$windows_dir/$program" "$windows_dir/$service.sys" \
    "$windows_dir/wine_launcher.exe"; do
    [ -f "$built" ] || die 2 "no $built: build the sim and windows presets first"
done
[ -x "$wine" ] || die 4 "no Wine at $wine"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver) || die 4 "no wineserver beside $wine"

# The registry file is made before OUTDIR is touched: a refused description leaves it as it was.
registry=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || die 2 "cannot create a temporary file"
trap 'rm -f "$registry"' EXIT
"$native_dir/wine_machine" "$machine" "$registry"
case $? in
0) ;;
2) exit 5 ;;
3) exit 3 ;;
*) exit 2 ;;
esac

mkdir -p "$outdir" "$state" || die 2 "cannot create $outdir"
rm -f "$outdir/stdout" "$outdir/exit-code" "$outdir/destpick.log" "$outdir/driver-counts"
cp "$registry" "$outdir/machine.reg" || die 2 "cannot write into $outdir"

# Quiet and unattended, as the other Wine checks run it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEPREFIX=$state/prefix LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# One run at a time per prefix; the server must be gone for its registry files to be replaced.
# A prefix without a copy of every hive as it was made (one from before the user hives were
# kept, or one cut short) is made anew: what an earlier run left in a hive cannot be told apart.
exec 9>"$state/lock"
flock 9
pristine=$state/pristine
kept_hives() {
    for hive in "${hives[@]}"; do
        [ -f "$pristine/$hive" ] || return 1
    done
}
if ! kept_hives; then
    echo "wine-run: creating the Wine prefix $WINEPREFIX (once)" >&2
    rm -rf "$WINEPREFIX" "$pristine" "$pristine.new" "$state/system.reg.pristine"
    timeout 600 "$wine" wineboot -i </dev/null >"$state/wineboot.out" 2>&1
    timeout 120 "$wineserver" -w
    mkdir "$pristine.new"
    for hive in "${hives[@]}"; do
        cp "$WINEPREFIX/$hive" "$pristine.new/$hive" 2>/dev/null ||
            die 4 "Wine could not create its prefix: $(tail -n 5 "$state/wineboot.out")"
    done
    mv "$pristine.new" "$pristine"
fi
timeout 120 "$wineserver" -w
for hive in "${hives[@]}"; do
    cp "$pristine/$hive" "$WINEPREFIX/$hive" || die 2 "cannot put back $WINEPREFIX/$hive"
done
cp "$windows_dir/$service.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/$service.sys"
cp "$windows_dir/$program" "$outdir/$program"

timeout 120 "$wine" regedit /S "$(windows_path "$outdir/machine.reg")" </dev/null >/dev/null 2>&1 ||
    die 4 "Wine could not import the machine into its registry"
timeout 300 "$wine" "$windows_dir/wine_launcher.exe" "$service" "$driver_path" \
    "$(windows_path "$outdir/$program")" "$(windows_path "$outdir/stdout")" \
    </dev/null >"$outdir/launcher.out" 2>"$outdir/launcher.err"
status=$?
timeout 120 "$wineserver" -w
report=$(tr -d '\r' <"$outdir/launcher.out")
problem=$(cat "$outdir/launcher.err")
rm -f "$outdir/$program" "$outdir/machine.reg" "$outdir/launcher.out" "$outdir/launcher.err"
[ "$status" -eq 0 ] || die 2 "the launcher failed ($status): $problem"
printf '%s\n' "$report" | sed -n 's/^exit-code=//p' >"$outdir/exit-code"
printf '%s\n' "$report" | grep -v '^exit-code=' >"$outdir/driver-counts"
