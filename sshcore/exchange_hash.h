// The key exchange's hashing, which both SSH engines share: SSH encodings
// fed to a running digest, the exchange hash H, and the session keys derived
// from K and H.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sshcore/bignum.h"
#include "sshcore/digest.h"
#include "sshcore/reader.h"

// Feeds SSH encodings to a running digest.
void HashUint32(sshcore::CDigest& hash, std::uint32_t value);
void HashString(sshcore::CDigest& hash, ByteView bytes);
void HashMpint(sshcore::CDigest& hash, const sshcore::CBigNum& value);

struct SExchangeHashInput {
    sshcore::EDigest hash = sshcore::EDigest::Sha1;
    std::string clientVersion, serverVersion;
    std::vector<std::uint8_t> clientKexInit, serverKexInit, hostKey;
    // Group exchange: the old request carries pbits alone, the current one
    // min, n and max.
    bool groupExchange = false;
    bool groupRange = false;
    std::uint32_t pbits = 0;
    std::uint32_t minBits = 0, maxBits = 0;
    // Elliptic-curve exchanges hash the two public values as strings in
    // place of e and f.
    bool ecdh = false;
    std::vector<std::uint8_t> clientPublic, serverPublic;
    sshcore::CBigNum p, g, e, f, k;
};
// H = the kex method's hash of the fields in protocol order (the group's
// request, p and g only for group exchange).
std::vector<std::uint8_t> ExchangeHash(const SExchangeHashInput& in);
// Every field of H but the last, the shared secret K: for a caller that
// holds K already encoded.
void HashExchangeFields(sshcore::CDigest& hash, const SExchangeHashInput& in);

// 40 bytes of key material for `letter` ('A' to 'F'):
// K1 = SHA-1(mpint K, H, letter, session id), K2 = SHA-1(mpint K, H, K1).
std::vector<std::uint8_t> DeriveKey(const sshcore::CBigNum& k, ByteView h, char letter, ByteView sessionId);
// `length` bytes with the kex method's hash: K1 = HASH(K || H || letter ||
// session id), K(n+1) = HASH(K || H || K1 || ... || Kn), concatenated.
std::vector<std::uint8_t> DeriveKey(sshcore::EDigest hash, const sshcore::CBigNum& k, ByteView h, char letter,
                                    ByteView sessionId, std::size_t length);
// The same with K as it is hashed (its mpint with the length); empty leaves
// K out, as some old servers do.
std::vector<std::uint8_t> DeriveKeyFromEncoded(sshcore::EDigest hash, ByteView encodedK, ByteView h, char letter,
                                               ByteView sessionId, std::size_t length);
