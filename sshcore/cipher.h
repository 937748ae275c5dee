// Block ciphers in CBC and CTR mode over OpenSSL's EVP interface. The
// chaining value (or counter) is carried from one call to the next, so
// consecutive calls process one continuous stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace sshcore {

enum class ECipher { Aes128Cbc, Aes192Cbc, Aes256Cbc, BlowfishCbc, TripleDesCbc, DesCbc, Aes128Ctr, Aes192Ctr, Aes256Ctr };

struct CipherInfo {
    const char* evpName;   // OpenSSL's name
    std::size_t blockSize; // bytes
    std::size_t keySize;   // bytes
    bool legacy;           // lives in the legacy provider
};

const CipherInfo& GetCipherInfo(ECipher kind);

// Whether this OpenSSL can run the cipher. Blowfish and single DES need the
// legacy provider, which is loaded on first use; without it they are absent.
bool CipherAvailable(ECipher kind);

class CBlockCipher {
public:
    // key holds at least keySize bytes and iv at least blockSize bytes;
    // only that many are used.
    CBlockCipher(ECipher kind, bool encrypt, std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv);
    ~CBlockCipher();
    CBlockCipher(const CBlockCipher&) = delete;
    CBlockCipher& operator=(const CBlockCipher&) = delete;

    std::size_t BlockSize() const { return GetCipherInfo(m_kind).blockSize; }
    // Processes size bytes in place; size must be a multiple of the block size.
    void Process(std::uint8_t* data, std::size_t size);

private:
    struct Free {
        void operator()(EVP_CIPHER_CTX* ctx) const;
    };
    ECipher m_kind;
    std::unique_ptr<EVP_CIPHER_CTX, Free> m_ctx;
};

}  // namespace sshcore
