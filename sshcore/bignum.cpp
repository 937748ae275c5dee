#include "sshcore/bignum.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <stdexcept>

#include "sshcore/handles.h"
#include "platform/text.h"

namespace sshcore {
namespace {

BIGNUM* Check(BIGNUM* bn)
{
    if (!bn) throw std::bad_alloc();
    return bn;
}

const char kGroup1Prime[] =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD1"
    "29024E088A67CC74020BBEA63B139B22514A08798E3404DD"
    "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245"
    "E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381"
    "FFFFFFFFFFFFFFFF";

}  // namespace

void CBigNum::Free::operator()(BIGNUM* bn) const { BN_clear_free(bn); }

std::vector<std::uint8_t> MpintOf(const BIGNUM* n)
{
    const int bytes = BN_num_bytes(n);
    if (bytes <= 0) return {};
    std::vector<std::uint8_t> content(static_cast<std::size_t>(bytes) + 1, 0);
    BN_bn2bin(n, content.data() + 1);
    if ((content[1] & 0x80) == 0) content.erase(content.begin());
    return content;
}

BIGNUM* NewBigNumFromMpint(std::span<const std::uint8_t> content)
{
    if (!content.empty() && (content[0] & 0x80) != 0) return nullptr;
    return BN_bin2bn(content.data(), static_cast<int>(content.size()), nullptr);
}

void FreeBigNum(BIGNUM* n) { BN_clear_free(n); }

CBigNum::CBigNum() : m_bn(Check(BN_new())) {}

CBigNum::CBigNum(std::uint32_t value) : CBigNum()
{
    if (BN_set_word(m_bn.get(), value) != 1) throw std::bad_alloc();
}

CBigNum CBigNum::CopyOf(const BIGNUM* bn)
{
    CBigNum copy;
    copy.m_bn.reset(Check(BN_dup(bn)));
    return copy;
}

CBigNum::CBigNum(const CBigNum& other) : m_bn(Check(BN_dup(other.m_bn.get()))) {}

CBigNum& CBigNum::operator=(const CBigNum& other)
{
    if (this != &other) m_bn.reset(Check(BN_dup(other.m_bn.get())));
    return *this;
}

CBigNum::~CBigNum() = default;

CBigNum CBigNum::FromBytes(std::span<const std::uint8_t> bytes)
{
    CBigNum n;
    if (BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), n.m_bn.get()) == nullptr) throw std::bad_alloc();
    return n;
}

CBigNum CBigNum::FromMpint(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty() || (bytes[0] & 0x80) == 0) return FromBytes(bytes);
    // Negative: magnitude is the two's complement of the bytes.
    std::vector<std::uint8_t> magnitude(bytes.begin(), bytes.end());
    for (auto& b : magnitude) b = static_cast<std::uint8_t>(~b);
    for (std::size_t i = magnitude.size(); i-- > 0;)
        if (++magnitude[i] != 0) break;
    CBigNum n = FromBytes(magnitude);
    BN_set_negative(n.m_bn.get(), 1);
    return n;
}

CBigNum CBigNum::FromHex(const char* hex)
{
    CBigNum n;
    BIGNUM* raw = n.m_bn.release();
    if (BN_hex2bn(&raw, hex) == 0) {
        BN_free(raw);
        throw std::invalid_argument("bad hexadecimal number");
    }
    n.m_bn.reset(raw);
    return n;
}

std::vector<std::uint8_t> CBigNum::ToBytes(std::size_t width) const
{
    const std::size_t size = static_cast<std::size_t>(BN_num_bytes(m_bn.get()));
    std::vector<std::uint8_t> out(size < width ? width : size);
    BN_bn2binpad(m_bn.get(), out.data(), static_cast<int>(out.size()));
    return out;
}

std::vector<std::uint8_t> CBigNum::ToMpint() const
{
    if (BN_is_zero(m_bn.get())) return {};
    std::vector<std::uint8_t> magnitude = ToBytes();
    if (magnitude[0] & 0x80) magnitude.insert(magnitude.begin(), 0);
    return magnitude;
}

std::string CBigNum::ToHex() const
{
    const std::vector<std::uint8_t> bytes = ToBytes();
    const std::string text = HexLower(bytes.data(), bytes.size());
    const auto first = text.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : text.substr(first);
}

int CBigNum::Bits() const { return BN_num_bits(m_bn.get()); }
bool CBigNum::IsNegative() const { return BN_is_negative(m_bn.get()) != 0; }
bool CBigNum::IsOdd() const { return BN_is_odd(m_bn.get()) != 0; }
int CBigNum::Compare(const CBigNum& other) const { return BN_cmp(m_bn.get(), other.m_bn.get()); }

