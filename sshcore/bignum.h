// Arbitrary-precision integers (OpenSSL BIGNUM), Diffie-Hellman over a
// prime group, and the SSH "mpint" form of a number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

typedef struct bignum_st BIGNUM;

namespace sshcore {

class CBigNum {
public:
    CBigNum();  // zero
    explicit CBigNum(std::uint32_t value);
    CBigNum(const CBigNum& other);
    CBigNum& operator=(const CBigNum& other);
    CBigNum(CBigNum&&) noexcept = default;
    CBigNum& operator=(CBigNum&&) noexcept = default;
    ~CBigNum();

    // Unsigned big-endian magnitude.
    static CBigNum FromBytes(std::span<const std::uint8_t> bytes);
    // The content of an SSH mpint: big-endian two's complement.
    static CBigNum FromMpint(std::span<const std::uint8_t> bytes);
    static CBigNum FromHex(const char* hex);
    // A copy of a bare OpenSSL number (for callers that keep handles).
    static CBigNum CopyOf(const BIGNUM* bn);
    // Hands the number over as a bare handle, to be given back to
    // FreeBigNum; this object is left without a number.
    BIGNUM* Release() { return m_bn.release(); }

    // Content of the SSH mpint (no length field): empty for zero, a leading
    // zero byte when the top bit of the magnitude is set. Negative numbers
    // are not used by SSH key exchange and are encoded by magnitude only.
    std::vector<std::uint8_t> ToMpint() const;
    // Unsigned big-endian magnitude, left-padded with zeros to `width`.
    std::vector<std::uint8_t> ToBytes(std::size_t width = 0) const;
    // Lower-case hexadecimal without leading zeros; "0" for zero.
    std::string ToHex() const;

    int Bits() const;
    bool IsNegative() const;
    bool IsOdd() const;
    int Compare(const CBigNum& other) const;  // <0, 0, >0
    bool operator==(const CBigNum& other) const { return Compare(other) == 0; }

    CBigNum Minus(std::uint32_t value) const;
    CBigNum ShiftRight(int bits) const;
    // this^exponent mod modulus, constant time in the exponent.
    CBigNum ModExp(const CBigNum& exponent, const CBigNum& modulus) const;

    const BIGNUM* get() const { return m_bn.get(); }

private:
    struct Free {
        void operator()(BIGNUM* bn) const;
    };
    std::unique_ptr<BIGNUM, Free> m_bn;
};

// For callers whose C-style records hold numbers as bare OpenSSL handles:
// the content of the number's mpint; a number read from an mpint's content
// (null when it is negative or memory runs out), to be given back to
// FreeBigNum, which also wipes it.
std::vector<std::uint8_t> MpintOf(const BIGNUM* n);
BIGNUM* NewBigNumFromMpint(std::span<const std::uint8_t> content);
void FreeBigNum(BIGNUM* n);

// Diffie-Hellman in the group (p, g).
class CDiffieHellman {
public:
    CDiffieHellman(CBigNum p, CBigNum g);
    // The 1024-bit MODP group of RFC 2409 (Oakley group 2), generator 2.
    static CDiffieHellman Group1();
    // The 2048-bit and 4096-bit MODP groups of RFC 3526, generator 2.
    static CDiffieHellman Group14();
    static CDiffieHellman Group16();
    // The 8192-bit MODP group of RFC 3526, generator 2.
    static CDiffieHellman Group18();

    const CBigNum& P() const { return m_p; }
    const CBigNum& G() const { return m_g; }
    // Picks the private exponent from `randomByte`: a number of `bits` bits
    // when that is below the bit length of q = (p - 1) / 2, else a number
    // below q; drawn again while it is not above 1. Computes e = g^x mod p.
    void GeneratePrivate(int bits, const std::function<std::uint8_t()>& randomByte);
    void SetPrivate(CBigNum x);
    const CBigNum& Public() const { return m_e; }
    // The private exponent, for callers that keep it as a handle of their own.
    const CBigNum& Private() const { return m_x; }
    // Whether 1 < v < p - 1, the range of a valid public value.
    bool InRange(const CBigNum& v) const;
    // f^x mod p.
    CBigNum Shared(const CBigNum& f) const;

private:
    CBigNum m_p, m_g, m_x, m_e;
};

}  // namespace sshcore
