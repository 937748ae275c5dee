#!/usr/bin/env bash
# Builds what the 32-bit Windows module links besides the system: OpenSSL's
# libcrypto and zlib, static, for i686-w64-mingw32, from Debian's own source
# packages (the upstream tarballs as Debian ships them, checked against their
# .dsc). The sources are fetched once with apt's source download, without
# touching the machine's apt configuration; the built prefix is cached and
# made again only when missing or when FDX_WINDOWS_DEPS_REBUILD=1.
#
#   scripts/windows-deps.sh [PREFIX]
#
# PREFIX defaults to $XDG_CACHE_HOME/ferrodex/windows-deps/i686, where the
# cross build's toolchain file looks for it. Prints the prefix when done.
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/ferrodex/windows-deps
prefix=${1:-$cache/i686}
host=i686-w64-mingw32
jobs=$(nproc)

fetch_sources() {
    local apt=$cache/apt
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    local sources
    for sources in /etc/apt/sources.list.d/*.sources; do
        [ -f "$sources" ] || continue
        sed 's/^Types: deb$/Types: deb deb-src/' "$sources" > "$apt/sources.list.d/$(basename "$sources")"
    done
    local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
                -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
    apt-get "${opts[@]}" -qq update >"$cache/apt.log" 2>&1 || true
    # The release's own suite: the security suite's source files are not
    # always served.
    (cd "$cache" && apt-get "${opts[@]}" -qq source --download-only openssl/bookworm zlib/bookworm \
        >>"$cache/apt.log" 2>&1) || true
}

# The upstream tarball of source package $1, checked against its .dsc.
checked_orig() {
    local dsc orig want have
    dsc=$(ls "$cache/$1"_*.dsc 2>/dev/null | head -n 1 || true)
    [ -n "$dsc" ] || return 1
    orig=$(ls "$cache/$1"_*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n 1 || true)
    [ -n "$orig" ] || return 1
    want=$(awk -v f="$(basename "$orig")" '/^Checksums-Sha256:/{on=1; next} /^[^ ]/{on=0} on && $3 == f {print $1}' "$dsc")
    have=$(sha256sum "$orig" | cut -d' ' -f1)
    [ "$want" = "$have" ] || { echo "windows-deps: $orig does not match its .dsc" >&2; exit 1; }
    echo "$orig"
}

command -v "$host-gcc" >/dev/null || { echo "windows-deps: $host-gcc is missing (package gcc-mingw-w64-i686)" >&2; exit 1; }
mkdir -p "$cache"
if ! checked_orig openssl >/dev/null || ! checked_orig zlib >/dev/null; then
    fetch_sources
fi
openssl_orig=$(checked_orig openssl) || { echo "windows-deps: could not fetch Debian's openssl source (see $cache/apt.log)" >&2; exit 1; }
zlib_orig=$(checked_orig zlib) || { echo "windows-deps: could not fetch Debian's zlib source (see $cache/apt.log)" >&2; exit 1; }

stamp="$prefix/.built-from"
want_stamp="$(basename "$openssl_orig") $(basename "$zlib_orig")"
if [ "${FDX_WINDOWS_DEPS_REBUILD:-0}" != 1 ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want_stamp" ]; then
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"

echo "windows-deps: building zlib for $host" >&2
mkdir -p "$work/zlib"
tar -xf "$zlib_orig" -C "$work/zlib" --strip-components=1
# Debian's tarball leaves out zlib's Windows makefiles: the library is its
# fifteen C files, compiled and archived here.
(
    cd "$work/zlib"
    for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
             inftrees trees uncompr zutil; do
        "$host-gcc" -O2 -D_LARGEFILE64_SOURCE=1 -c "$c.c" -o "$c.o"
    done
    "$host-ar" rcs libz.a ./*.o
) >"$work/zlib.log" 2>&1 || { tail -n 30 "$work/zlib.log" >&2; exit 1; }
cp "$work/zlib/libz.a" "$prefix/lib/"
cp "$work/zlib/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"

echo "windows-deps: building OpenSSL's libcrypto for $host (a few minutes)" >&2
mkdir -p "$work/openssl"
tar -xf "$openssl_orig" -C "$work/openssl" --strip-components=1
(
    cd "$work/openssl"
    ./Configure mingw --cross-compile-prefix="$host-" --prefix="$prefix" --libdir=lib \
        no-shared no-module no-engine no-tests no-ui-console no-dso no-legacy \
        -DOPENSSL_NO_CAPIENG >"$work/openssl.log" 2>&1
    make -j "$jobs" build_generated >>"$work/openssl.log" 2>&1
    make -j "$jobs" libcrypto.a >>"$work/openssl.log" 2>&1
) || { tail -n 30 "$work/openssl.log" >&2; exit 1; }
cp "$work/openssl/libcrypto.a" "$prefix/lib/"
cp -r "$work/openssl/include/openssl" "$prefix/include/"
echo "$want_stamp" > "$stamp"
echo "$prefix"
