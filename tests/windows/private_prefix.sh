# Sourced by the Windows tests that change what Wine keeps (the registry, an
# installation): `private_prefix PREFIX [BUILD_DIR]` makes PREFIX a copy of
# the build tree's prefix (made once by wine_run.sh), its unchanging files
# hard-linked and its registry files copied, and exports it for wine_run.sh
# and wine. BUILD_DIR defaults to the nearest folder at or above the
# current one that holds CMakeCache.txt. `prefix_settled` waits, within a
# bound, until every program in the exported prefix has ended (an installer
# runs on in a copy of itself). `private_prefix_end PREFIX` stops its Wine
# server and removes it.
private_prefix() {
    local prefix=$1 build_dir=${2:-} file
    if [ -z "$build_dir" ]; then
        build_dir=$(pwd -P)
        until [ -f "$build_dir/CMakeCache.txt" ]; do
            [ "$build_dir" != / ] || { echo "private_prefix: not inside a build folder" >&2; return 1; }
            build_dir=$(dirname "$build_dir")
        done
    fi
    FDX_WINE_PREFIX=$build_dir/wine "$(dirname "${BASH_SOURCE[0]}")/wine_run.sh" cmd /c exit 0 || return 1
    private_prefix_end "$prefix"
    mkdir -p "$prefix"
    cp -al "$build_dir/wine/." "$prefix"
    for file in "$build_dir"/wine/*.reg "$build_dir/wine/.update-timestamp"; do
        cp --remove-destination "$file" "$prefix/$(basename "$file")"
    done
    export FDX_WINE_PREFIX=$prefix WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
}

private_prefix_end() {
    [ -d "$1" ] && WINEPREFIX=$1 wineserver -k >/dev/null 2>&1
    rm -rf "$1"
}

prefix_settled() {
    timeout "${FDX_WINE_TIMEOUT:-120}" wineserver -w || {
        echo "prefix_settled: programs in $WINEPREFIX still ran after ${FDX_WINE_TIMEOUT:-120} s" >&2
        return 1
    }
}
