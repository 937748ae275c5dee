// The cipher preference order of the upload library: the families in the
// caller's order, the warning line below which ciphers are offered but never
// agreed, and single DES only when allowed.
#include <string>
#include <vector>

#include "scp/scp_crypto.h"
#include "scp/scp_ssh.h"

namespace {
bool scp_family_usable(int family, bool allowDes)
{
    if (family == SCP_CIPHER_DES && !allowDes) return false;
    if (family == SCP_CIPHER_BLOWFISH || family == SCP_CIPHER_DES) return scp_crypto_legacy_available();
    return true;
}

int scp_pref_family(int pref)
{
    switch (pref) {
    case SCP_PREF_AES: return SCP_CIPHER_AES;
    case SCP_PREF_BLOWFISH: return SCP_CIPHER_BLOWFISH;
    case SCP_PREF_3DES: return SCP_CIPHER_3DES;
    case SCP_PREF_DES: return SCP_CIPHER_DES;
    default: return SCP_CIPHER_WARN;
    }
}
}  // namespace

std::vector<std::string> scp_cipher_offer_names(const int prefs[5], bool allowDes, std::size_t* accepted)
{
    std::size_t count = 0;
    const ScpCipherInfo* table = scp_cipher_table(&count);
    std::vector<std::string> names;
    *accepted = static_cast<std::size_t>(-1);
    for (int i = 0; i < 5; ++i) {
        const int family = scp_pref_family(prefs[i]);
        // Ciphers below the warning line are offered but never agreed (a
        // warning line in last place warns about nothing).
        if (family == SCP_CIPHER_WARN && i < 4 && *accepted == static_cast<std::size_t>(-1)) *accepted = names.size();
        if (family == SCP_CIPHER_WARN || !scp_family_usable(family, allowDes)) continue;
        for (std::size_t j = 0; j < count; ++j)
            if (table[j].family == family) names.emplace_back(table[j].name);
    }
    return names;
}
