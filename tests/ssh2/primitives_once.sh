#!/bin/sh
# Both SSH engines take their primitives from ssh2/crypto/: no other file of
# ssh2/ or scp/ includes OpenSSL or zlib, keeps a random seed of its own, or
# starts a zlib stream. The upload engine's key exchange still works its
# Diffie-Hellman numbers and wipes with OpenSSL's bignum and cleanse calls;
# those two headers are the only ones scp/ may still include.
# Usage: primitives_once.sh SOURCE_DIR
set -eu
src=${1:?source folder}
cd "$src"
fail=0
report() { echo "primitive outside ssh2/crypto/: $1"; fail=1; }

for f in $(find ssh2 scp -name '*.cpp' -o -name '*.h' | grep -v '^ssh2/crypto/' | sort); do
  if grep -n '#include *<zlib\.h>' "$f"; then report "$f (zlib)"; fi
  case $f in
    scp/*) allowed='openssl/(bn|crypto)\.h' ;;
    *) allowed='^$' ;;
  esac
  bad=$(grep -nE '#include *<openssl/' "$f" | grep -vE "$allowed" || true)
  [ -z "$bad" ] || { echo "$f:$bad"; report "$f (OpenSSL)"; }
  if grep -nE 'RandomSeed|deflateInit|inflateInit|RAND_bytes|EVP_[A-Za-z_]+\(' "$f"; then
    report "$f (random seed, zlib stream or EVP call)"
  fi
done
exit $fail
