#include "sshcore/algorithms.h"

#include "sshcore/aead.h"

namespace sshcore {

namespace {

constexpr SKexAlgorithm kKex[] = {
    {"curve25519-sha256", EKexKind::Ecdh, EDigest::Sha256, 0, ECurveKind::X25519},
    {"curve25519-sha256@libssh.org", EKexKind::Ecdh, EDigest::Sha256, 0, ECurveKind::X25519},
    {"ecdh-sha2-nistp256", EKexKind::Ecdh, EDigest::Sha256, 0, ECurveKind::P256},
    {"diffie-hellman-group14-sha256", EKexKind::FixedGroup, EDigest::Sha256, 14, ECurveKind::X25519},
    {"diffie-hellman-group16-sha512", EKexKind::FixedGroup, EDigest::Sha512, 16, ECurveKind::X25519},
    {"diffie-hellman-group-exchange-sha256", EKexKind::GroupExchange, EDigest::Sha256, 0, ECurveKind::X25519},
    {"diffie-hellman-group-exchange-sha1", EKexKind::GroupExchangeOld, EDigest::Sha1, 0, ECurveKind::X25519},
    {"diffie-hellman-group1-sha1", EKexKind::FixedGroup, EDigest::Sha1, 1, ECurveKind::X25519},
};

constexpr const char* kHostKeys[] = {"ssh-ed25519", "ecdsa-sha2-nistp256", "rsa-sha2-512",
                                     "rsa-sha2-256", "ssh-rsa",             "ssh-dss"};

using M = ECipherMode;
using F = ECipherFamily;
// The authenticated ciphers first, then the counter modes, then CBC. The
// rijndael names are older spellings of the same AES.
constexpr SCipherAlgorithm kCiphers[] = {
    {"aes256-gcm@openssh.com", "AES-256-GCM", F::Aes, M::Gcm, ECipher::Aes256Ctr, 32, CAesGcm::kIvSize, 16, 256},
    {"aes128-gcm@openssh.com", "AES-128-GCM", F::Aes, M::Gcm, ECipher::Aes128Ctr, 16, CAesGcm::kIvSize, 16, 128},
    {"chacha20-poly1305@openssh.com", "ChaCha20-Poly1305", F::Aes, M::ChaCha, ECipher::Aes256Ctr,
     CChaChaPoly::kKeySize, 0, 8, 256},
    {"aes256-ctr", "AES-256", F::Aes, M::Ctr, ECipher::Aes256Ctr, 32, 16, 16, 256},
    {"aes192-ctr", "AES-192", F::Aes, M::Ctr, ECipher::Aes192Ctr, 24, 16, 16, 192},
    {"aes128-ctr", "AES-128", F::Aes, M::Ctr, ECipher::Aes128Ctr, 16, 16, 16, 128},
    {"aes256-cbc", "AES-256", F::Aes, M::Cbc, ECipher::Aes256Cbc, 32, 16, 16, 256},
    {"rijndael256-cbc", "AES-256", F::Aes, M::Cbc, ECipher::Aes256Cbc, 32, 16, 16, 256},
    {"rijndael-cbc@lysator.liu.se", "AES-256", F::Aes, M::Cbc, ECipher::Aes256Cbc, 32, 16, 16, 256},
    {"aes192-cbc", "AES-192", F::Aes, M::Cbc, ECipher::Aes192Cbc, 24, 16, 16, 192},
    {"rijndael192-cbc", "AES-192", F::Aes, M::Cbc, ECipher::Aes192Cbc, 24, 16, 16, 192},
    {"aes128-cbc", "AES-128", F::Aes, M::Cbc, ECipher::Aes128Cbc, 16, 16, 16, 128},
    {"rijndael128-cbc", "AES-128", F::Aes, M::Cbc, ECipher::Aes128Cbc, 16, 16, 16, 128},
    {"blowfish-cbc", "Blowfish", F::Blowfish, M::Cbc, ECipher::BlowfishCbc, 16, 8, 8, 128},
    // Triple DES carries 168 key bits in its 24 key bytes.
    {"3des-cbc", "triple-DES", F::TripleDes, M::Cbc, ECipher::TripleDesCbc, 24, 8, 8, 168},
    {"des-cbc", "single-DES", F::Des, M::Cbc, ECipher::DesCbc, 8, 8, 8, 56},
};

constexpr SMacAlgorithm kMacs[] = {
    {"hmac-sha2-256-etm@openssh.com", true, EDigest::Sha256, true},
    {"hmac-sha2-512-etm@openssh.com", true, EDigest::Sha512, true},
    {"hmac-sha2-256", true, EDigest::Sha256, false},
    {"hmac-sha2-512", true, EDigest::Sha512, false},
    {"hmac-sha1", true, EDigest::Sha1, false},
    {"hmac-md5", true, EDigest::Md5, false},
    {"none", false, EDigest::Sha1, false},
};

constexpr const char* kCompression[] = {"zlib", "zlib@openssh.com", "none"};

template <typename T>
const T* FindByName(std::span<const T> table, std::string_view name)
{
    for (const T& entry : table)
        if (name == entry.name) return &entry;
    return nullptr;
}

}  // namespace

std::span<const SKexAlgorithm> KexAlgorithms() { return kKex; }
const SKexAlgorithm* FindKexAlgorithm(std::string_view name) { return FindByName(KexAlgorithms(), name); }
bool IsGroupExchange(const SKexAlgorithm& method)
{
    return method.kind == EKexKind::GroupExchange || method.kind == EKexKind::GroupExchangeOld;
}

std::uint32_t GroupExchangeBits(std::size_t cipherKeyBits)
{
    const std::size_t nbits = cipherKeyBits > 160 ? 160 : (cipherKeyBits == 0 ? 1 : cipherKeyBits);
    return 512u << ((nbits - 1) / 64);
}

std::uint32_t GroupExchangeRequestBits(std::size_t cipherKeyBits)
{
    if (cipherKeyBits <= 128) return 3072;
    if (cipherKeyBits <= 192) return 7680;
    return 8192;
}

std::span<const char* const> HostKeyAlgorithms() { return kHostKeys; }

std::span<const SCipherAlgorithm> CipherAlgorithms() { return kCiphers; }
const SCipherAlgorithm* FindCipherAlgorithm(std::string_view name) { return FindByName(CipherAlgorithms(), name); }
bool IsAead(const SCipherAlgorithm& cipher) { return cipher.mode == M::Gcm || cipher.mode == M::ChaCha; }
bool CipherAlgorithmAvailable(const SCipherAlgorithm& cipher) { return IsAead(cipher) || CipherAvailable(cipher.kind); }

std::span<const SMacAlgorithm> MacAlgorithms() { return kMacs; }
const SMacAlgorithm* FindMacAlgorithm(std::string_view name) { return FindByName(MacAlgorithms(), name); }
std::size_t MacLength(const SMacAlgorithm& mac) { return mac.keyed ? DigestSize(mac.digest) : 0; }

std::span<const char* const> CompressionAlgorithms() { return kCompression; }

std::vector<std::string> CompressionOffer(bool preferZlib)
{
    return {preferZlib ? kCompression[0] : kCompression[2], kCompression[1], kCompression[0], kCompression[2]};
}

std::vector<std::string> SplitNameList(std::string_view list)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) names.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool NameListContains(std::string_view list, std::string_view name)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        if (list.substr(start, end - start) == name) return true;
        start = end + 1;
    }
    return false;
}

std::string JoinNameList(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) text += ',';
        text += name;
    }
    return text;
}

}  // namespace sshcore
