// The upload engine's adapter, key side: server host keys (parse, verify)
// and the private keys it signs with, on the shared keys of sshcore/.
#include "scp/scp_crypto.h"

#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "scp/scp.h"
#include "sshcore/hostkey.h"
#include "sshcore/hostkey_trust.h"
#include "sshcore/key_sign.h"
#include "sshcore/private_key.h"

namespace {
// The key types with the names they go by: in the blob, in the host-key
// store and as the plain signature algorithm.
struct ScpKeyName {
    int type;
    const char* blobName;
};
constexpr ScpKeyName kKeyNames[] = {
    {SCP_KEY_RSA, "ssh-rsa"},
    {SCP_KEY_DSS, "ssh-dss"},
    {SCP_KEY_ED25519, "ssh-ed25519"},
    {SCP_KEY_ECDSA_P256, "ecdsa-sha2-nistp256"},
};

const ScpKeyName* scp_key_name(int type)
{
    for (const auto& k : kKeyNames)
        if (k.type == type) return &k;
    return nullptr;
}

char* scp_strdup_string(const std::string& text)
{
    auto* copy = static_cast<char*>(scp_alloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}
}  // namespace

int scp_hostkey_alg_type(const char* alg)
{
    if (std::strcmp(alg, "rsa-sha2-256") == 0 || std::strcmp(alg, "rsa-sha2-512") == 0) return SCP_KEY_RSA;
    for (const auto& k : kKeyNames)
        if (std::strcmp(alg, k.blobName) == 0) return k.type;
    return SCP_KEY_UNKNOWN;
}

int scp_hostkey_parse(const std::uint8_t* blob, std::size_t len, ScpHostKey* key)
{
    *key = ScpHostKey{};
    ScpReader r = scp_reader(blob, len);
    const std::uint8_t* type = nullptr;
    std::size_t typeLen = 0;
    if (!scp_get_string(&r, &type, &typeLen, 64)) return SCP_E_AUTHENTICATE;
    const std::string typeName(reinterpret_cast<const char*>(type), typeLen);
    const int keyType = scp_hostkey_alg_type(typeName.c_str());
    if (keyType == SCP_KEY_UNKNOWN || typeName.size() != std::strlen(typeName.c_str()) ||
        std::strcmp(scp_key_name(keyType)->blobName, typeName.c_str()) != 0)
        return SCP_E_AUTHENTICATE;
    const int rc = scp_guard([&]() -> int {
        std::unique_ptr<CSshHostKey> parsed = CSshHostKey::Create(typeName);
        if (!parsed || !parsed->SetKey(ByteView(blob, len))) return SCP_E_AUTHENTICATE;
        if (keyType == SCP_KEY_RSA && parsed->Bits() < sshcore::kMinRsaHostKeyBits) return SCP_E_HOSTKEY_TOO_SMALL;
        key->type = keyType;
        key->isDss = keyType == SCP_KEY_DSS;
        key->cacheType = parsed->CacheType();
        key->bits = parsed->Bits();
        key->text = scp_strdup_string(parsed->KeyString());
        key->fingerprint = scp_strdup_string(parsed->Fingerprint());
        key->impl = parsed.release();  // scp_hostkey_free takes it back
        return key->text && key->fingerprint ? SCP_OK : SCP_E_OUT_OF_MEMORY;
    });
    if (rc) scp_hostkey_free(key);
    return rc;
}

int scp_hostkey_verify(const ScpHostKey* key, const std::uint8_t* sig, std::size_t sigLen, const std::uint8_t* data,
                       std::size_t dataLen)
{
    const ScpKeyName* name = scp_key_name(key->type);
    if (!name) return SCP_E_AUTHENTICATE;
    return scp_hostkey_verify_alg(key, name->blobName, sig, sigLen, data, dataLen);
}

int scp_hostkey_verify_alg(const ScpHostKey* key, const char* alg, const std::uint8_t* sig, std::size_t sigLen,
                           const std::uint8_t* data, std::size_t dataLen)
{
    if (!key->impl || scp_hostkey_alg_type(alg) != key->type) return SCP_E_AUTHENTICATE;
    return scp_guard(
        [&]() -> int {
            // The signature's algorithm decides the hash (rsa-sha2-256 and the rest).
            std::unique_ptr<CSshHostKey> checker = CSshHostKey::Create(alg);
            if (!checker || !checker->SetKey(key->impl->Blob())) return SCP_E_AUTHENTICATE;
            return checker->Verify(ByteView(sig, sigLen), ByteView(data, dataLen)) ? SCP_OK : SCP_E_AUTHENTICATE;
        },
        SCP_E_AUTHENTICATE);
}

void scp_hostkey_free(ScpHostKey* key)
{
    std::unique_ptr<CSshHostKey> owned(key->impl);
    scp_free(key->text);
    scp_free(key->fingerprint);
    *key = ScpHostKey{};
}

namespace {
// The keys the upload library signs with: RSA and DSA, and OpenSSH's own
// format only when no passphrase protects it.
const sshcore::SKeyFileOptions& scp_key_options()
{
    static const sshcore::SKeyFileOptions options{{"ssh-rsa", "ssh-dss"}, false};
    return options;
}
}  // namespace

bool scp_privkey_recognised(const char* path)
{
    if (!path || !*path) return false;
    return scp_guard([&]() -> int {
        sshcore::CPrivateKey key;
        const sshcore::EKeyFileError code = sshcore::LoadPrivateKeyFile(path, "", key, scp_key_options()).code;
        const bool readable =
            code == sshcore::KF_OK || code == sshcore::KF_NEEDS_PASSPHRASE || code == sshcore::KF_WRONG_PASSPHRASE;
        return readable ? SCP_OK : SCP_E_AUTHENTICATE;
    }) == SCP_OK;
}

int scp_privkey_load(const char* path, const char* passphrase, ScpPrivKey* key)
{
    *key = ScpPrivKey{};
    if (!path || !*path) return SCP_E_AUTHENTICATE;
    return scp_guard([&]() -> int {
        auto loaded = std::make_unique<sshcore::CPrivateKey>();
        const sshcore::SKeyFileResult result =
            sshcore::LoadPrivateKeyFile(path, passphrase ? passphrase : "", *loaded, scp_key_options());
        if (result.code != sshcore::KF_OK) return SCP_E_AUTHENTICATE;
        key->isDss = loaded->TypeName() == "ssh-dss";
        key->key = loaded.release();  // scp_privkey_free takes it back
        return SCP_OK;
    });
}

const char* scp_privkey_algorithm(const ScpPrivKey* key) { return key->key ? key->key->TypeName().c_str() : ""; }

int scp_privkey_public_blob(const ScpPrivKey* key, ScpBuf* out)
{
    if (!key->key) return SCP_E_INTERNAL;
    return scp_guard([&]() -> int {
        const std::vector<std::uint8_t> blob = key->key->PublicBlob();
        return scp_buf_put(out, blob.data(), blob.size());
    });
}

int scp_privkey_sign(const ScpPrivKey* key, const std::uint8_t* data, std::size_t len, ScpBuf* out)
{
    if (!key->key) return SCP_E_INTERNAL;
    return scp_guard(
        [&]() -> int {
            // The key's own type names the signature ("ssh-rsa": SHA-1).
            const std::vector<std::uint8_t> sig =
                sshcore::SignSsh(*key->key, key->key->TypeName(), std::span<const std::uint8_t>(data, len));
            if (sig.empty()) return SCP_E_AUTHENTICATE;
            return scp_buf_put(out, sig.data(), sig.size());
        },
        SCP_E_AUTHENTICATE);
}

void scp_privkey_free(ScpPrivKey* key)
{
    std::unique_ptr<sshcore::CPrivateKey> owned(key->key);
    *key = ScpPrivKey{};
}
