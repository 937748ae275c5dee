// Agreeing on the algorithms of a key exchange: a pure function from our
// offer and the server's offer to the algorithm used in each direction.
// Both engines agree through it.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/reader.h"

// The name lists of a KEXINIT, in their wire order ("out" is client to
// server).
namespace sshcore {

enum EOfferList {
    OFFER_KEX = 0,
    OFFER_HOSTKEY,
    OFFER_CIPHER_OUT,
    OFFER_CIPHER_IN,
    OFFER_MAC_OUT,
    OFFER_MAC_IN,
    OFFER_COMP_OUT,
    OFFER_COMP_IN,
    OFFER_COUNT
};

struct SKexOffer {
    std::array<std::vector<std::string>, OFFER_COUNT> lists;
    // Our offer only: a cipher at this position of our cipher lists or later
    // is offered but never agreed (the user asked to be warned about it).
    std::size_t acceptedCiphers = static_cast<std::size_t>(-1);
};

struct SKexAgreement {
    bool ok = false;
    // The agreed names; the MAC of an authenticated cipher is the common
    // MAC when there is one and "none" otherwise (it is not used).
    std::array<std::string, OFFER_COUNT> names;
    // When !ok: what could not be agreed, in words, for the error detail.
    std::string failure;
};

// Whether the cipher of that name authenticates its packets itself.
bool CipherNameIsAead(std::string_view name);

SKexAgreement Negotiate(const SKexOffer& ours, const SKexOffer& theirs);

// Whether the key-exchange packet a peer guessed and sent right after its
// KEXINIT is one to use: only when both sides put the same key exchange and
// the same host-key algorithm first. A wrong guess is dropped unread.
bool GuessWasRight(const SKexOffer& ours, const SKexOffer& theirs);

// The longest name-list taken from a server's KEXINIT.
constexpr std::size_t kMaxNameList = 8192;

// A KEXINIT after its type byte: the 16-byte cookie, our lists, empty
// language lists, no guessed packet.
std::vector<std::uint8_t> KexInitBody(ByteView cookie, const SKexOffer& offer);
// The lists of a server's KEXINIT (the whole payload, type byte first) and
// whether it sends a guessed packet after it; false when it is malformed.
bool ParseKexInit(ByteView payload, SKexOffer& theirs, bool& guessFollows);

} // namespace sshcore
