#include "ssh2/algorithms.h"


#include <cstdio>

#include "sshcore/hostkey_trust.h"
#include "sshcore/pubkey.h"
#include "ssh2/errors.h"

using sshcore::CBigNum;
using sshcore::ECipher;
using sshcore::EDigest;

// ---------------------------------------------------------------- ciphers

CSshCipher::CSshCipher(const char* sshName, const char* displayName, ECipher kind)
    : m_strName(sshName), m_strDisplay(displayName), m_kind(kind)
{
}

CSshCipher::CSshCipher(const char* sshName, const char* displayName, EMode mode, std::size_t keyBytes)
    : m_strName(sshName), m_strDisplay(displayName), m_kind(ECipher::Aes128Ctr), m_mode(mode), m_nAeadKeyBytes(keyBytes)
{
}

CSshCipher::~CSshCipher()
{
    sshcore::Cleanse(m_key.data(), m_key.size());
    sshcore::Cleanse(m_iv.data(), m_iv.size());
}

const std::vector<std::unique_ptr<CSshCipher>>& CSshCipher::Table()
{
    static const std::vector<std::unique_ptr<CSshCipher>> table = [] {
        struct Entry {
            const char* name;
            const char* display;
            ECipher kind;
        };
        static const Entry kEntries[] = {
            {"aes256-ctr", "AES-256", ECipher::Aes256Ctr},
            {"aes192-ctr", "AES-192", ECipher::Aes192Ctr},
            {"aes128-ctr", "AES-128", ECipher::Aes128Ctr},
            {"aes256-cbc", "AES-256", ECipher::Aes256Cbc},
            {"rijndael256-cbc", "AES-256", ECipher::Aes256Cbc},
            {"rijndael-cbc@lysator.liu.se", "AES-256", ECipher::Aes256Cbc},
            {"aes192-cbc", "AES-192", ECipher::Aes192Cbc},
            {"rijndael192-cbc", "AES-192", ECipher::Aes192Cbc},
            {"aes128-cbc", "AES-128", ECipher::Aes128Cbc},
            {"rijndael128-cbc", "AES-128", ECipher::Aes128Cbc},
            {"blowfish-cbc", "Blowfish", ECipher::BlowfishCbc},
            {"3des-cbc", "triple-DES", ECipher::TripleDesCbc},
        };
        std::vector<std::unique_ptr<CSshCipher>> list;
        list.push_back(std::make_unique<CSshCipher>("aes256-gcm@openssh.com", "AES-256-GCM", MODE_GCM, 32));
        list.push_back(std::make_unique<CSshCipher>("aes128-gcm@openssh.com", "AES-128-GCM", MODE_GCM, 16));
        list.push_back(std::make_unique<CSshCipher>("chacha20-poly1305@openssh.com", "ChaCha20-Poly1305", MODE_CHACHA,
                                                    sshcore::CChaChaPoly::kKeySize));
        for (const auto& e : kEntries)
            if (sshcore::CipherAvailable(e.kind)) list.push_back(std::make_unique<CSshCipher>(e.name, e.display, e.kind));
        return list;
    }();
    return table;
}

std::unique_ptr<CSshCipher> CSshCipher::Create(std::string_view sshName)
{
    for (const auto& c : Table())
        if (c->Name() == sshName) return c->Clone();
    return nullptr;
}

std::unique_ptr<CSshCipher> CSshCipher::Clone() const
{
    if (IsAead()) return std::make_unique<CSshCipher>(m_strName.c_str(), m_strDisplay.c_str(), m_mode, m_nAeadKeyBytes);
    return std::make_unique<CSshCipher>(m_strName.c_str(), m_strDisplay.c_str(), m_kind);
}

std::size_t CSshCipher::BlockSize() const
{
    switch (m_mode) {
    case MODE_GCM: return 16;
    case MODE_CHACHA: return 8;
    default: return sshcore::GetCipherInfo(m_kind).blockSize;
    }
}

std::size_t CSshCipher::KeyBits() const
{
    if (m_mode == MODE_CHACHA) return 256;
    if (m_mode == MODE_GCM) return m_nAeadKeyBytes * 8;
    // Triple DES carries 168 key bits in its 24 key bytes.
    return m_kind == ECipher::TripleDesCbc ? 168 : sshcore::GetCipherInfo(m_kind).keySize * 8;
}

std::size_t CSshCipher::KeyBytes() const
{
    return IsAead() ? m_nAeadKeyBytes : sshcore::GetCipherInfo(m_kind).keySize;
}

std::size_t CSshCipher::IvBytes() const
{
    switch (m_mode) {
    case MODE_GCM: return sshcore::CAesGcm::kIvSize;
    case MODE_CHACHA: return 0;
    default: return BlockSize();
    }
}

void CSshCipher::SetIV(ByteView iv)
{
    const std::size_t n = IvBytes();
    if (iv.size() < n) throw SSH_INTERNAL_ERROR;
    sshcore::Cleanse(m_iv.data(), m_iv.size());
    m_iv.assign(iv.begin(), iv.begin() + static_cast<std::ptrdiff_t>(n));
    m_pContext.reset();
    m_pGcm.reset();
}

void CSshCipher::SetKey(ByteView key)
{
    const std::size_t n = KeyBytes();
    if (key.size() < n) throw SSH_INTERNAL_ERROR;
    sshcore::Cleanse(m_key.data(), m_key.size());
    m_key.assign(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n));
    m_pContext.reset();
    m_pGcm.reset();
    m_pChaCha.reset();
}

