#!/usr/bin/env bash
# Makes the engine package, Vorbex: Debian's lshw source repacked as a
# reproducible gzip-compressed tar that unpacks into lshw-<version>/ with an
# `install` script of ours and lshw built statically for the architectures
# in prebuilt/<uname -m>/lshw, then signs it and describes it in the registry.
#
#   tools/engine-package.sh BUILD_DIR [OUT_DIR]
#
# BUILD_DIR is the build tree whose signing key signs the package (and whose
# fdx-engine-register writes the registry); OUT_DIR defaults to
# $XDG_DATA_HOME/ferrodex/engine. The source is fetched once with apt's
# source download into $XDG_CACHE_HOME/ferrodex/lshw-source, without
# touching the machine's apt configuration. The static builds are kept in
# that cache per version and made again only when missing or when
# FDX_ENGINE_REBUILD=1; an architecture whose compiler is missing is left
# out with a warning.
set -euo pipefail

build_dir=$(cd "${1:?usage: engine-package.sh BUILD_DIR [OUT_DIR]}" && pwd)
data_home=${XDG_DATA_HOME:-$HOME/.local/share}
out_dir=${2:-$data_home/ferrodex/engine}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/ferrodex/lshw-source
here=$(cd "$(dirname "$0")" && pwd)

fetch_source() {
    mkdir -p "$cache/apt/sources.list.d" "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
    local sources
    for sources in /etc/apt/sources.list.d/*.sources; do
        [ -f "$sources" ] || continue
        sed 's/^Types: deb$/Types: deb deb-src/' "$sources" > "$cache/apt/sources.list.d/$(basename "$sources")"
    done
    local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$cache/apt/sources.list.d"
                -o "Dir::State::Lists=$cache/apt/lists" -o "Dir::Cache=$cache/apt/cache"
                -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
    local log="$cache/apt.log"
    apt-get "${opts[@]}" -qq update >"$log" 2>&1 || true
    # Debian's patch tarball is not needed to build and is sometimes missing:
    # what counts is the orig tarball, checked against the .dsc below.
    (cd "$cache" && apt-get "${opts[@]}" -qq source --download-only lshw >>"$log" 2>&1) || true
}

orig=$(ls "$cache"/lshw_*.orig.tar.xz 2>/dev/null | head -n 1 || true)
if [ -z "$orig" ]; then
    fetch_source
    orig=$(ls "$cache"/lshw_*.orig.tar.xz 2>/dev/null | head -n 1 || true)
fi
[ -n "$orig" ] || { echo "engine-package: could not fetch Debian's lshw source (see $cache/apt.log)" >&2; exit 1; }
dsc=$(ls "$cache"/lshw_*.dsc | head -n 1)
want=$(awk '/^Checksums-Sha256:/{on=1; next} /^[^ ]/{on=0} on && $3 ~ /orig.tar.xz$/ {print $1}' "$dsc")
have=$(sha256sum "$orig" | cut -d' ' -f1)
[ "$want" = "$have" ] || { echo "engine-package: $orig does not match its .dsc" >&2; exit 1; }

version=$(basename "$orig" .orig.tar.xz)
version=${version#lshw_}
name=lshw-$version.tar.gz
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
tar -xJf "$orig" -C "$stage"
[ -d "$stage/lshw-$version" ] || { echo "engine-package: unexpected layout of $orig" >&2; exit 1; }
cp "$here/engine/install" "$stage/lshw-$version/install"
chmod 755 "$stage/lshw-$version/install"
printf '%s\n' "$version" > "$stage/lshw-$version/VERSION"
architectures=

# lshw built statically and stripped for one architecture, in a fixed folder
# so that the same compiler gives the same bytes. Its data folder is ".": the
# installed `lshw` runs it from the folder that holds pci.ids and the rest.
build_static() {
    local arch=$1 cross=$2
    local into="$cache/prebuilt/$version/$arch"
    if [ "${FDX_ENGINE_REBUILD:-0}" != 1 ] && [ -s "$into/lshw" ]; then
        return 0
    fi
    command -v "${cross}g++" >/dev/null 2>&1 || {
        echo "engine-package: no ${cross}g++, so no prebuilt lshw for $arch (scripts/setup.sh installs it)" >&2
        return 1
    }
    local tree="$cache/build/$arch"
    rm -rf "$tree" "$into"
    mkdir -p "$tree" "$into"
    tar -xJf "$orig" -C "$tree"
    local src="$tree/lshw-$version/src"
    local vars=(VERSION="$version" SQLITE=0 ZLIB=0 PREFIX=/usr/local DATADIR=. CXX="${cross}g++" AR="${cross}ar"
                STRIP="${cross}strip" RPM_OPT_FLAGS="-O2 -ffile-prefix-map=$tree=.")
    # The library first: the static target does not wait for it under -j.
    if ! { make -C "$src" -j"$(nproc)" core lshw.o "${vars[@]}" && make -C "$src" static "${vars[@]}"; } \
            >"$tree/make.log" 2>&1; then
        echo "engine-package: the static build for $arch failed (see $tree/make.log)" >&2
        return 1
    fi
    cp "$src/lshw-static" "$into/lshw"
    rm -rf "$tree"
}

for target in "x86_64:x86_64-linux-gnu-" "aarch64:aarch64-linux-gnu-"; do
    arch=${target%%:*}
    if build_static "$arch" "${target#*:}"; then
        mkdir -p "$stage/lshw-$version/prebuilt/$arch"
        install -m 755 "$cache/prebuilt/$version/$arch/lshw" "$stage/lshw-$version/prebuilt/$arch/lshw"
        architectures="${architectures:+$architectures }$arch"
    fi
done

mkdir -p "$out_dir"
tar --format=gnu --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX \
    -C "$stage" -cf - "lshw-$version" | gzip -n -9 > "$out_dir/$name.tmp"
mv -f "$out_dir/$name.tmp" "$out_dir/$name"

"$build_dir/tools/fdx-engine-register" --package "$out_dir/$name" --version "$version" \
    --key "$build_dir/engine-signing-key.pem" --architectures "${architectures:-}"
echo "engine package: $out_dir/$name"
