// The upload library's server host keys: the key blob parser and the
// signature check of every host-key algorithm, over a fixed exchange hash.
// Input: one byte choosing the algorithm, two bytes (big-endian) of key blob
// length, the blob, then the signature blob.
#include <cstddef>
#include <cstdint>

#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const kAlgorithms[] = {"ssh-ed25519", "ecdsa-sha2-nistp256", "rsa-sha2-512",
                                              "rsa-sha2-256", "ssh-rsa",             "ssh-dss"};
    if (size < 3) return 0;
    // What this input leaves behind goes with its own arena.
    const CScpLocalArena arena;
    const char* alg = kAlgorithms[data[0] % (sizeof kAlgorithms / sizeof kAlgorithms[0])];
    std::size_t blobLen = static_cast<std::size_t>(data[1]) << 8 | data[2];
    if (blobLen > size - 3) blobLen = size - 3;
    const std::uint8_t* blob = data + 3;
    ScpHostKey key{};
    if (scp_hostkey_parse(blob, blobLen, &key) == 0) {
        static const std::uint8_t kHash[32] = {1, 2, 3};
        scp_hostkey_verify_alg(&key, alg, blob + blobLen, size - 3 - blobLen, kHash, sizeof kHash);
        scp_hostkey_verify(&key, blob + blobLen, size - 3 - blobLen, kHash, sizeof kHash);
        scp_hostkey_free(&key);
    }
    return 0;
}