void CSshCipher::Begin(bool encrypt)
{
    if (IsAead()) throw SSH_INTERNAL_ERROR;
    if (m_pContext && m_bEncrypting == encrypt) return;
    m_pContext = std::make_unique<sshcore::CBlockCipher>(m_kind, encrypt, m_key, m_iv);
    m_bEncrypting = encrypt;
}

void CSshCipher::Encrypt(std::uint8_t* data, std::size_t size)
{
    Begin(true);
    m_pContext->Process(data, size);
}

void CSshCipher::Decrypt(std::uint8_t* data, std::size_t size)
{
    Begin(false);
    m_pContext->Process(data, size);
}

void CSshCipher::BeginAead()
{
    if (m_mode == MODE_GCM && !m_pGcm) {
        if (m_key.size() != m_nAeadKeyBytes || m_iv.size() != IvBytes()) throw SSH_INTERNAL_ERROR;
        m_pGcm = std::make_unique<sshcore::CAesGcm>(m_key, m_iv);
    } else if (m_mode == MODE_CHACHA && !m_pChaCha) {
        if (m_key.size() != m_nAeadKeyBytes) throw SSH_INTERNAL_ERROR;
        m_pChaCha = std::make_unique<sshcore::CChaChaPoly>(m_key);
    } else if (m_mode == MODE_BLOCK) {
        throw SSH_INTERNAL_ERROR;
    }
}

std::uint32_t CSshCipher::PacketLength(const std::uint8_t* wire, std::uint32_t sequence)
{
    BeginAead();
    return m_mode == MODE_CHACHA ? m_pChaCha->DecryptLength(sequence, wire) : LoadUint32(wire);
}

void CSshCipher::Seal(std::uint8_t* packet, std::size_t size, std::uint32_t sequence)
{
    BeginAead();
    if (size < 4) throw SSH_INTERNAL_ERROR;
    if (m_mode == MODE_CHACHA)
        m_pChaCha->Seal(sequence, packet, size, packet + size);
    else
        m_pGcm->Seal(ByteView(packet, 4), packet + 4, size - 4, packet + size);
}

bool CSshCipher::Open(std::uint8_t* packet, std::size_t size, std::uint32_t sequence)
{
    BeginAead();
    if (size < 4) return false;
    if (m_mode == MODE_CHACHA) return m_pChaCha->Open(sequence, packet, size, packet + size);
    return m_pGcm->Open(ByteView(packet, 4), packet + 4, size - 4, packet + size);
}

// ------------------------------------------------------------------- MACs

CSshMac::CSshMac(const char* name, std::optional<EDigest> kind, bool etm) : m_strName(name), m_kind(kind), m_bEtm(etm)
{
}
CSshMac::~CSshMac() = default;

const std::vector<std::unique_ptr<CSshMac>>& CSshMac::Table()
{
    static const std::vector<std::unique_ptr<CSshMac>> table = [] {
        std::vector<std::unique_ptr<CSshMac>> list;
        list.push_back(std::make_unique<CSshMac>("hmac-sha2-256-etm@openssh.com", EDigest::Sha256, true));
        list.push_back(std::make_unique<CSshMac>("hmac-sha2-512-etm@openssh.com", EDigest::Sha512, true));
        list.push_back(std::make_unique<CSshMac>("hmac-sha2-256", EDigest::Sha256));
        list.push_back(std::make_unique<CSshMac>("hmac-sha2-512", EDigest::Sha512));
        list.push_back(std::make_unique<CSshMac>("hmac-sha1", EDigest::Sha1));
        list.push_back(std::make_unique<CSshMac>("hmac-md5", EDigest::Md5));
        list.push_back(std::make_unique<CSshMac>("none", std::nullopt));
        return list;
    }();
    return table;
}

std::unique_ptr<CSshMac> CSshMac::Create(std::string_view name)
{
    for (const auto& m : Table())
        if (m->Name() == name) return m->Clone();
    return nullptr;
}

std::unique_ptr<CSshMac> CSshMac::Clone() const
{
    return std::make_unique<CSshMac>(m_strName.c_str(), m_kind, m_bEtm);
}

std::size_t CSshMac::KeyLength() const { return m_kind ? sshcore::DigestSize(*m_kind) : 0; }
std::size_t CSshMac::Length() const { return m_kind ? sshcore::DigestSize(*m_kind) : 0; }

void CSshMac::SetKey(ByteView key)
{
    if (!m_kind) return;
    if (key.size() < KeyLength()) throw SSH_INTERNAL_ERROR;
    m_pHmac = std::make_unique<sshcore::CHmac>(*m_kind, key.first(KeyLength()));
}

void CSshMac::Compute(const std::uint8_t* packet, std::size_t length, std::uint32_t sequence, std::uint8_t* out)
{
    if (!m_pHmac) throw SSH_INTERNAL_ERROR;
    std::uint8_t seq[4];
    StoreUint32(seq, sequence);
    m_pHmac->Compute({ByteView(seq, 4), ByteView(packet, length)}, out);
}

void CSshMac::Generate(std::uint8_t* packet, std::size_t length, std::uint32_t sequence)
{
    if (!m_kind) return;
    Compute(packet, length, sequence, packet + length);
}

bool CSshMac::Verify(const std::uint8_t* packet, std::size_t length, std::uint32_t sequence)
{
    if (!m_kind) return true;
    std::uint8_t expected[64];
    if (Length() > sizeof expected) throw SSH_INTERNAL_ERROR;
    Compute(packet, length, sequence, expected);
    return sshcore::ConstantTimeEqual(expected, packet + length, Length());
}
