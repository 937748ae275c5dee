// Private key files as ssh-keygen writes them: OpenSSH's own format
// ("openssh-key-v1", plain or protected with the bcrypt derivation and
// aes256-ctr or aes256-gcm@openssh.com) and PEM / PKCS #8 through OpenSSL,
// for Ed25519, ECDSA on nistp256/384/521 and RSA (DSA for callers that ask
// for it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sshcore/handles.h"

namespace sshcore {

enum EKeyFileError {
    KF_OK = 0,
    KF_UNREADABLE,       // missing, not a regular file, or larger than a key file can be
    KF_TOO_OPEN,         // readable or writable by the group or by others
    KF_DAMAGED,          // not a key file, truncated or inconsistent
    KF_NEEDS_PASSPHRASE, // protected, and no passphrase was given
    KF_WRONG_PASSPHRASE, // the passphrase does not open it
    KF_UNSUPPORTED,      // a key type, cipher or derivation this client does not use
};

// The most a key file may hold: an RSA key of 16384 bits takes about 12 KiB.
constexpr std::size_t kMaxKeyFileBytes = 64 * 1024;

// The most work a protected PEM / PKCS #8 file may ask of its passphrase
// derivation: PBKDF2 (and the older PKCS #5 and #12 schemes) iteration
// counts up to ten million (OpenSSL writes 2048, the strictest current
// advice asks for 600,000; ten million take a few seconds), and scrypt up
// to N = 2^20 with r * p up to 32. A file asking for more is refused before
// any derivation starts. OpenSSH's own format is bounded by kBcryptMaxRounds
// (bcrypt_kdf.h).
constexpr std::uint64_t kMaxPbkdf2Iterations = 10'000'000;
constexpr std::uint64_t kMaxScryptCost = std::uint64_t{1} << 20;
constexpr std::uint64_t kMaxScryptBlocksTimesLanes = 32;

class CPrivateKey {
public:
    // The key's SSH name: "ssh-ed25519", "ecdsa-sha2-nistp256" (384, 521)
    // or "ssh-rsa"; empty while no key is held.
    const std::string &TypeName() const { return m_strType; }
    // The public key in SSH wire form (as in authorized_keys, base64-decoded).
    std::vector<std::uint8_t> PublicBlob() const;
    EVP_PKEY *Handle() const { return m_pKey.get(); }

    void Set(PkeyPtr key, std::string type)
    {
        m_pKey = std::move(key);
        m_strType = std::move(type);
    }

private:
    PkeyPtr m_pKey;
    std::string m_strType;
};

struct SKeyFileResult {
    EKeyFileError code = KF_OK;
    std::string text; // names the file and the reason; empty when it loaded
};

// Which keys a caller takes. The defaults are the SSH client's; the upload
// library keeps its own narrower set (RSA and DSA, and OpenSSH's format only
// without a passphrase).
struct SKeyFileOptions {
    // The key types taken; empty: every type above but DSA ("ssh-dss").
    std::vector<std::string> types;
    // Whether an OpenSSH-format file protected by a passphrase is opened.
    bool opensshProtected = true;
};

// The key files of a login written as one text: one path per line, tried in
// that order (empty lines are skipped).
std::vector<std::string> KeyFileList(std::string_view files);

// Reads a key file. The passphrase may be empty for a file that is not
// protected. Never throws for what the file holds.
SKeyFileResult LoadPrivateKeyFile(const std::string &path, std::string_view passphrase, CPrivateKey &key,
                                  const SKeyFileOptions &options = {});

// The same from bytes already read (no file checks); `name` goes into texts.
SKeyFileResult ParsePrivateKey(std::span<const std::uint8_t> text, std::string_view passphrase, const std::string &name,
                               CPrivateKey &key, const SKeyFileOptions &options = {});

} // namespace sshcore
