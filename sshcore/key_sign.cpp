#include "sshcore/key_sign.h"

#include <openssl/dsa.h>
#include <openssl/ecdsa.h>

namespace sshcore {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutString(Bytes &out, std::span<const std::uint8_t> s)
{
    const auto n = static_cast<std::uint32_t>(s.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
    out.insert(out.end(), s.begin(), s.end());
}

void PutMpint(Bytes &out, const BIGNUM *n)
{
    Bytes bytes(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, bytes.data());
    if (!bytes.empty() && (bytes[0] & 0x80)) bytes.insert(bytes.begin(), 0);
    PutString(out, bytes);
}

// The hash an algorithm signs with; nullptr for Ed25519, which hashes itself.
bool HashOf(const CPrivateKey &key, std::string_view algorithm, const EVP_MD *&md)
{
    const std::string &type = key.TypeName();
    md = nullptr;
    if (type == "ssh-rsa") {
        if (algorithm == "rsa-sha2-512")
            md = EVP_sha512();
        else if (algorithm == "rsa-sha2-256")
            md = EVP_sha256();
        else if (algorithm == "ssh-rsa")
            md = EVP_sha1();
        return md != nullptr;
    }
    if (algorithm != type) return false;
    if (type == "ecdsa-sha2-nistp256")
        md = EVP_sha256();
    else if (type == "ecdsa-sha2-nistp384")
        md = EVP_sha384();
    else if (type == "ecdsa-sha2-nistp521")
        md = EVP_sha512();
    else if (type == "ssh-dss")
        md = EVP_sha1();
    else if (type != "ssh-ed25519")
        return false;
    return true;
}

} // namespace

std::vector<std::string_view> SignatureAlgorithms(const CPrivateKey &key)
{
    if (key.TypeName() == "ssh-rsa") return {"rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"};
    if (key.TypeName().empty()) return {};
    return {key.TypeName()};
}

std::vector<std::uint8_t> SignSsh(const CPrivateKey &key, std::string_view algorithm,
                                  std::span<const std::uint8_t> data)
{
    const EVP_MD *md = nullptr;
    if (key.Handle() == nullptr || !HashOf(key, algorithm, md)) return {};
    MdCtxPtr ctx(EVP_MD_CTX_new());
    std::size_t size = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, md, nullptr, key.Handle()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size, data.data(), data.size()) != 1)
        return {};
    Bytes raw(size);
    if (EVP_DigestSign(ctx.get(), raw.data(), &size, data.data(), data.size()) != 1) return {};
    raw.resize(size);
    Bytes out;
    PutString(out, {reinterpret_cast<const std::uint8_t *>(algorithm.data()), algorithm.size()});
    if (key.TypeName().starts_with("ecdsa-")) {
        // OpenSSL gives DER; SSH wants the two numbers as mpints in a string.
        const std::uint8_t *p = raw.data();
        EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(raw.size())));
        if (!sig) return {};
        Bytes inner;
        PutMpint(inner, ECDSA_SIG_get0_r(sig.get()));
        PutMpint(inner, ECDSA_SIG_get0_s(sig.get()));
        PutString(out, inner);
    } else if (key.TypeName() == "ssh-dss") {
        // OpenSSL gives DER; SSH wants r and s as 20 bytes each.
        const std::uint8_t *p = raw.data();
        const std::unique_ptr<DSA_SIG, FreeWith<DSA_SIG_free>> sig(d2i_DSA_SIG(nullptr, &p, static_cast<long>(raw.size())));
        if (!sig) return {};
        const BIGNUM *r = nullptr, *s = nullptr;
        DSA_SIG_get0(sig.get(), &r, &s);
        Bytes rs(40);
        if (BN_bn2binpad(r, rs.data(), 20) != 20 || BN_bn2binpad(s, rs.data() + 20, 20) != 20) return {};
        PutString(out, rs);
    } else {
        // RSA's value is as long as the modulus (OpenSSL pads it so).
        PutString(out, raw);
    }
    return out;
}

} // namespace sshcore
