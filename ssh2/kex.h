// Pieces of the key exchange that are pure functions of their inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ssh2/crypto/bignum.h"
#include "ssh2/crypto/digest.h"
#include "ssh2/packet.h"

// Feeds SSH encodings to a running digest.
void HashUint32(sshcrypto::CDigest& hash, std::uint32_t value);
void HashString(sshcrypto::CDigest& hash, ByteView bytes);
void HashMpint(sshcrypto::CDigest& hash, const sshcrypto::CBigNum& value);

struct SExchangeHashInput {
    std::string clientVersion, serverVersion;
    std::vector<std::uint8_t> clientKexInit, serverKexInit, hostKey;
    bool groupExchange = false;
    std::uint32_t pbits = 0;
    sshcrypto::CBigNum p, g, e, f, k;
};
// H = SHA-1 of the fields in protocol order (p, g and pbits only for group
// exchange).
std::vector<std::uint8_t> ExchangeHash(const SExchangeHashInput& in);

// 40 bytes of key material for `letter` ('A' to 'F'):
// K1 = SHA-1(mpint K, H, letter, session id), K2 = SHA-1(mpint K, H, K1).
std::vector<std::uint8_t> DeriveKey(const sshcrypto::CBigNum& k, ByteView h, char letter, ByteView sessionId);

// Bits of the group asked for in a group exchange, from the cipher's key
// bits (capped at 160): 512 << ((nbits - 1) / 64).
std::uint32_t GroupExchangeBits(std::size_t cipherKeyBits);
