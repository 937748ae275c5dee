// Negotiation: for each list, the first of our names that the server lists.
// A block cipher never runs without a MAC, whatever the two offers say.
#include "sshcore/negotiate.h"

#include <algorithm>

#include "sshcore/algorithms.h"
#include "sshcore/reader.h"

namespace sshcore {
namespace {

// The server's list as shown in an error detail (cut, as it is untrusted).
std::string ShownList(const std::vector<std::string>& names)
{
    constexpr std::size_t kShown = 160;
    std::string text = JoinNameList(names);
    if (text.size() > kShown) text = text.substr(0, kShown) + "...";
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return text.empty() ? "nothing" : text;
}

// Index in ours of the first name the server lists, or -1.
long FirstCommon(const std::vector<std::string>& ours, const std::vector<std::string>& theirs,
                 bool (*skip)(const std::string&))
{
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (skip && skip(ours[i])) continue;
        if (std::find(theirs.begin(), theirs.end(), ours[i]) != theirs.end()) return static_cast<long>(i);
    }
    return -1;
}

bool IsMarker(const std::string& name) { return name.rfind("kex-strict-", 0) == 0 || name.rfind("ext-info-", 0) == 0; }
bool IsNoMac(const std::string& name) { return name == "none"; }

const char* const kWhat[OFFER_COUNT] = {
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

bool CipherNameIsAead(std::string_view name)
{
    const SCipherAlgorithm* cipher = FindCipherAlgorithm(name);
    return cipher && IsAead(*cipher);
}

SKexAgreement Negotiate(const SKexOffer& ours, const SKexOffer& theirs)
{
    SKexAgreement agreed;
    const auto fail = [&](int list, const char* why) {
        agreed.ok = false;
        agreed.failure = std::string("no common ") + kWhat[list] + why + " (the server offers " +
                         ShownList(theirs.lists[list]) + "): the connection was stopped";
        return agreed;
    };
    for (int list = OFFER_KEX; list < OFFER_COUNT; ++list) {
        const bool mac = list == OFFER_MAC_OUT || list == OFFER_MAC_IN;
        long at = FirstCommon(ours.lists[list], theirs.lists[list], list == OFFER_KEX ? IsMarker : nullptr);
        if (mac) {
            const std::string& cipher = agreed.names[list == OFFER_MAC_OUT ? OFFER_CIPHER_OUT : OFFER_CIPHER_IN];
            if (CipherNameIsAead(cipher)) {
                agreed.names[list] = at < 0 ? "none" : ours.lists[list][static_cast<std::size_t>(at)];
                continue;
            }
            // A block cipher needs integrity: "none" is never agreed for it.
            at = FirstCommon(ours.lists[list], theirs.lists[list], IsNoMac);
            if (at < 0) return fail(list, ", and the cipher needs one");
        }
        if (at < 0) return fail(list, "");
        const bool cipher = list == OFFER_CIPHER_OUT || list == OFFER_CIPHER_IN;
        if (cipher && static_cast<std::size_t>(at) >= ours.acceptedCiphers)
            return fail(list, " above the warning line");
        agreed.names[list] = ours.lists[list][static_cast<std::size_t>(at)];
    }
    agreed.ok = true;
    return agreed;
}

std::vector<std::uint8_t> KexInitBody(ByteView cookie, const SKexOffer& offer)
{
    std::vector<std::uint8_t> body(cookie.begin(), cookie.end());
    for (const std::vector<std::string>& list : offer.lists) AppendString(body, JoinNameList(list));
    AppendString(body, std::string_view());  // languages, both ways
    AppendString(body, std::string_view());
    body.push_back(0);  // no guessed packet follows
    AppendUint32(body, 0);
    return body;
}

bool GuessWasRight(const SKexOffer& ours, const SKexOffer& theirs)
{
    for (const EOfferList list : {OFFER_KEX, OFFER_HOSTKEY}) {
        const std::vector<std::string>& a = ours.lists[list];
        const std::vector<std::string>& b = theirs.lists[list];
        if (a.empty() || b.empty() || a.front() != b.front()) return false;
    }
    return true;
}

bool ParseKexInit(ByteView payload, SKexOffer& theirs, bool& guessFollows)
{
    CSshReader r(payload);
    if (r.GetByte() != 20) return false;
    r.GetRaw(16);
    for (std::vector<std::string>& list : theirs.lists) list = SplitNameList(AsText(r.GetString(kMaxNameList)));
    r.GetString(kMaxNameList);
    r.GetString(kMaxNameList);
    guessFollows = r.GetBool();
    r.GetUint32();
    return r.Ok();
}

} // namespace sshcore
