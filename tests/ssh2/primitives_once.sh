#!/bin/sh
# The SSH foundation, sshcore/, is the only code that calls OpenSSL or zlib:
# no other file of the product includes their headers. Within the two
# engines no file keeps a random seed of its own, starts a zlib stream or
# calls an EVP function; the upload engine reaches the primitives only
# through its adapter, scp/scp_crypto*.cpp, which calls no OpenSSL either.
# Two kinds of file are left out: the tests, which check our primitives
# against OpenSSL's own, and the Windows module's entry, which starts and
# stops the library as the DLL loads and unloads.
# No return or throw in scp/, ssh2/ or scan/
# gives a bare error number: errors go by their names.
# Usage: primitives_once.sh SOURCE_DIR
set -eu
src=${1:?source folder}
cd "$src"
fail=0
report() { echo "primitive outside sshcore/: $1"; fail=1; }

found=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.c' --exclude-dir=.git --exclude-dir='build*' \
           --exclude-dir=tests --exclude-dir=sshcore '#include *<(openssl/[^>]*|zlib\.h)>' . |
         grep -v '^\./platform/windows/module_entry\.cpp:' || true)
[ -z "$found" ] || { echo "$found"; report "the files above (OpenSSL or zlib header)"; }

found=$(grep -rnE --include='*.cpp' --include='*.h' 'OPENSSL_|CRYPTO_|BN_[a-z]' ssh2 scp || true)
[ -z "$found" ] || { echo "$found"; report "the files above (OpenSSL)"; }
found=$(grep -rnE --include='*.cpp' --include='*.h' 'RandomSeed|deflateInit|inflateInit|RAND_bytes|EVP_[A-Za-z_]+\(' ssh2 scp ||
        true)
[ -z "$found" ] || { echo "$found"; report "the files above (random seed, zlib stream or EVP call)"; }

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
