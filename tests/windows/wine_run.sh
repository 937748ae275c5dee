#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine with no display and passes its
# exit code through:
#
#   tests/windows/wine_run.sh PROGRAM.exe [ARGS...]
#
# The Wine prefix is private to the build folder: $FDX_WINE_PREFIX when set,
# otherwise <build folder>/wine, the build folder being the nearest folder
# at or above the current one that holds CMakeCache.txt (ctest runs each test
# inside the build tree). The prefix is made once, 32-bit (Debian's wine32
# runs i686 programs; there is no 64-bit loader to share the prefix with),
# without the Mono and Gecko prompts and with the null graphics driver, so
# that no window ever needs a display; parallel runs wait for the one that
# makes it. Every run is bounded by $FDX_WINE_TIMEOUT seconds (default 120):
# a message box that nobody answers ends as exit code 124.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: wine_run.sh PROGRAM.exe [ARGS...]" >&2; exit 2; }

find_build_folder() {
    local dir
    dir=$(pwd -P)
    while [ "$dir" != / ]; do
        [ -f "$dir/CMakeCache.txt" ] && { echo "$dir"; return 0; }
        dir=$(dirname "$dir")
    done
    return 1
}

if [ -n "${FDX_WINE_PREFIX:-}" ]; then
    prefix=$FDX_WINE_PREFIX
else
    build=$(find_build_folder) || { echo "wine_run: not inside a build folder; set FDX_WINE_PREFIX" >&2; exit 2; }
    prefix=$build/wine
fi
case $prefix in /*) ;; *) prefix=$(pwd -P)/$prefix ;; esac

export WINEPREFIX=$prefix
export WINEARCH=win32
export WINEDEBUG=${FDX_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
# Nothing reaches a display, even before the null driver is configured.
unset DISPLAY WAYLAND_DISPLAY

# Under the lock, held only while the prefix is made: the runs themselves
# share it freely.
make_prefix() {
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/.fdx-ready" ]; then
        build_prefix
    fi
    exec 9>&-
}

build_prefix() {
    rm -rf "$prefix"
    local started=$SECONDS
    wineboot -i >"$prefix.log" 2>&1 || { tail -n 20 "$prefix.log" >&2; exit 1; }
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >>"$prefix.log" 2>&1 \
        || { echo "wine_run: could not choose the null graphics driver (see $prefix.log)" >&2; exit 1; }
    # The registry reaches its files only when the server has written them.
    wineserver -w
    touch "$prefix/.fdx-ready"
    echo "wine_run: made the Wine prefix $prefix in $((SECONDS - started)) s" >&2
}

[ -f "$prefix/.fdx-ready" ] || make_prefix

status=0
timeout --kill-after=10 "${FDX_WINE_TIMEOUT:-120}" wine "$@" || status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "wine_run: $1 did not finish within ${FDX_WINE_TIMEOUT:-120} s" >&2
fi
exit "$status"
