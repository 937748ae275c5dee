#include "sshcore/cipher.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <climits>
#include <stdexcept>

#include "sshcore/handles.h"

namespace sshcore {
namespace {

const CipherInfo kCiphers[] = {
    {"AES-128-CBC", 16, 16, false},
    {"AES-192-CBC", 16, 24, false},
    {"AES-256-CBC", 16, 32, false},
    {"BF-CBC", 8, 16, true},
    {"DES-EDE3-CBC", 8, 24, false},
    {"DES-CBC", 8, 8, true},
    {"AES-128-CTR", 16, 16, false},
    {"AES-192-CTR", 16, 24, false},
    {"AES-256-CTR", 16, 32, false},
};

// Loading any provider by hand stops OpenSSL from loading the default one
// on its own, so both are loaded together, once per process, and unloaded
// when the process ends.
class CProviders {
public:
    CProviders() : m_pDefault(OSSL_PROVIDER_load(nullptr, "default"))
    {
        if (m_pDefault) m_pLegacy = OSSL_PROVIDER_load(nullptr, "legacy");
    }
    ~CProviders()
    {
        if (m_pLegacy) OSSL_PROVIDER_unload(m_pLegacy);
        if (m_pDefault) OSSL_PROVIDER_unload(m_pDefault);
    }
    CProviders(const CProviders&) = delete;
    CProviders& operator=(const CProviders&) = delete;
    bool LegacyLoaded() const { return m_pLegacy != nullptr; }

private:
    OSSL_PROVIDER* m_pDefault = nullptr;
    OSSL_PROVIDER* m_pLegacy = nullptr;
};

bool LoadLegacyProvider()
{
    static const CProviders providers;
    return providers.LegacyLoaded();
}

CipherPtr Fetch(ECipher kind)
{
    const CipherInfo& info = GetCipherInfo(kind);
    if (info.legacy && !LoadLegacyProvider()) return nullptr;
    return CipherPtr(EVP_CIPHER_fetch(nullptr, info.evpName, nullptr));
}

}  // namespace

const CipherInfo& GetCipherInfo(ECipher kind)
{
    return kCiphers[static_cast<int>(kind)];
}

bool CipherAvailable(ECipher kind)
{
    return Fetch(kind) != nullptr;
}

void CBlockCipher::Free::operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }

CBlockCipher::CBlockCipher(ECipher kind, bool encrypt, std::span<const std::uint8_t> key,
                           std::span<const std::uint8_t> iv)
    : m_kind(kind), m_ctx(EVP_CIPHER_CTX_new())
{
    const CipherInfo& info = GetCipherInfo(kind);
    if (key.size() < info.keySize || iv.size() < info.blockSize) throw std::invalid_argument("cipher key or IV too short");
    CipherPtr cipher = Fetch(kind);
    if (!m_ctx || !cipher) throw std::runtime_error("cipher unavailable");
    if (EVP_CipherInit_ex2(m_ctx.get(), cipher.get(), key.data(), iv.data(), encrypt ? 1 : 0, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(m_ctx.get(), 0) != 1)
        throw std::runtime_error("EVP_CipherInit_ex2");
}

CBlockCipher::~CBlockCipher() = default;

void CBlockCipher::Process(std::uint8_t* data, std::size_t size)
{
    if (size % BlockSize() != 0) throw std::invalid_argument("not a whole number of blocks");
    while (size > 0) {
        const int chunk = size > static_cast<std::size_t>(INT_MAX / 2) ? INT_MAX / 2 / 16 * 16 : static_cast<int>(size);
        int written = 0;
        if (EVP_CipherUpdate(m_ctx.get(), data, &written, data, chunk) != 1 || written != chunk)
            throw std::runtime_error("EVP_CipherUpdate");
        data += chunk;
        size -= static_cast<std::size_t>(chunk);
    }
}

}  // namespace sshcore
