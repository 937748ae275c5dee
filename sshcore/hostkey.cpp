#include "sshcore/hostkey.h"

#include <cstdio>

#include "sshcore/algorithms.h"
#include "sshcore/bignum.h"
#include "sshcore/digest.h"
#include "sshcore/hostkey_trust.h"
#include "sshcore/pubkey.h"
#include "platform/text.h"

using sshcore::CBigNum;
using sshcore::EDigest;

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
        return sshcore::RsaVerify(m_hash, m_e, m_n, s, data);
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
        return sshcore::Ed25519Verify(m_key, s, data);
    }

    // Every byte as two digits, leading zeros kept.
    std::string KeyString() const override
    {
        return "0x" + HexLower(m_key.data(), m_key.size());
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
        return sshcore::EcdsaP256VerifySha256(m_point, sr.ToBytes(), ss.ToBytes(), data);
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
        return sshcore::DsaVerifySha1(m_p, m_q, m_g, m_y, rs.first(20), rs.subspan(20, 20), data);
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
    const std::span<const char* const> names = sshcore::HostKeyAlgorithms();
    return {names.begin(), names.end()};
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
    const auto digest = sshcore::Md5(m_blob);
    for (std::size_t i = 0; i < digest.size(); ++i) {
        if (i) text += ':';
        text += HexLower(&digest[i], 1);
    }
    return text;
}

std::string CSshHostKey::Sha256Fingerprint() const { return sshcore::Sha256Fingerprint(m_blob); }
