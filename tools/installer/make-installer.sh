#!/usr/bin/env bash
# Makes the Windows installer of a Windows build tree with Debian's makensis:
#
#   tools/installer/make-installer.sh BUILD_DIR [ENGINE_PACKAGE [OUTPUT]]
#
# BUILD_DIR is the `windows` preset's tree (it holds ferrodex.dll and the
# engine signing key); ENGINE_PACKAGE, an lshw-<version>.tar.gz made by
# tools/engine-package.sh, goes into the installer signed with that tree's
# key, so that the module built there accepts it. Writes OUTPUT (by default
# BUILD_DIR/ferrodex-setup.exe) and prints its path. FDX_DLL overrides where
# the module is taken from.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=$(cd "${1:?usage: make-installer.sh BUILD_DIR [ENGINE_PACKAGE [OUTPUT]]}" && pwd)
package=${2:-}
output=${3:-$build_dir/ferrodex-setup.exe}
case $output in /*) ;; *) output=$(pwd)/$output ;; esac

dll=${FDX_DLL:-}
if [ -z "$dll" ]; then
    dll=$(find "$build_dir" -name ferrodex.dll -type f -not -path "$build_dir/wine*" -not -path "$build_dir/installer-test/*" | head -n 1)
fi
[ -n "$dll" ] && [ -f "$dll" ] || { echo "make-installer: no ferrodex.dll in $build_dir" >&2; exit 1; }

# The class identifiers, as the module registers them.
clsid() {
    local guid
    guid=$(sed -n "s/.*CLSID $1 = MakeGuid(\"\([0-9A-Fa-f-]\{36\}\)\").*/\1/p" "$source_dir/platform/snapin_contract.h")
    [ -n "$guid" ] || { echo "make-installer: no $1 in platform/snapin_contract.h" >&2; exit 1; }
    echo "{${guid^^}}"
}

version=$(sed -n 's/^project(Ferrodex VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
defines=(-DFDX_DLL="$dll" -DFDX_OUTFILE="$output" -DFDX_VERSION="${version:-1.0}"
         -DFDX_CLSID="$(clsid CLSID_Ferrodex)" -DFDX_ABOUT_CLSID="$(clsid CLSID_FerrodexAbout)")

if [ -n "$package" ]; then
    [ -f "$package" ] || { echo "make-installer: no engine package $package" >&2; exit 1; }
    name=$(basename "$package")
    engine_version=${name#lshw-}
    engine_version=${engine_version%.tar.gz}
    [[ $name == lshw-*.tar.gz && $engine_version =~ ^[0-9A-Za-z][0-9A-Za-z.+~_-]{0,63}$ ]] ||
        { echo "make-installer: $name is not named lshw-<version>.tar.gz" >&2; exit 1; }
    key=$build_dir/engine-signing-key.pem
    [ -f "$key" ] || { echo "make-installer: no signing key $key (configure the tree first)" >&2; exit 1; }
    # The signature covers the package's SHA-1 digest as lower-case hex.
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    sha1sum "$package" | cut -d' ' -f1 | tr -d '\n' > "$work/digest"
    signature=$(openssl pkeyutl -sign -rawin -inkey "$key" -in "$work/digest" | od -An -v -tx1 | tr -d ' \n')
    # The architectures the package carries a prebuilt lshw for.
    architectures=$(tar -tzf "$package" | sed -n 's|^[^/]*/prebuilt/\([A-Za-z0-9_-]*\)/lshw$|\1|p' | sort -u | tr '\n' ' ')
    defines+=(-DFDX_ENGINE_PACKAGE="$(cd "$(dirname "$package")" && pwd)/$name" -DFDX_ENGINE_VERSION="$engine_version"
              -DFDX_ENGINE_SIGNATURE="$signature" -DFDX_ENGINE_ARCH="${architectures% }")
fi

makensis -V2 -INPUTCHARSET UTF8 "${defines[@]}" "$here/ferrodex.nsi" >&2
echo "$output"
