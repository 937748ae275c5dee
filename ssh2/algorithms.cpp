#include "ssh2/algorithms.h"

#include <zlib.h>

#include <cstdio>

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
    return std::make_unique<CSshCipher>(m_strName.c_str(), m_strDisplay.c_str(), m_kind);
}

std::size_t CSshCipher::BlockSize() const { return sshcrypto::GetCipherInfo(m_kind).blockSize; }

std::size_t CSshCipher::KeyBits() const
{
    // Triple DES carries 168 key bits in its 24 key bytes.
    return m_kind == ECipher::TripleDesCbc ? 168 : sshcrypto::GetCipherInfo(m_kind).keySize * 8;
}

void CSshCipher::SetIV(ByteView iv)
{
    const std::size_t n = BlockSize();
    if (iv.size() < n) throw SSH_INTERNAL_ERROR;
    m_iv.assign(iv.begin(), iv.begin() + static_cast<std::ptrdiff_t>(n));
    m_pContext.reset();
}

void CSshCipher::SetKey(ByteView key)
{
    const std::size_t n = sshcrypto::GetCipherInfo(m_kind).keySize;
    if (key.size() < n) throw SSH_INTERNAL_ERROR;
    m_key.assign(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n));
    m_pContext.reset();
}

void CSshCipher::Begin(bool encrypt)
{
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

// ------------------------------------------------------------------- MACs

CSshMac::CSshMac(const char* name, std::optional<EDigest> kind) : m_strName(name), m_kind(kind) {}
CSshMac::~CSshMac() = default;

const std::vector<std::unique_ptr<CSshMac>>& CSshMac::Table()
{
    static const std::vector<std::unique_ptr<CSshMac>> table = [] {
        std::vector<std::unique_ptr<CSshMac>> list;
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

std::unique_ptr<CSshMac> CSshMac::Clone() const { return std::make_unique<CSshMac>(m_strName.c_str(), m_kind); }

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
    std::uint8_t expected[32];
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

CSshCompressor::CSshCompressor(bool zlib) : m_bZlib(zlib) {}
CSshCompressor::~CSshCompressor() = default;

std::unique_ptr<CSshCompressor> CSshCompressor::Create(std::string_view name)
{
    if (name == "zlib") return std::make_unique<CSshCompressor>(true);
    if (name == "none") return std::make_unique<CSshCompressor>(false);
    return nullptr;
}

std::unique_ptr<CSshCompressor> CSshCompressor::Clone() const { return std::make_unique<CSshCompressor>(m_bZlib); }

bool CSshCompressor::Compress(ByteView data, std::vector<std::uint8_t>& out)
{
    if (!m_bZlib) return false;
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
    if (!m_bZlib) return false;
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
    if (!m_bZlib) return 0;
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

class CRsaHostKey final : public CSshHostKey {
public:
    std::unique_ptr<CSshHostKey> Clone() const override { return std::make_unique<CRsaHostKey>(*this); }
    const char* Name() const override { return "ssh-rsa"; }
    const char* CacheType() const override { return "rsa2"; }

    bool SetKey(ByteView blob) override
    {
        CSshReader r(blob);
        if (AsText(r.GetString(64)) != "ssh-rsa") return false;
        CBigNum e = r.GetMpint(kMaxKeyBytes + 1);
        CBigNum n = r.GetMpint(kMaxKeyBytes + 1);
        if (r.Failed() || e.IsNegative() || n.IsNegative() || e.Bits() < 2 || n.Bits() < 512) return false;
        m_e = std::move(e);
        m_n = std::move(n);
        m_blob.assign(blob.begin(), blob.end());
        return true;
    }

    bool Verify(ByteView signature, ByteView data) const override
    {
        CSshReader r(signature);
        if (AsText(r.GetString(64)) != "ssh-rsa") return false;
        const ByteView s = r.GetString(kMaxKeyBytes);
        if (r.Failed()) return false;
        return sshcrypto::RsaVerifySha1(m_e, m_n, s, data);
    }

    std::string KeyString() const override { return "0x" + m_e.ToHex() + ",0x" + m_n.ToHex(); }

protected:
    int Bits() const override { return m_n.Bits(); }

private:
    CBigNum m_e, m_n;
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

protected:
    int Bits() const override { return m_p.Bits(); }

private:
    CBigNum m_p, m_q, m_g, m_y;
};

}  // namespace

std::vector<std::string> CSshHostKey::Names() { return {"ssh-rsa", "ssh-dss"}; }

std::unique_ptr<CSshHostKey> CSshHostKey::Create(std::string_view name)
{
    if (name == "ssh-rsa") return std::make_unique<CRsaHostKey>();
    if (name == "ssh-dss") return std::make_unique<CDssHostKey>();
    return nullptr;
}

std::string CSshHostKey::Fingerprint() const
{
    std::string text = std::string(Name()) + " " + std::to_string(Bits()) + " ";
    const auto digest = sshcrypto::Md5(m_blob);
    char hex[4];
    for (std::size_t i = 0; i < digest.size(); ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02x" : "%02x", digest[i]);
        text += hex;
    }
    return text;
}
