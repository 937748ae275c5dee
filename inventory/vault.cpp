#include "inventory/vault.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "platform/text.h"
#include "sshcore/product_crypto.h"

namespace {

constexpr std::string_view kKdfName = "scrypt";
constexpr std::string_view kCipherName = "aes-256-gcm";
constexpr std::uint32_t kMaxNameBytes = 32;

// The least a file may ask for: 64 MiB of memory and the default's work.
// The most: 256 MiB and four times the default's work, so that the worst
// header a file may hold costs about 1.5 s per attempt on the reference
// machine (N=2^18, r=8, p=1) and never more than 256 MiB.
constexpr std::uint64_t kFloorMemory = 64ull << 20;
constexpr std::uint64_t kFloorWork = 1ull << 19;  // N * r * p
constexpr std::uint64_t kCeilingMemory = 256ull << 20;
constexpr std::uint64_t kCeilingWork = 1ull << 21;
constexpr std::uint32_t kMaxLog2N = 24;
constexpr std::uint32_t kMaxR = 64;
constexpr std::uint32_t kMaxP = 16;

std::optional<SVaultKdfParams> g_testParams;

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::uint64_t Memory(const SVaultKdfParams& p) { return 128ull * p.r << p.log2N; }
std::uint64_t Work(const SVaultKdfParams& p) { return (static_cast<std::uint64_t>(p.r) * p.p) << p.log2N; }

}  // namespace

bool VaultParamsAcceptable(const SVaultKdfParams& params)
{
    if (params.log2N < 1 || params.log2N > kMaxLog2N || params.r < 1 || params.r > kMaxR || params.p < 1 ||
        params.p > kMaxP)
        return false;
    if (Memory(params) > kCeilingMemory || Work(params) > kCeilingWork) return false;
    if (g_testParams)
        return Memory(params) >= Memory(*g_testParams) && Work(params) >= Work(*g_testParams);
    return Memory(params) >= kFloorMemory && Work(params) >= kFloorWork;
}

void SetVaultTestParameters(const SVaultKdfParams* params)
{
    if (params)
        g_testParams = *params;
    else
        g_testParams.reset();
}

CVaultKey::~CVaultKey() { SecureZeroMemory(m_key.data(), m_key.size()); }

EVaultError CVaultKey::Create(std::string_view password)
{
    std::array<unsigned char, kVaultSaltBytes> salt{};
    if (!sshcore::SystemRandomBytes(salt.data(), salt.size())) return VAULT_FAILED;
    return Derive(password, g_testParams ? *g_testParams : kVaultDefaultKdf, salt);
}

EVaultError CVaultKey::Derive(std::string_view password, const SVaultKdfParams& params,
                              const std::array<unsigned char, kVaultSaltBytes>& salt)
{
    m_bReady = false;
    SecureZeroMemory(m_key.data(), m_key.size());
    if (password.empty()) return VAULT_EMPTY_PASSWORD;
    if (!VaultParamsAcceptable(params)) return VAULT_WEAK_PARAMS;
    const std::uint64_t n = 1ull << params.log2N;
    // Room for the work area and the p blocks beside it.
    const std::uint64_t maxMemory = Memory(params) + 128ull * params.r * params.p + (1u << 20);
    if (!sshcore::Scrypt(password, salt, n, params.r, params.p, maxMemory, m_key)) {
        SecureZeroMemory(m_key.data(), m_key.size());
        return VAULT_FAILED;
    }
    m_salt = salt;
    m_params = params;
    m_bReady = true;
    return VAULT_OK;
}

EVaultError CVaultKey::Seal(std::string_view plain, std::string_view associated, std::string& sealed,
                            std::size_t maxPlain) const
{
    sealed.clear();
    if (!m_bReady) return VAULT_FAILED;
    if (plain.size() > std::min(maxPlain, kVaultMaxLargePlainBytes)) return VAULT_DAMAGED;
    std::string out(kVaultNonceBytes + plain.size() + kVaultTagBytes, '\0');
    auto* nonce = reinterpret_cast<unsigned char*>(out.data());
    if (!sshcore::SystemRandomBytes(nonce, kVaultNonceBytes)) return VAULT_FAILED;
    const bool ok = sshcore::Aes256GcmSeal(m_key, nonce, associated, plain, nonce + kVaultNonceBytes);
    if (!ok) return VAULT_FAILED;
    sealed = std::move(out);
    return VAULT_OK;
}

