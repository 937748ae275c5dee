// Agreeing on the algorithms of a key exchange: a pure function from our
// offer and the server's offer to the algorithm used in each direction.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The name lists of a KEXINIT, in their wire order ("out" is client to
// server).
enum EScpOfferList {
    SCP_OFFER_KEX = 0,
    SCP_OFFER_HOSTKEY,
    SCP_OFFER_CIPHER_OUT,
    SCP_OFFER_CIPHER_IN,
    SCP_OFFER_MAC_OUT,
    SCP_OFFER_MAC_IN,
    SCP_OFFER_COMP_OUT,
    SCP_OFFER_COMP_IN,
    SCP_OFFER_COUNT
};

struct ScpOffer {
    std::array<std::vector<std::string>, SCP_OFFER_COUNT> lists;
    // Our offer only: a cipher at this position of our cipher lists or later
    // is offered but never agreed (the user asked to be warned about it).
    std::size_t acceptedCiphers = static_cast<std::size_t>(-1);
};

struct ScpAgreement {
    bool ok = false;
    // The agreed names; the MAC of an authenticated cipher is the common
    // MAC when there is one and "none" otherwise (it is not used).
    std::array<std::string, SCP_OFFER_COUNT> names;
    // When !ok: what could not be agreed, in words, for the error detail.
    std::string failure;
};

// Whether the cipher of that name authenticates its packets itself.
bool scp_cipher_name_is_aead(std::string_view name);

ScpAgreement scp_negotiate(const ScpOffer& ours, const ScpOffer& theirs);
