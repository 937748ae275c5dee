// Feeds arbitrary bytes to the private key file reader, with a passphrase
// (the seeds that are protected use it) and without one.
#include <cstddef>
#include <cstdint>

#include "sshcore/bcrypt_kdf.h"
#include "sshcore/private_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > sshcore::kMaxKeyFileBytes) return 0;
    // A key file may ask for thousands of bcrypt rounds (half a minute of
    // work, which the reader allows); the fuzzer looks at the parsing, so
    // its inputs stay at a few rounds.
    sshcore::LowerBcryptRoundsCeilingForFuzzing(32);
    for (const char *passphrase : {"fuzz-pass", ""}) {
        sshcore::CPrivateKey key;
        const auto result = sshcore::ParsePrivateKey({data, size}, passphrase, "seed", key);
        if (result.code == sshcore::KF_OK) (void)key.PublicBlob();
    }
    return 0;
}
