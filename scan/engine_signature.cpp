#include "scan/engine_signature.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "engine_public_key.h"

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

bool FromHex(std::string_view hex, std::vector<unsigned char>& out)
{
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (char c : hex.substr(i, 2)) {
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                            : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

}  // namespace

bool VerifyEngineSignatureWithKey(std::string_view message, std::string_view signatureHex, std::string_view publicKey)
{
    std::vector<unsigned char> signature;
    if (publicKey.size() != 32 || !FromHex(signatureHex, signature) || signature.size() != 64) return false;
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.data()), publicKey.size()));
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

bool VerifyEngineSignature(std::string_view message, std::string_view signatureHex)
{
    return VerifyEngineSignatureWithKey(
        message, signatureHex,
        std::string_view(reinterpret_cast<const char*>(kEnginePublicKey), sizeof kEnginePublicKey));
}
