#include "ssh2/algorithms.h"


#include <cstdio>

#include "sshcore/algorithms.h"
#include "sshcore/hostkey_trust.h"
#include "sshcore/pubkey.h"
#include "ssh2/errors.h"

using sshcore::CBigNum;
using sshcore::EDigest;

// ---------------------------------------------------------------- ciphers

CSshCipher::CSshCipher(const sshcore::SCipherAlgorithm& algorithm)
    : m_algorithm(algorithm),
      m_mode(algorithm.mode == sshcore::ECipherMode::Gcm      ? MODE_GCM
             : algorithm.mode == sshcore::ECipherMode::ChaCha ? MODE_CHACHA
                                                               : MODE_BLOCK)
{
}

CSshCipher::~CSshCipher()
{
    sshcore::Cleanse(m_key.data(), m_key.size());
    sshcore::Cleanse(m_iv.data(), m_iv.size());
}

const std::vector<std::unique_ptr<CSshCipher>>& CSshCipher::Table()
{
    // The registry's ciphers that this OpenSSL runs; single DES is never
    // offered by the client.
    static const std::vector<std::unique_ptr<CSshCipher>> table = [] {
        std::vector<std::unique_ptr<CSshCipher>> list;
        for (const sshcore::SCipherAlgorithm& c : sshcore::CipherAlgorithms())
            if (c.family != sshcore::ECipherFamily::Des && sshcore::CipherAlgorithmAvailable(c))
                list.push_back(std::make_unique<CSshCipher>(c));
        return list;
    }();
    return table;
}

std::unique_ptr<CSshCipher> CSshCipher::Create(std::string_view sshName)
{
    for (const auto& c : Table())
        if (c->m_algorithm.name == sshName) return c->Clone();
    return nullptr;
}

std::unique_ptr<CSshCipher> CSshCipher::Clone() const { return std::make_unique<CSshCipher>(m_algorithm); }

std::size_t CSshCipher::BlockSize() const { return m_algorithm.blockSize; }
std::size_t CSshCipher::KeyBits() const { return m_algorithm.keyBits; }
std::size_t CSshCipher::KeyBytes() const { return m_algorithm.keyBytes; }
std::size_t CSshCipher::IvBytes() const { return m_algorithm.ivBytes; }

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
    m_pContext = std::make_unique<sshcore::CBlockCipher>(m_algorithm.kind, encrypt, m_key, m_iv);
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
        if (m_key.size() != KeyBytes() || m_iv.size() != IvBytes()) throw SSH_INTERNAL_ERROR;
        m_pGcm = std::make_unique<sshcore::CAesGcm>(m_key, m_iv);
    } else if (m_mode == MODE_CHACHA && !m_pChaCha) {
        if (m_key.size() != KeyBytes()) throw SSH_INTERNAL_ERROR;
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
        for (const sshcore::SMacAlgorithm& m : sshcore::MacAlgorithms())
            list.push_back(std::make_unique<CSshMac>(m.name, m.keyed ? std::optional<EDigest>(m.digest) : std::nullopt,
                                                     m.etm));
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
