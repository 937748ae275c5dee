#include "sshcore/product_crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "sshcore/digest.h"

namespace sshcore {

namespace {

template <typename T, void (*Free)(T*)>
struct SFree {
    void operator()(T* p) const { Free(p); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, SFree<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, SFree<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Key = std::unique_ptr<EVP_PKEY, SFree<EVP_PKEY, EVP_PKEY_free>>;

void CloseFile(std::FILE* file) { std::fclose(file); }

const unsigned char* TextBytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

bool FitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes)
{
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt at a time.
    constexpr std::size_t kChunk = 1u << 30;
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t n = std::min(kChunk, bytes.size() - at);
        crc = ::crc32(crc, bytes.data() + at, static_cast<uInt>(n));
    }
    return static_cast<std::uint32_t>(crc);
}

bool SystemRandomBytes(void* out, std::size_t size)
{
    return FitsInt(size) && RAND_bytes(static_cast<unsigned char*>(out), static_cast<int>(size)) == 1;
}

struct CNamedDigest::SState {
    DigestContext context{EVP_MD_CTX_new()};
};

CNamedDigest::CNamedDigest(const char* name) : m_pState(std::make_unique<SState>())
{
    const EVP_MD* md = EVP_get_digestbyname(name);
    m_bOk = md != nullptr && m_pState->context && EVP_DigestInit_ex(m_pState->context.get(), md, nullptr) == 1;
}

CNamedDigest::~CNamedDigest() = default;

void CNamedDigest::Update(const void* data, std::size_t size)
{
    if (m_bOk && size > 0) m_bOk = EVP_DigestUpdate(m_pState->context.get(), data, size) == 1;
}

std::vector<std::uint8_t> CNamedDigest::Final()
{
    if (!m_bOk) return {};
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    m_bOk = EVP_DigestFinal_ex(m_pState->context.get(), digest.data(), &length) == 1;
    if (!m_bOk) return {};
    digest.resize(length);
    return digest;
}

std::vector<std::uint8_t> DigestOf(const char* name, std::span<const std::uint8_t> data)
{
    CNamedDigest digest(name);
    digest.Update(data.data(), data.size());
    return digest.Final();
}

std::vector<std::uint8_t> DigestOf(const char* name, std::string_view data)
{
    return DigestOf(name, std::span<const std::uint8_t>(TextBytes(data), data.size()));
}

bool Scrypt(std::string_view password, std::span<const std::uint8_t> salt, std::uint64_t n, std::uint32_t r,
            std::uint32_t p, std::uint64_t maxMemory, std::span<std::uint8_t> out)
{
    std::unique_ptr<EVP_KDF, SFree<EVP_KDF, EVP_KDF_free>> kdf(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr));
    if (!kdf) return false;
    std::unique_ptr<EVP_KDF_CTX, SFree<EVP_KDF_CTX, EVP_KDF_CTX_free>> context(EVP_KDF_CTX_new(kdf.get()));
    if (!context) return false;
    const OSSL_PARAM request[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, const_cast<char*>(password.data()),
                                          password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<std::uint8_t*>(salt.data()), salt.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &maxMemory),
        OSSL_PARAM_construct_end(),
    };
    if (EVP_KDF_derive(context.get(), out.data(), out.size(), request) == 1) return true;
    Cleanse(out.data(), out.size());
    return false;
}

bool Aes256GcmSeal(std::span<const std::uint8_t> key, const std::uint8_t* nonce, std::string_view associated,
                   std::string_view plain, std::uint8_t* out)
{
    if (key.size() != 32 || !FitsInt(associated.size()) || !FitsInt(plain.size())) return false;
    CipherContext context(EVP_CIPHER_CTX_new());
    int produced = 0;
    int finished = 0;
    return context && EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmNonceBytes), nullptr) == 1 &&
           EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) == 1 &&
           EVP_EncryptUpdate(context.get(), nullptr, &produced, TextBytes(associated),
                             static_cast<int>(associated.size())) == 1 &&
           EVP_EncryptUpdate(context.get(), out, &produced, TextBytes(plain), static_cast<int>(plain.size())) == 1 &&
           EVP_EncryptFinal_ex(context.get(), out + produced, &finished) == 1 &&
           static_cast<std::size_t>(produced + finished) == plain.size() &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kGcmTagBytes),
                               out + plain.size()) == 1;
}

EGcmOpen Aes256GcmOpen(std::span<const std::uint8_t> key, const std::uint8_t* nonce, std::string_view associated,
                       const std::uint8_t* cipher, std::size_t length, std::uint8_t* out)
{
    if (key.size() != 32 || !FitsInt(associated.size()) || !FitsInt(length)) return EGcmOpen::Failed;
    std::uint8_t tag[kGcmTagBytes];
    std::copy(cipher + length, cipher + length + kGcmTagBytes, tag);
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context) return EGcmOpen::Failed;
    int produced = 0;
    int finished = 0;
    const bool setUp =
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmNonceBytes), nullptr) == 1 &&
        EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) == 1 &&
        EVP_DecryptUpdate(context.get(), nullptr, &produced, TextBytes(associated), static_cast<int>(associated.size())) ==
            1 &&
        EVP_DecryptUpdate(context.get(), out, &produced, cipher, static_cast<int>(length)) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kGcmTagBytes), tag) == 1;
    if (!setUp) return EGcmOpen::Failed;
    // The tag is checked here.
    if (EVP_DecryptFinal_ex(context.get(), out + produced, &finished) != 1) {
        Cleanse(out, length);
        return EGcmOpen::WrongTag;
    }
    return EGcmOpen::Ok;
}

bool PasswordCfbCrypt(std::string_view password, std::string_view input, bool encrypt, std::uint8_t* out)
{
    if (!FitsInt(password.size()) || !FitsInt(input.size())) return false;
    const EVP_CIPHER* cipher = EVP_aes_128_cfb128();
    struct SMaterial {
        unsigned char key[16] = {};
        unsigned char iv[16] = {};
        ~SMaterial()
        {
            Cleanse(key, sizeof key);
            Cleanse(iv, sizeof iv);
        }
    } material;
    if (EVP_BytesToKey(cipher, EVP_md5(), nullptr, TextBytes(password), static_cast<int>(password.size()), 1,
                       material.key, material.iv) != 16)
        return false;
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context || EVP_CipherInit_ex(context.get(), cipher, nullptr, material.key, material.iv, encrypt ? 1 : 0) != 1)
        return false;
    // CFB is a stream mode: exactly input.size() bytes come out.
    int produced = 0;
    int finished = 0;
    return EVP_CipherUpdate(context.get(), out, &produced, TextBytes(input), static_cast<int>(input.size())) == 1 &&
           EVP_CipherFinal_ex(context.get(), out + produced, &finished) == 1 &&
           static_cast<std::size_t>(produced + finished) == input.size();
}

bool VerifyEd25519(std::string_view publicKey, std::span<const std::uint8_t> signature, std::string_view message)
{
    if (publicKey.size() != 32 || signature.size() != 64) return false;
    Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, TextBytes(publicKey), publicKey.size()));
    DigestContext context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), TextBytes(message), message.size()) == 1;
}

bool SignWithPemKeyFile(const std::string& path, std::string_view message, std::vector<std::uint8_t>& signature)
{
    signature.clear();
    std::unique_ptr<std::FILE, SFree<std::FILE, CloseFile>> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    Key key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    DigestContext context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, TextBytes(message), message.size()) != 1)
        return false;
    signature.resize(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, TextBytes(message), message.size()) != 1) {
        signature.clear();
        return false;
    }
    signature.resize(length);
    return true;
}

}  // namespace sshcore
