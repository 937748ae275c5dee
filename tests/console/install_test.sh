#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program:
# it must find and register the module from the installed library folder.
#   install_test.sh BUILD_DIR
set -eu
build=${1:?usage: install_test.sh BUILD_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
export FERRODEX_REGISTRY="$work/registry" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
program="$work/prefix/bin/ferrodex"
test -x "$program"
test -f "$work/prefix/share/man/man1/ferrodex.1"
"$program" group add Lab
"$program" tree | grep -qx '  Lab'
grep -q "@=\"$work/prefix/lib/ferrodex/libferrodex-snapin.so\"" "$FERRODEX_REGISTRY/HKEY_CLASSES_ROOT.reg"
echo "installed ferrodex works"
