#include "ssh2/algorithms.h"

#include <zlib.h>

#include <cstdio>

#include "ssh2/crypto/hostkey_trust.h"
#include "ssh2/crypto/pubkey.h"
#include "ssh2/errors.h"

using sshcrypto::CBigNum;
using sshcrypto::ECipher;
using sshcrypto::EDigest;

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
    sshcrypto::Cleanse(m_key.data(), m_key.size());
    sshcrypto::Cleanse(m_iv.data(), m_iv.size());
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
                                                    sshcrypto::CChaChaPoly::kKeySize));
        for (const auto& e : kEntries)
            if (sshcrypto::CipherAvailable(e.kind)) list.push_back(std::make_unique<CSshCipher>(e.name, e.display, e.kind));
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
    default: return sshcrypto::GetCipherInfo(m_kind).blockSize;
    }
}

std::size_t CSshCipher::KeyBits() const
{
    if (m_mode == MODE_CHACHA) return 256;
    if (m_mode == MODE_GCM) return m_nAeadKeyBytes * 8;
    // Triple DES carries 168 key bits in its 24 key bytes.
    return m_kind == ECipher::TripleDesCbc ? 168 : sshcrypto::GetCipherInfo(m_kind).keySize * 8;
}

std::size_t CSshCipher::KeyBytes() const
{
    return IsAead() ? m_nAeadKeyBytes : sshcrypto::GetCipherInfo(m_kind).keySize;
}

std::size_t CSshCipher::IvBytes() const
{
    switch (m_mode) {
    case MODE_GCM: return sshcrypto::CAesGcm::kIvSize;
    case MODE_CHACHA: return 0;
    default: return BlockSize();
    }
}

void CSshCipher::SetIV(ByteView iv)
{
    const std::size_t n = IvBytes();
    if (iv.size() < n) throw SSH_INTERNAL_ERROR;
    sshcrypto::Cleanse(m_iv.data(), m_iv.size());
    m_iv.assign(iv.begin(), iv.begin() + static_cast<std::ptrdiff_t>(n));
    m_pContext.reset();
    m_pGcm.reset();
}

void CSshCipher::SetKey(ByteView key)
{
    const std::size_t n = KeyBytes();
    if (key.size() < n) throw SSH_INTERNAL_ERROR;
    sshcrypto::Cleanse(m_key.data(), m_key.size());
    m_key.assign(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n));
    m_pContext.reset();
    m_pGcm.reset();
    m_pChaCha.reset();
}

