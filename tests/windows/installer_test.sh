#!/usr/bin/env bash
# The installer under Wine, from a fresh copy of the build tree's prefix:
# a silent install with an engine package registers the snap-in and
# describes the package, regsvr32 accepts the installed module, and a silent
# uninstall leaves neither files nor keys behind.
#
#   tests/windows/installer_test.sh BUILD_DIR [--fixture]
#
# BUILD_DIR is the `windows` preset's tree (its Wine prefix is made there
# when missing); FDX_DLL overrides the module. With --fixture the installer
# carries fixture_module.c, built here, with a signing key of its own: the
# installer alone, without the snap-in. The stand-in built to refuse its
# registration tests the failing install either way. Prints how long each
# stage took; exits non-zero when a check failed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=$(cd "${1:?usage: installer_test.sh BUILD_DIR [--fixture]}" && pwd)
fixture=${2:-}
run=$here/wine_run.sh

work=$build_dir/installer-test
prefix=$work/prefix
cleanup() {
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
stage_started=$SECONDS
stage() { echo "installer_test: $1 took $((SECONDS - stage_started)) s"; stage_started=$SECONDS; }

snapin=$(sed -n 's/.*CLSID CLSID_Ferrodex = MakeGuid("\([0-9A-Fa-f-]*\)").*/\1/p' "$source_dir/platform/snapin_contract.h")
about=$(sed -n 's/.*CLSID CLSID_FerrodexAbout = MakeGuid("\([0-9A-Fa-f-]*\)").*/\1/p' "$source_dir/platform/snapin_contract.h")
snapin="{${snapin^^}}"
about="{${about^^}}"
folder='C:\Program Files\Ferrodex'
snapin_key="HKLM\\Software\\Microsoft\\MMC\\SnapIns\\$snapin"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ferrodex'
product_key='HKLM\Software\Quillon\Ferrodex'

# A stand-in engine package: the installer only carries and describes it.
engine_version=02.19-test
mkdir -p "$work/package/lshw-$engine_version/prebuilt/x86_64" "$work/package/lshw-$engine_version/prebuilt/aarch64"
echo stand-in > "$work/package/lshw-$engine_version/prebuilt/x86_64/lshw"
echo stand-in > "$work/package/lshw-$engine_version/prebuilt/aarch64/lshw"
package=$work/lshw-$engine_version.tar.gz
tar -C "$work/package" -czf "$package" "lshw-$engine_version"
# The stand-in module in folder $1, with extra compiler options after it.
build_fixture() {
    local tree=$1
    shift
    mkdir -p "$tree"
    i686-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -shared -static-libgcc "$@" \
        -DSNAPIN_CLSID="L\"$snapin\"" -DABOUT_CLSID="L\"$about\"" -o "$tree/ferrodex.dll" \
        "$here/fixture_module.c" "$here/fixture_module.def" -ladvapi32
    (umask 077 && openssl genpkey -algorithm ed25519 -out "$tree/engine-signing-key.pem")
}

installer_tree=$build_dir
if [ "$fixture" = --fixture ]; then
    installer_tree=$work/fixture
    build_fixture "$installer_tree"
elif [ -n "$fixture" ]; then
    echo "usage: installer_test.sh BUILD_DIR [--fixture]" >&2
    exit 2
fi
build_fixture "$work/refusing" -DREFUSE_REGISTRATION
"$source_dir/tools/installer/make-installer.sh" "$work/refusing" "" "$work/refusing-setup.exe" >/dev/null
"$source_dir/tools/installer/make-installer.sh" "$installer_tree" "$package" "$work/ferrodex-setup.exe" >/dev/null
stage "building the installer"

# A copy of the build tree's prefix, this test's own.
. "$here/private_prefix.sh"
private_prefix "$prefix" "$build_dir"
stage "preparing the prefix"

# The value `name` of `key` (the default value for an empty name), or
# nothing with status 1 when the key or value is missing.
reg_value() {
    local out line
    if [ -z "$2" ]; then
        out=$(wine reg query "$1" /ve 2>/dev/null | tr -d '\r') || return 1
    else
        out=$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r') || return 1
    fi
    line=$(grep -m 1 -E '^    .*    REG_[A-Z_]+    ' <<<"$out") || return 1
    sed -E 's/^    .*    REG_[A-Z_]+    //' <<<"$line"
}
expect_value() {
    local have
    have=$(reg_value "$1" "$2") || { fail "no value '${2:-(default)}' in $1"; return 0; }
    [ "$have" = "$3" ] || fail "$1 '${2:-(default)}' is '$have', not '$3'"
}
expect_no_key() {
    wine reg query "$1" >/dev/null 2>&1 && fail "$1 is still there" || true
}
unix_path() { echo "$prefix/drive_c/${1#C:\\}" | tr '\\' /; }

status=0
"$run" "$work/ferrodex-setup.exe" /S || status=$?
prefix_settled
[ "$status" -eq 0 ] || fail "the silent install ended with exit code $status"
stage "the silent install"

for file in ferrodex.dll uninstall.exe "engine\\lshw-$engine_version.tar.gz"; do
    [ -f "$(unix_path "$folder\\$file")" ] || fail "$folder\\$file is missing"
done
cmp -s "$package" "$(unix_path "$folder\\engine\\lshw-$engine_version.tar.gz")" || fail "the installed package differs"
expect_value "HKCR\\CLSID\\$snapin\\InprocServer32" "" "$folder\\ferrodex.dll"
# The module's other keys are its DllRegisterServer's (tests/snapin checks
# them); that the module takes LSHWCRC is the deployment test's to prove.
expect_value "$uninstall_key" DisplayName Ferrodex
expect_value "$uninstall_key" UninstallString "\"$folder\\uninstall.exe\""
expect_value "$uninstall_key" QuietUninstallString "\"$folder\\uninstall.exe\" /S"
expect_value "$product_key" LSHWPath "$folder\\engine\\"
expect_value "$product_key" LSHWName "lshw-$engine_version.tar.gz"
expect_value "$product_key" LSHWVersion "$engine_version"
expect_value "$product_key" LSHWArch "aarch64 x86_64"
stage "checking the install"

# What the module notes beside the description after deploying the engine,
# and the SSH engine's random seed it keeps for the machine.
wine reg add "$product_key" /v LSHWInstalledFrom /t REG_SZ /d prebuilt /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Quillon\Corvel' /v RandomSeed /t REG_BINARY /d 00112233 /f >/dev/null 2>&1
status=0
"$run" "$folder\\uninstall.exe" /S || status=$?
# The uninstaller runs from a copy of itself: wait for it.
prefix_settled
[ "$status" -eq 0 ] || fail "the silent uninstall ended with exit code $status"
stage "the silent uninstall"

[ -e "$(unix_path "$folder")" ] && fail "$folder is still there: $(cd "$(unix_path "$folder")" && find . | tr '\n' ' ')"
for key in "HKCR\\CLSID\\$snapin" "HKCR\\CLSID\\$about" "$snapin_key" "$uninstall_key" 'HKLM\Software\Quillon'; do
    expect_no_key "$key"
done

# A module that cannot register (the stand-in, built to refuse) fails the
# install with its own exit code, and the install leaves nothing behind.
status=0
"$run" "$work/refusing-setup.exe" /S || status=$?
prefix_settled
[ "$status" -eq 3 ] || fail "an install whose registration fails ended with exit code $status, not 3"
[ -e "$(unix_path "$folder")" ] && fail "a failed install left $folder"
for key in "HKCR\\CLSID\\$snapin" "$snapin_key" "$uninstall_key" 'HKLM\Software\Quillon'; do
    expect_no_key "$key"
done
stage "the install of a module that cannot register"

if [ "$failures" -ne 0 ]; then
    echo "installer_test: $failures failure(s)" >&2
    exit 1
fi
echo "installer_test: passed"
