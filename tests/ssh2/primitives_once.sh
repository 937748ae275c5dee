#!/bin/sh
# Both SSH engines take their primitives from sshcore/: no other file of
# ssh2/ or scp/ includes OpenSSL or zlib, keeps a random seed of its own, or
# starts a zlib stream; the upload engine reaches them only through its
# adapter, scp/scp_crypto*.cpp, which calls no OpenSSL of its own either.
# No return or throw in scp/, ssh2/ or scan/
# gives a bare error number: errors go by their names.
# Usage: primitives_once.sh SOURCE_DIR
set -eu
src=${1:?source folder}
cd "$src"
fail=0
report() { echo "primitive outside sshcore/: $1"; fail=1; }

for f in $(find ssh2 scp -name '*.cpp' -o -name '*.h' | grep -v '^sshcore/' | sort); do
  if grep -n '#include *<zlib\.h>' "$f"; then report "$f (zlib)"; fi
  if grep -nE '#include *<openssl/|OPENSSL_|CRYPTO_|BN_[a-z]' "$f"; then
    report "$f (OpenSSL)"
  fi
  if grep -nE 'RandomSeed|deflateInit|inflateInit|RAND_bytes|EVP_[A-Za-z_]+\(' "$f"; then
    report "$f (random seed, zlib stream or EVP call)"
  fi
done

# A bare number as an error: "throw 5;" anywhere; a number beside an error
# name ("return rc ? 18 : SCP_OK;"); and in scp/ and scan/, whose functions
# answer with error codes, a lone "return 17;" (0, 1 and -1 are answers,
# and the case tables of sizes are not errors).
for f in $(find scp ssh2 scan -name '*.cpp' -o -name '*.h' | sort); do
  code=$(grep -nE '\b(return|throw)\b' "$f" | grep -vE '^[0-9]+:\s*//' || true)
  bad=$(printf '%s\n' "$code" | grep -E 'throw\s+-?[0-9]+\s*;' || true)
  bad="$bad$(printf '%s\n' "$code" | grep -E '(SCP_E_|SCP_OK|SSH_[A-Z_]+|\brc\b)' |
    grep -E '[?:]\s*([2-9]|[1-9][0-9]+)\s*[:;]' || true)"
  case $f in
    scp/*|scan/*)
      bad="$bad$(printf '%s\n' "$code" | grep -v 'case ' | grep -E 'return\s+([2-9]|[1-9][0-9]+)\s*;' || true)" ;;
  esac
  [ -z "$bad" ] || { echo "$bad"; report "$f (bare error number)"; }
done
exit $fail
