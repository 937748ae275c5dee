#include "inventory/credential_crypt.h"

#include <openssl/evp.h>

#include <memory>

#include "platform/text.h"

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Key and IV, wiped when they go away.
struct KeyMaterial {
    unsigned char key[16] = {};
    unsigned char iv[16] = {};
    ~KeyMaterial()
    {
        SecureZeroMemory(key, sizeof key);
        SecureZeroMemory(iv, sizeof iv);
    }
};

}  // namespace

int CryptCredential(std::string_view input, std::string& output, std::string_view password, int encrypt)
{
    WipeString(output);
    if (input.size() > kMaxCredentialBytes) return kCryptTooLong;
    const EVP_CIPHER* cipher = EVP_aes_128_cfb128();
    KeyMaterial material;
    if (EVP_BytesToKey(cipher, EVP_md5(), nullptr, reinterpret_cast<const unsigned char*>(password.data()),
                       static_cast<int>(password.size()), 1, material.key, material.iv) != 16)
        return kCryptFailed;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context || EVP_CipherInit_ex(context.get(), cipher, nullptr, material.key, material.iv, encrypt ? 1 : 0) != 1)
        return kCryptFailed;
    unsigned char buffer[kMaxCredentialBytes + 16];
    int produced = 0;
    int finished = 0;
    const bool ok = EVP_CipherUpdate(context.get(), buffer, &produced, reinterpret_cast<const unsigned char*>(input.data()),
                                     static_cast<int>(input.size())) == 1 &&
                    EVP_CipherFinal_ex(context.get(), buffer + produced, &finished) == 1 &&
                    static_cast<std::size_t>(produced + finished) == input.size();
    if (ok) output.assign(reinterpret_cast<const char*>(buffer), input.size());
    SecureZeroMemory(buffer, sizeof buffer);
    return ok ? kCryptOk : kCryptFailed;
}
