# Sourced by the Wine checks: a quiet, unattended Wine with a prefix of its own, created on first
# use, and a scratch folder removed at the end. Expects $exe and $wine, and the caller's fail and
# finish functions.
# Quiet and unattended: no debug channels, no display to open dialogs on, and no offer to
# download the .NET and HTML engines while the prefix is created.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine decodes Linux file names by the locale; UTF-8 makes the non-ASCII folder below arrive
# as the character it is.
export LC_ALL=C.UTF-8
export WINEPREFIX=${DESTPICK_WINEPREFIX:-$(dirname "$exe")/wine-prefix}
scratch=$(cd "$(mktemp -d "${TMPDIR:-/tmp}/destpick-wine.XXXXXX")" && pwd -P)
export HOME=${HOME:-$scratch}

wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
cleanup() {
    # Let this prefix's server go (it lingers a few seconds after the last program) so that no
    # process outlives the test, then drop the scratch folder.
    if [ -n "$wineserver" ]; then
        timeout 30 "$wineserver" -w 2>/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# system.reg is written once the prefix is complete; a prefix cut short is simply booted again.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (the first start takes a while)"
    mkdir -p "$WINEPREFIX"
    timeout 600 "$wine" wineboot -i </dev/null >"$scratch/wineboot.out" 2>&1
    [ -n "$wineserver" ] && timeout 120 "$wineserver" -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        fail "Wine prefix not created:"
        cat "$scratch/wineboot.out"
        finish
    fi
fi