void CSshCipher::Begin(bool encrypt)
{
    if (IsAead()) throw SSH_INTERNAL_ERROR;
    if (m_pContext && m_bEncrypting == encrypt) return;
    m_pContext = std::make_unique<sshcrypto::CBlockCipher>(m_kind, encrypt, m_key, m_iv);
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
        m_pGcm = std::make_unique<sshcrypto::CAesGcm>(m_key, m_iv);
    } else if (m_mode == MODE_CHACHA && !m_pChaCha) {
        if (m_key.size() != m_nAeadKeyBytes) throw SSH_INTERNAL_ERROR;
        m_pChaCha = std::make_unique<sshcrypto::CChaChaPoly>(m_key);
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

std::size_t CSshMac::KeyLength() const { return m_kind ? sshcrypto::DigestSize(*m_kind) : 0; }
std::size_t CSshMac::Length() const { return m_kind ? sshcrypto::DigestSize(*m_kind) : 0; }

void CSshMac::SetKey(ByteView key)
{
    if (!m_kind) return;
    if (key.size() < KeyLength()) throw SSH_INTERNAL_ERROR;
    m_pHmac = std::make_unique<sshcrypto::CHmac>(*m_kind, key.first(KeyLength()));
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
    return sshcrypto::ConstantTimeEqual(expected, packet + length, Length());
}

// ------------------------------------------------------------ compression

struct CSshCompressor::Stream {
    z_stream z{};
    bool deflating;
    explicit Stream(bool deflate) : deflating(deflate)
    {
        const int rc = deflate ? deflateInit(&z, Z_DEFAULT_COMPRESSION) : inflateInit(&z);
        if (rc != Z_OK) throw SSH_INTERNAL_ERROR;
    }
    ~Stream()
    {
        if (deflating)
            deflateEnd(&z);
        else
            inflateEnd(&z);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
};

CSshCompressor::CSshCompressor(bool zlib, bool delayed)
    : m_bZlib(zlib), m_bDelayed(zlib && delayed), m_bActive(!m_bDelayed)
{
}
CSshCompressor::~CSshCompressor() = default;

std::unique_ptr<CSshCompressor> CSshCompressor::Create(std::string_view name)
{
    if (name == "zlib") return std::make_unique<CSshCompressor>(true);
    if (name == "zlib@openssh.com") return std::make_unique<CSshCompressor>(true, true);
    if (name == "none") return std::make_unique<CSshCompressor>(false);
    return nullptr;
}

std::unique_ptr<CSshCompressor> CSshCompressor::Clone() const
{
    return std::make_unique<CSshCompressor>(m_bZlib, m_bDelayed);
}

bool CSshCompressor::Compress(ByteView data, std::vector<std::uint8_t>& out)
{
    if (!Active()) return false;
    if (!m_pDeflate) m_pDeflate = std::make_unique<Stream>(true);
    z_stream& z = m_pDeflate->z;
    const bool store = m_bStoreNext;
    m_bStoreNext = false;
    if (store && deflateParams(&z, 0, Z_DEFAULT_STRATEGY) != Z_OK) throw SSH_INTERNAL_ERROR;
    out.clear();
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    std::uint8_t chunk[4096];
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = deflate(&z, Z_PARTIAL_FLUSH);
        if (rc != Z_OK && rc != Z_BUF_ERROR) throw SSH_INTERNAL_ERROR;
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (z.avail_out == 0 || z.avail_in != 0);
    if (store && deflateParams(&z, Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY) != Z_OK) throw SSH_INTERNAL_ERROR;
    m_bStarted = true;
    return true;
}

bool CSshCompressor::Decompress(ByteView data, std::vector<std::uint8_t>& out)
{
    if (!Active()) return false;
    if (!m_pInflate) m_pInflate = std::make_unique<Stream>(false);
    z_stream& z = m_pInflate->z;
    out.clear();
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    std::uint8_t chunk[8192];
    for (;;) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = inflate(&z, Z_SYNC_FLUSH);
        const std::size_t produced = sizeof chunk - z.avail_out;
        if (rc != Z_OK && rc != Z_BUF_ERROR) throw SSH_RECEIVE_ERROR;
        if (kMaxInflated - out.size() < produced) throw SSH_RECEIVE_ERROR;
        out.insert(out.end(), chunk, chunk + produced);
        if (z.avail_out != 0 || rc == Z_BUF_ERROR) break;
    }
    return true;
}

void CSshCompressor::ReleaseTables()
{
    m_pDeflate.reset();
    m_pInflate.reset();
}

std::size_t CSshCompressor::DisableCompression()
{
    if (!Active()) return 0;
    m_bStoreNext = true;
    if (!m_bStarted || !m_pDeflate) return 7;
    unsigned pending = 0;
    int bits = 0;
    deflatePending(&m_pDeflate->z, &pending, &bits);
    // End of the open block, stored-block header and lengths, and the empty
    // block of the flush.
    return static_cast<std::size_t>(bits + 10) / 8 + 4 + 2;
}

// -------------------------------------------------------------- host keys

namespace {

constexpr std::size_t kMaxKeyBytes = 2048;  // 16,384-bit numbers

// One class for the three RSA algorithms: the key blob is the same
// "ssh-rsa" blob, the signature's name and hash differ.
class CRsaHostKey final : public CSshHostKey {
public:
    CRsaHostKey(const char* name, EDigest hash) : m_szName(name), m_hash(hash) {}
    std::unique_ptr<CSshHostKey> Clone() const override { return std::make_unique<CRsaHostKey>(*this); }
    const char* Name() const override { return m_szName; }
    const char* KeyType() const override { return "ssh-rsa"; }
    const char* CacheType() const override { return "rsa2"; }

    bool SetKey(ByteView blob) override
    {
        CSshReader r(blob);
        if (AsText(r.GetString(64)) != "ssh-rsa") return false;
        CBigNum e = r.GetMpint(kMaxKeyBytes + 1);
        CBigNum n = r.GetMpint(kMaxKeyBytes + 1);
        // A short modulus is taken here and refused by the key exchange,
        // which says why.
        if (r.Failed() || e.IsNegative() || n.IsNegative() || e.Bits() < 2 || n.Bits() < 2) return false;
        m_e = std::move(e);
        m_n = std::move(n);
        m_blob.assign(blob.begin(), blob.end());
        return true;
    }

    bool Verify(ByteView signature, ByteView data) const override
    {
        CSshReader r(signature);
        if (AsText(r.GetString(64)) != m_szName) return false;
        const ByteView s = r.GetString(kMaxKeyBytes);
        if (r.Failed()) return false;
        return sshcrypto::RsaVerify(m_hash, m_e, m_n, s, data);
    }

    std::string KeyString() const override { return "0x" + m_e.ToHex() + ",0x" + m_n.ToHex(); }

    int Bits() const override { return m_n.Bits(); }

private:
    const char* m_szName;
    EDigest m_hash;
    CBigNum m_e, m_n;
};

class CEd25519HostKey final : public CSshHostKey {
public:
    std::unique_ptr<CSshHostKey> Clone() const override { return std::make_unique<CEd25519HostKey>(*this); }
    const char* Name() const override { return "ssh-ed25519"; }
    const char* CacheType() const override { return "ssh-ed25519"; }

    bool SetKey(ByteView blob) override
    {
        CSshReader r(blob);
        if (AsText(r.GetString(64)) != "ssh-ed25519") return false;
        const ByteView key = r.GetString(32);
        if (r.Failed() || key.size() != 32) return false;
        m_key.assign(key.begin(), key.end());
        m_blob.assign(blob.begin(), blob.end());
        return true;
    }

    bool Verify(ByteView signature, ByteView data) const override
    {
        CSshReader r(signature);
        if (AsText(r.GetString(64)) != "ssh-ed25519") return false;
        const ByteView s = r.GetString(64);
        if (r.Failed() || s.size() != 64) return false;
        return sshcrypto::Ed25519Verify(m_key, s, data);
    }

    // Every byte as two digits, leading zeros kept.
    std::string KeyString() const override
    {
        std::string text = "0x";
        char hex[3];
        for (std::uint8_t b : m_key) {
            std::snprintf(hex, sizeof hex, "%02x", b);
            text += hex;
        }
        return text;
    }

    int Bits() const override { return 255; }

private:
    std::vector<std::uint8_t> m_key;
};

class CEcdsaHostKey final : public CSshHostKey {
public:
    std::unique_ptr<CSshHostKey> Clone() const override { return std::make_unique<CEcdsaHostKey>(*this); }
    const char* Name() const override { return "ecdsa-sha2-nistp256"; }
    const char* CacheType() const override { return "ecdsa-sha2-nistp256"; }

    bool SetKey(ByteView blob) override
    {
        CSshReader r(blob);
        if (AsText(r.GetString(64)) != "ecdsa-sha2-nistp256" || AsText(r.GetString(64)) != "nistp256") return false;
        const ByteView point = r.GetString(65);
        if (r.Failed() || point.size() != 65 || point[0] != 0x04) return false;
        m_point.assign(point.begin(), point.end());
        m_blob.assign(blob.begin(), blob.end());
        return true;
    }

    bool Verify(ByteView signature, ByteView data) const override
    {
        CSshReader r(signature);
        if (AsText(r.GetString(64)) != "ecdsa-sha2-nistp256") return false;
        CSshReader rs(r.GetString(128));
        const CBigNum sr = rs.GetMpint(33);
        const CBigNum ss = rs.GetMpint(33);
        if (r.Failed() || rs.Failed() || sr.IsNegative() || ss.IsNegative()) return false;
        return sshcrypto::EcdsaP256VerifySha256(m_point, sr.ToBytes(), ss.ToBytes(), data);
    }

    std::string KeyString() const override
    {
        const ByteView point(m_point);
        return "nistp256,0x" + CBigNum::FromBytes(point.subspan(1, 32)).ToHex() + ",0x" +
               CBigNum::FromBytes(point.subspan(33, 32)).ToHex();
    }

    int Bits() const override { return 256; }

private:
    std::vector<std::uint8_t> m_point;
};

class CDssHostKey final : public CSshHostKey {
public:
    std::unique_ptr<CSshHostKey> Clone() const override { return std::make_unique<CDssHostKey>(*this); }
    const char* Name() const override { return "ssh-dss"; }
    const char* CacheType() const override { return "dss"; }

    bool SetKey(ByteView blob) override
    {
        CSshReader r(blob);
        if (AsText(r.GetString(64)) != "ssh-dss") return false;
        CBigNum p = r.GetMpint(kMaxKeyBytes / 2 + 1);
        CBigNum q = r.GetMpint(kMaxKeyBytes / 2 + 1);
        CBigNum g = r.GetMpint(kMaxKeyBytes / 2 + 1);
        CBigNum y = r.GetMpint(kMaxKeyBytes / 2 + 1);
        if (r.Failed() || p.IsNegative() || q.IsNegative() || g.IsNegative() || y.IsNegative() || p.Bits() < 512 ||
            q.Bits() < 128)
            return false;
        m_p = std::move(p);
        m_q = std::move(q);
        m_g = std::move(g);
        m_y = std::move(y);
        m_blob.assign(blob.begin(), blob.end());
        return true;
    }

    bool Verify(ByteView signature, ByteView data) const override
    {
        ByteView rs = signature;
        if (signature.size() != 40) {
            CSshReader r(signature);
            if (AsText(r.GetString(64)) != "ssh-dss") return false;
            rs = r.GetString(40);
            if (r.Failed() || rs.size() != 40) return false;
        }
        return sshcrypto::DsaVerifySha1(m_p, m_q, m_g, m_y, rs.first(20), rs.subspan(20, 20), data);
    }

    std::string KeyString() const override
    {
        return "0x" + m_p.ToHex() + ",0x" + m_q.ToHex() + ",0x" + m_g.ToHex() + ",0x" + m_y.ToHex();
    }

    int Bits() const override { return m_p.Bits(); }

private:
    CBigNum m_p, m_q, m_g, m_y;
};

}  // namespace

std::vector<std::string> CSshHostKey::Names()
{
    return {"ssh-ed25519", "ecdsa-sha2-nistp256", "rsa-sha2-512", "rsa-sha2-256", "ssh-rsa", "ssh-dss"};
}

std::unique_ptr<CSshHostKey> CSshHostKey::Create(std::string_view name)
{
    if (name == "ssh-ed25519") return std::make_unique<CEd25519HostKey>();
    if (name == "ecdsa-sha2-nistp256") return std::make_unique<CEcdsaHostKey>();
    if (name == "rsa-sha2-512") return std::make_unique<CRsaHostKey>("rsa-sha2-512", EDigest::Sha512);
    if (name == "rsa-sha2-256") return std::make_unique<CRsaHostKey>("rsa-sha2-256", EDigest::Sha256);
    if (name == "ssh-rsa") return std::make_unique<CRsaHostKey>("ssh-rsa", EDigest::Sha1);
    if (name == "ssh-dss") return std::make_unique<CDssHostKey>();
    return nullptr;
}

std::string CSshHostKey::Fingerprint() const
{
    std::string text = std::string(KeyType()) + " " + std::to_string(Bits()) + " ";
    const auto digest = sshcrypto::Md5(m_blob);
    char hex[4];
    for (std::size_t i = 0; i < digest.size(); ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02x" : "%02x", digest[i]);
        text += hex;
    }
    return text;
}

std::string CSshHostKey::Sha256Fingerprint() const { return sshcrypto::Sha256Fingerprint(m_blob); }
