#include "sshcore/pubkey.h"

#include <openssl/core_names.h>

#include <memory>
#include <vector>

#include "sshcore/handles.h"

namespace sshcore {
namespace {

struct Field {
    const char* name;
    const CBigNum* value;
};

PkeyPtr MakePublicKey(const char* type, std::initializer_list<Field> fields)
{
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!bld) return nullptr;
    for (const auto& f : fields) {
        if (f.value->IsNegative()) return nullptr;
        if (OSSL_PARAM_BLD_push_BN(bld.get(), f.name, f.value->get()) != 1) return nullptr;
    }
    ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
    return PkeyPtr(key);
}

// mdName null: the key type signs the data itself (Ed25519).
bool VerifyWith(EVP_PKEY* key, std::span<const std::uint8_t> signature, std::span<const std::uint8_t> data,
                const char* mdName = "SHA1")
{
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit_ex(ctx.get(), nullptr, mdName, nullptr, nullptr, key, nullptr) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

}  // namespace

bool RsaVerifySha1(const CBigNum& e, const CBigNum& n, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data)
{
    return RsaVerify(EDigest::Sha1, e, n, signature, data);
}

bool RsaVerify(EDigest hash, const CBigNum& e, const CBigNum& n, std::span<const std::uint8_t> signature,
               std::span<const std::uint8_t> data)
{
    const char* mdName = hash == EDigest::Sha256 ? "SHA256" : hash == EDigest::Sha512 ? "SHA512" : "SHA1";
    PkeyPtr key = MakePublicKey("RSA", {{OSSL_PKEY_PARAM_RSA_N, &n}, {OSSL_PKEY_PARAM_RSA_E, &e}});
    if (!key) return false;
    // Some signers drop leading zero bytes; restore the modulus length.
    const std::size_t width = static_cast<std::size_t>((n.Bits() + 7) / 8);
    if (signature.size() > width) return false;
    std::vector<std::uint8_t> padded(width - signature.size(), 0);
    padded.insert(padded.end(), signature.begin(), signature.end());
    return VerifyWith(key.get(), padded, data, mdName);
}

bool DsaVerifySha1(const CBigNum& p, const CBigNum& q, const CBigNum& g, const CBigNum& y,
                   std::span<const std::uint8_t> r, std::span<const std::uint8_t> s,
                   std::span<const std::uint8_t> data)
{
    PkeyPtr key = MakePublicKey("DSA", {{OSSL_PKEY_PARAM_FFC_P, &p},
                                        {OSSL_PKEY_PARAM_FFC_Q, &q},
                                        {OSSL_PKEY_PARAM_FFC_G, &g},
                                        {OSSL_PKEY_PARAM_PUB_KEY, &y}});
    if (!key) return false;
    DsaSigPtr sig(DSA_SIG_new());
    BIGNUM* br = BN_bin2bn(r.data(), static_cast<int>(r.size()), nullptr);
    BIGNUM* bs = BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr);
    if (!sig || !br || !bs || DSA_SIG_set0(sig.get(), br, bs) != 1) {
        BN_free(br);
        BN_free(bs);
        return false;
    }
    unsigned char* der = nullptr;
    const int length = i2d_DSA_SIG(sig.get(), &der);
    if (length <= 0) return false;
    const bool ok = VerifyWith(key.get(), std::span<const std::uint8_t>(der, static_cast<std::size_t>(length)), data);
    OPENSSL_free(der);
    return ok;
}

bool Ed25519Verify(std::span<const std::uint8_t> publicKey, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data)
{
    if (publicKey.size() != 32 || signature.size() != 64) return false;
    PkeyPtr key(EVP_PKEY_new_raw_public_key_ex(nullptr, "ED25519", nullptr, publicKey.data(), publicKey.size()));
    return key && VerifyWith(key.get(), signature, data, nullptr);
}

bool EcdsaP256VerifySha256(std::span<const std::uint8_t> point, std::span<const std::uint8_t> r,
                           std::span<const std::uint8_t> s, std::span<const std::uint8_t> data)
{
    if (point.size() != 65 || point[0] != 0x04 || r.size() > 33 || s.size() > 33) return false;
    static char group[] = "prime256v1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<std::uint8_t*>(point.data()),
                                          point.size()),
        OSSL_PARAM_construct_end(),
    };
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return false;
    PkeyPtr key(raw);
    EcdsaSigPtr sig(ECDSA_SIG_new());
    BIGNUM* br = BN_bin2bn(r.data(), static_cast<int>(r.size()), nullptr);
    BIGNUM* bs = BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr);
    if (!sig || !br || !bs || ECDSA_SIG_set0(sig.get(), br, bs) != 1) {
        BN_free(br);
        BN_free(bs);
        return false;
    }
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    if (length <= 0) return false;
    const bool ok =
        VerifyWith(key.get(), std::span<const std::uint8_t>(der, static_cast<std::size_t>(length)), data, "SHA256");
    OPENSSL_free(der);
    return ok;
}

}  // namespace sshcore