CBigNum CBigNum::Minus(std::uint32_t value) const
{
    CBigNum r(*this);
    if (BN_sub_word(r.m_bn.get(), value) != 1) throw std::bad_alloc();
    return r;
}

CBigNum CBigNum::ShiftRight(int bits) const
{
    CBigNum r;
    if (BN_rshift(r.m_bn.get(), m_bn.get(), bits) != 1) throw std::bad_alloc();
    return r;
}

CBigNum CBigNum::ModExp(const CBigNum& exponent, const CBigNum& modulus) const
{
    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) throw std::bad_alloc();
    if (BN_is_zero(modulus.m_bn.get()) || BN_is_negative(modulus.m_bn.get()))
        throw std::invalid_argument("bad modulus");
    CBigNum r;
    int ok;
    if (BN_is_odd(modulus.m_bn.get()))
        ok = BN_mod_exp_mont_consttime(r.m_bn.get(), m_bn.get(), exponent.m_bn.get(), modulus.m_bn.get(), ctx.get(), nullptr);
    else
        ok = BN_mod_exp(r.m_bn.get(), m_bn.get(), exponent.m_bn.get(), modulus.m_bn.get(), ctx.get());
    if (ok != 1) throw std::runtime_error("BN_mod_exp");
    return r;
}

CDiffieHellman::CDiffieHellman(CBigNum p, CBigNum g) : m_p(std::move(p)), m_g(std::move(g)) {}

CDiffieHellman CDiffieHellman::Group1()
{
    return CDiffieHellman(CBigNum::FromHex(kGroup1Prime), CBigNum(2));
}

namespace {

CBigNum Rfc3526Prime(BIGNUM* (*get)(BIGNUM*))
{
    std::unique_ptr<BIGNUM, void (*)(BIGNUM*)> prime(Check(get(nullptr)), BN_free);
    char* hex = BN_bn2hex(prime.get());
    if (!hex) throw std::bad_alloc();
    CBigNum result;
    try {
        result = CBigNum::FromHex(hex);
    } catch (...) {
        OPENSSL_free(hex);
        throw;
    }
    OPENSSL_free(hex);
    return result;
}

}  // namespace

CDiffieHellman CDiffieHellman::Group14()
{
    return CDiffieHellman(Rfc3526Prime(BN_get_rfc3526_prime_2048), CBigNum(2));
}

CDiffieHellman CDiffieHellman::Group16()
{
    return CDiffieHellman(Rfc3526Prime(BN_get_rfc3526_prime_4096), CBigNum(2));
}

CDiffieHellman CDiffieHellman::Group18()
{
    return CDiffieHellman(Rfc3526Prime(BN_get_rfc3526_prime_8192), CBigNum(2));
}

void CDiffieHellman::GeneratePrivate(int bits, const std::function<std::uint8_t()>& randomByte)
{
    const CBigNum q = m_p.Minus(1).ShiftRight(1);
    const CBigNum one(1);
    for (;;) {
        CBigNum x;
        if (bits < q.Bits()) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>((bits + 7) / 8));
            for (auto& b : bytes) b = randomByte();
            if (bits % 8) bytes[0] &= static_cast<std::uint8_t>((1u << (bits % 8)) - 1);
            x = CBigNum::FromBytes(bytes);
            OPENSSL_cleanse(bytes.data(), bytes.size());
        } else {
            // Below q: draw q's byte length and keep the draw only when it is.
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>((q.Bits() + 7) / 8));
            for (auto& b : bytes) b = randomByte();
            if (q.Bits() % 8) bytes[0] &= static_cast<std::uint8_t>((1u << (q.Bits() % 8)) - 1);
            x = CBigNum::FromBytes(bytes);
            OPENSSL_cleanse(bytes.data(), bytes.size());
            if (x.Compare(q) >= 0) continue;
        }
        if (x.Compare(one) > 0) {
            SetPrivate(std::move(x));
            return;
        }
    }
}

void CDiffieHellman::SetPrivate(CBigNum x)
{
    m_x = std::move(x);
    m_e = m_g.ModExp(m_x, m_p);
}

bool CDiffieHellman::InRange(const CBigNum& v) const
{
    return v.Compare(CBigNum(1)) > 0 && v.Compare(m_p.Minus(1)) < 0;
}

CBigNum CDiffieHellman::Shared(const CBigNum& f) const
{
    return f.ModExp(m_x, m_p);
}

}  // namespace sshcore