EVaultError CVaultKey::Open(std::string_view sealed, std::string_view associated, std::string& plain,
                            std::size_t maxPlain) const
{
    WipeString(plain);
    if (!m_bReady) return VAULT_FAILED;
    if (sealed.size() < kVaultNonceBytes + kVaultTagBytes ||
        sealed.size() - kVaultNonceBytes - kVaultTagBytes > std::min(maxPlain, kVaultMaxLargePlainBytes))
        return VAULT_DAMAGED;
    const std::size_t length = sealed.size() - kVaultNonceBytes - kVaultTagBytes;
    const unsigned char* nonce = Bytes(sealed);
    const unsigned char* cipher = nonce + kVaultNonceBytes;
    Wiped<std::string> out(std::string(length, '\0'));
    auto* target = reinterpret_cast<unsigned char*>(out.get().data());
    // The tag is checked: anything changed in the record, its nonce or its
    // place fails.
    switch (sshcore::Aes256GcmOpen(m_key, nonce, associated, cipher, length, target)) {
    case sshcore::EGcmOpen::Ok: break;
    case sshcore::EGcmOpen::WrongTag: return VAULT_DAMAGED;
    default: return VAULT_FAILED;
    }
    plain = out.get();
    return VAULT_OK;
}

void WriteVaultHeader(CStreamWriter& writer, const CVaultKey& key)
{
    SVaultHeader header;
    header.params = key.Params();
    header.salt = key.Salt();
    const std::string bytes = VaultHeaderBytes(header);
    writer.WriteBytes(bytes.data(), bytes.size());
}

std::string VaultHeaderBytes(const SVaultHeader& header)
{
    std::string bytes;
    AppendText(bytes, kKdfName);
    AppendU32(bytes, header.params.log2N);
    AppendU32(bytes, header.params.r);
    AppendU32(bytes, header.params.p);
    AppendText(bytes, std::string_view(reinterpret_cast<const char*>(header.salt.data()), header.salt.size()));
    AppendText(bytes, kCipherName);
    return bytes;
}

const char* VaultHeaderFault(const SVaultHeader& header)
{
    if (std::all_of(header.salt.begin(), header.salt.end(), [](unsigned char c) { return c == 0; }))
        return "its salt is all zeros";
    if (!VaultParamsAcceptable(header.params)) return "its key derivation settings are outside the accepted range";
    return nullptr;
}

std::string VaultHeaderDigest(std::uint32_t version, std::string_view headerBytes)
{
    std::string input("ferrodex vault header");
    AppendU32(input, version);
    input.append(headerBytes);
    std::string digest(kVaultHeaderDigestBytes, '\0');
    const std::vector<std::uint8_t> sha = sshcore::DigestOf("SHA256", input);
    if (sha.size() != digest.size()) return {};
    std::copy(sha.begin(), sha.end(), digest.begin());
    return digest;
}

bool ReadVaultHeader(CStreamReader& reader, SVaultHeader& header)
{
    std::uint32_t length = 0;
    std::string text;
    if (!reader.ReadU32(length) || length > kMaxNameBytes || !reader.ReadBytes(length, text) || text != kKdfName)
        return false;
    if (!reader.ReadU32(header.params.log2N) || !reader.ReadU32(header.params.r) || !reader.ReadU32(header.params.p))
        return false;
    if (!reader.ReadU32(length) || length != kVaultSaltBytes || !reader.ReadBytes(length, text)) return false;
    std::copy(text.begin(), text.end(), header.salt.begin());
    return reader.ReadU32(length) && length <= kMaxNameBytes && reader.ReadBytes(length, text) && text == kCipherName;
}

void WriteSealed(CStreamWriter& writer, std::string_view sealed)
{
    writer.WriteU32(static_cast<std::uint32_t>(sealed.size()));
    writer.WriteBytes(sealed.data(), sealed.size());
}

bool ReadSealed(CStreamReader& reader, std::string& sealed)
{
    std::uint32_t length = 0;
    return reader.ReadU32(length) && length >= kVaultNonceBytes + kVaultTagBytes &&
           length - kVaultNonceBytes - kVaultTagBytes <= kVaultMaxPlainBytes && reader.ReadBytes(length, sealed);
}

bool CPlainReader::ReadU32(std::uint32_t& value)
{
    if (m_bytes.size() - m_offset < 4) return false;
    const auto* p = Bytes(m_bytes.substr(m_offset, 4));
    value = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    m_offset += 4;
    return true;
}

bool CPlainReader::ReadText(std::size_t maxBytes, std::string& out)
{
    WipeString(out);
    const std::size_t start = m_offset;
    std::uint32_t length = 0;
    if (!ReadU32(length) || length > maxBytes || m_bytes.size() - m_offset < length) {
        m_offset = start;
        return false;
    }
    out.assign(m_bytes.substr(m_offset, length));
    m_offset += length;
    return true;
}

void AppendU32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void AppendText(std::string& out, std::string_view text)
{
    AppendU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}
