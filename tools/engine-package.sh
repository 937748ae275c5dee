#!/usr/bin/env bash
# Makes the engine package, Vorbex: Debian's lshw source repacked as a
# reproducible gzip-compressed tar that unpacks into lshw-<version>/ with an
# `install` script of ours, then signs it and describes it in the registry.
#
#   tools/engine-package.sh BUILD_DIR [OUT_DIR]
#
# BUILD_DIR is the build tree whose signing key signs the package (and whose
# fdx-engine-register writes the registry); OUT_DIR defaults to
# $XDG_DATA_HOME/ferrodex/engine. The source is fetched once with apt's
# source download into $XDG_CACHE_HOME/ferrodex/lshw-source, without
# touching the machine's apt configuration.
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

mkdir -p "$out_dir"
tar --format=gnu --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX \
    -C "$stage" -cf - "lshw-$version" | gzip -n -9 > "$out_dir/$name.tmp"
mv -f "$out_dir/$name.tmp" "$out_dir/$name"

"$build_dir/tools/fdx-engine-register" --package "$out_dir/$name" --version "$version" \
    --key "$build_dir/engine-signing-key.pem"
echo "engine package: $out_dir/$name"
