// Negotiation: for each list, the first of our names that the server lists.
// A block cipher never runs without a MAC, whatever the two offers say.
#include "scp/scp_negotiate.h"

#include <algorithm>

#include "sshcore/algorithms.h"

namespace {

// The server's list as shown in an error detail (cut, as it is untrusted).
std::string scp_shown_list(const std::vector<std::string>& names)
{
    constexpr std::size_t kShown = 160;
    std::string text = sshcore::JoinNameList(names);
    if (text.size() > kShown) text = text.substr(0, kShown) + "...";
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return text.empty() ? "nothing" : text;
}

// Index in ours of the first name the server lists, or -1.
long scp_first_common(const std::vector<std::string>& ours, const std::vector<std::string>& theirs,
                      bool (*skip)(const std::string&))
{
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (skip && skip(ours[i])) continue;
        if (std::find(theirs.begin(), theirs.end(), ours[i]) != theirs.end()) return static_cast<long>(i);
    }
    return -1;
}

bool scp_is_marker(const std::string& name) { return name.rfind("kex-strict-", 0) == 0 || name.rfind("ext-info-", 0) == 0; }
bool scp_is_no_mac(const std::string& name) { return name == "none"; }

const char* const kWhat[SCP_OFFER_COUNT] = {
    "key-exchange method",
    "host-key algorithm",
    "cipher (client to server)",
    "cipher (server to client)",
    "MAC (client to server)",
    "MAC (server to client)",
    "compression (client to server)",
    "compression (server to client)",
};

}  // namespace

bool scp_cipher_name_is_aead(std::string_view name)
{
    const sshcore::SCipherAlgorithm* cipher = sshcore::FindCipherAlgorithm(name);
    return cipher && sshcore::IsAead(*cipher);
}

ScpAgreement scp_negotiate(const ScpOffer& ours, const ScpOffer& theirs)
{
    ScpAgreement agreed;
    const auto fail = [&](int list, const char* why) {
        agreed.ok = false;
        agreed.failure = std::string("no common ") + kWhat[list] + why + " (the server offers " +
                         scp_shown_list(theirs.lists[list]) + "): the connection was stopped";
        return agreed;
    };
    for (int list = SCP_OFFER_KEX; list < SCP_OFFER_COUNT; ++list) {
        const bool mac = list == SCP_OFFER_MAC_OUT || list == SCP_OFFER_MAC_IN;
        long at = scp_first_common(ours.lists[list], theirs.lists[list], list == SCP_OFFER_KEX ? scp_is_marker : nullptr);
        if (mac) {
            const std::string& cipher = agreed.names[list == SCP_OFFER_MAC_OUT ? SCP_OFFER_CIPHER_OUT : SCP_OFFER_CIPHER_IN];
            if (scp_cipher_name_is_aead(cipher)) {
                agreed.names[list] = at < 0 ? "none" : ours.lists[list][static_cast<std::size_t>(at)];
                continue;
            }
            // A block cipher needs integrity: "none" is never agreed for it.
            at = scp_first_common(ours.lists[list], theirs.lists[list], scp_is_no_mac);
            if (at < 0) return fail(list, ", and the cipher needs one");
        }
        if (at < 0) return fail(list, "");
        const bool cipher = list == SCP_OFFER_CIPHER_OUT || list == SCP_OFFER_CIPHER_IN;
        if (cipher && static_cast<std::size_t>(at) >= ours.acceptedCiphers)
            return fail(list, " above the warning line");
        agreed.names[list] = ours.lists[list][static_cast<std::size_t>(at)];
    }
    agreed.ok = true;
    return agreed;
}
