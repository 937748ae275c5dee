// The upload engine's Diffie-Hellman numbers on bare handles, worked by the
// shared primitive (ssh2/crypto/bignum).
#include <new>
#include <stdexcept>

#include "scp/scp.h"
#include "scp/scp_crypto.h"
#include "scp/scp_store.h"
#include "ssh2/crypto/bignum.h"

namespace {

// Replaces a handle with a new number.
void scp_bn_set(BIGNUM** slot, sshcrypto::CBigNum value)
{
    sshcrypto::FreeBigNum(*slot);
    *slot = value.Release();
}

}  // namespace

int scp_dh_fixed_group(int group, BIGNUM** p, BIGNUM** g)
{
    try {
        const sshcrypto::CDiffieHellman dh = group == 18   ? sshcrypto::CDiffieHellman::Group18()
                                             : group == 16 ? sshcrypto::CDiffieHellman::Group16()
                                             : group == 14 ? sshcrypto::CDiffieHellman::Group14()
                                             : group == 1  ? sshcrypto::CDiffieHellman::Group1()
                                                           : throw std::invalid_argument("group");
        scp_bn_set(p, dh.P());
        scp_bn_set(g, dh.G());
        return SCP_OK;
    } catch (const std::invalid_argument&) {
        return SCP_E_INTERNAL;
    } catch (const std::exception&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}

bool scp_dh_group_usable(const BIGNUM* p, const BIGNUM* g, int minBits, int maxBits)
{
    if (!p || !g) return false;
    try {
        const sshcrypto::CBigNum pn = sshcrypto::CBigNum::CopyOf(p);
        const int bits = pn.Bits();
        if (bits < minBits || bits > maxBits || !pn.IsOdd()) return false;
        return sshcrypto::CDiffieHellman(pn, sshcrypto::CBigNum::CopyOf(g)).InRange(sshcrypto::CBigNum::CopyOf(g));
    } catch (const std::exception&) {
        return false;
    }
}

int scp_dh_generate(const BIGNUM* p, const BIGNUM* g, int bits, ScpRandomPool* pool, BIGNUM** x, BIGNUM** e)
{
    try {
        sshcrypto::CDiffieHellman dh(sshcrypto::CBigNum::CopyOf(p), sshcrypto::CBigNum::CopyOf(g));
        dh.GeneratePrivate(bits, [pool] {
            std::uint8_t b = 0;
            scp_random_bytes(pool, &b, 1);
            return b;
        });
        scp_bn_set(e, dh.Public());
        scp_bn_set(x, dh.Private());
        return SCP_OK;
    } catch (const std::exception&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}

int scp_dh_public(const BIGNUM* p, const BIGNUM* g, const BIGNUM* x, BIGNUM** e)
{
    try {
        sshcrypto::CDiffieHellman dh(sshcrypto::CBigNum::CopyOf(p), sshcrypto::CBigNum::CopyOf(g));
        dh.SetPrivate(sshcrypto::CBigNum::CopyOf(x));
        scp_bn_set(e, dh.Public());
        return SCP_OK;
    } catch (const std::exception&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}

int scp_dh_shared(const BIGNUM* p, const BIGNUM* x, const BIGNUM* f, BIGNUM** k)
{
    if (!p || !x || !f) return SCP_E_INTERNAL;
    try {
        // g does not enter f^x mod p.
        sshcrypto::CDiffieHellman dh(sshcrypto::CBigNum::CopyOf(p), sshcrypto::CBigNum(2));
        const sshcrypto::CBigNum fn = sshcrypto::CBigNum::CopyOf(f);
        if (!dh.InRange(fn)) return SCP_E_AUTHENTICATE;
        scp_bn_set(k, fn.ModExp(sshcrypto::CBigNum::CopyOf(x), dh.P()));
        return SCP_OK;
    } catch (const std::exception&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}
