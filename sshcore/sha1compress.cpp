// The bare SHA-1 compression function is only reachable through OpenSSL's
// low-level SHA interface, which OpenSSL 3 marks deprecated.
#include "sshcore/pubkey.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/crypto.h>
#include <openssl/sha.h>

namespace sshcore {

void Sha1Compress(std::uint8_t state[20], const std::uint8_t block[64])
{
    SHA_CTX ctx;
    SHA1_Init(&ctx);
    SHA_LONG* words[5] = {&ctx.h0, &ctx.h1, &ctx.h2, &ctx.h3, &ctx.h4};
    for (int i = 0; i < 5; ++i)
        *words[i] = (static_cast<SHA_LONG>(state[4 * i]) << 24) | (static_cast<SHA_LONG>(state[4 * i + 1]) << 16) |
                    (static_cast<SHA_LONG>(state[4 * i + 2]) << 8) | static_cast<SHA_LONG>(state[4 * i + 3]);
    SHA1_Transform(&ctx, block);
    for (int i = 0; i < 5; ++i) {
        state[4 * i] = static_cast<std::uint8_t>(*words[i] >> 24);
        state[4 * i + 1] = static_cast<std::uint8_t>(*words[i] >> 16);
        state[4 * i + 2] = static_cast<std::uint8_t>(*words[i] >> 8);
        state[4 * i + 3] = static_cast<std::uint8_t>(*words[i]);
    }
    OPENSSL_cleanse(&ctx, sizeof ctx);
}

}  // namespace sshcore
#pragma GCC diagnostic pop
