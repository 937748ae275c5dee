// The upload engine's Diffie-Hellman numbers on bare handles, worked by the
// shared primitive (sshcore/bignum).
#include <new>
#include <stdexcept>

#include "scp/scp.h"
#include "scp/scp_crypto.h"
#include "scp/scp_store.h"
#include "sshcore/bignum.h"

namespace {

// Replaces a handle with a new number.
void scp_bn_set(BIGNUM** slot, sshcore::CBigNum value)
{
    sshcore::FreeBigNum(*slot);
    *slot = value.Release();
}

}  // namespace

int scp_dh_fixed_group(int group, BIGNUM** p, BIGNUM** g)
{
    try {
        const sshcore::CDiffieHellman dh = group == 18   ? sshcore::CDiffieHellman::Group18()
                                             : group == 16 ? sshcore::CDiffieHellman::Group16()
                                             : group == 14 ? sshcore::CDiffieHellman::Group14()
                                             : group == 1  ? sshcore::CDiffieHellman::Group1()
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
        const sshcore::CBigNum pn = sshcore::CBigNum::CopyOf(p);
        const int bits = pn.Bits();
        if (bits < minBits || bits > maxBits || !pn.IsOdd()) return false;
        return sshcore::CDiffieHellman(pn, sshcore::CBigNum::CopyOf(g)).InRange(sshcore::CBigNum::CopyOf(g));
    } catch (const std::exception&) {
        return false;
    }
}

int scp_dh_generate(const BIGNUM* p, const BIGNUM* g, int bits, ScpRandomPool* pool, BIGNUM** x, BIGNUM** e)
{
    try {
        sshcore::CDiffieHellman dh(sshcore::CBigNum::CopyOf(p), sshcore::CBigNum::CopyOf(g));
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

int scp_dh_shared(const BIGNUM* p, const BIGNUM* x, const BIGNUM* f, BIGNUM** k)
{
    if (!p || !x || !f) return SCP_E_INTERNAL;
    try {
        // g does not enter f^x mod p.
        sshcore::CDiffieHellman dh(sshcore::CBigNum::CopyOf(p), sshcore::CBigNum(2));
        const sshcore::CBigNum fn = sshcore::CBigNum::CopyOf(f);
        if (!dh.InRange(fn)) return SCP_E_AUTHENTICATE;
        scp_bn_set(k, fn.ModExp(sshcore::CBigNum::CopyOf(x), dh.P()));
        return SCP_OK;
    } catch (const std::exception&) {
        return SCP_E_OUT_OF_MEMORY;
    }
}
