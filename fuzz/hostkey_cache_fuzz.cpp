// The host-key cache's texts read back into key blobs (a cache file may have
// been edited by hand or damaged). Input: one byte choosing the cache type,
// then the stored text. A blob that comes back must parse as a key of that
// type and give the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ssh2/algorithms.h"
#include "sshcore/hostkey_trust.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const kTypes[] = {"rsa2", "dss", "ssh-ed25519", "ecdsa-sha2-nistp256"};
    static const char* const kAlgorithms[] = {"ssh-rsa", "ssh-dss", "ssh-ed25519", "ecdsa-sha2-nistp256"};
    if (size < 1) return 0;
    const std::size_t which = data[0] % 4;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<std::uint8_t> blob = sshcore::HostKeyBlobFromCache(kTypes[which], text);
    if (blob.empty()) return 0;
    sshcore::Sha256Fingerprint(blob);
    auto key = CSshHostKey::Create(kAlgorithms[which]);
    // Keys the engine itself would refuse (DSS with a short p) may still
    // come back from a text; what it takes must read back the same.
    if (key->SetKey(blob) && sshcore::HostKeyBlobFromCache(kTypes[which], key->KeyString()) != blob) std::abort();
    return 0;
}
