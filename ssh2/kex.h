// Pieces of the key exchange that are pure functions of their inputs (its
// hashing, shared with the upload engine, is in sshcore/exchange_hash.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sshcore/bignum.h"
#include "sshcore/digest.h"
#include "sshcore/exchange_hash.h"
#include "ssh2/packet.h"

// Bits of the group asked for in the old group exchange, from the cipher's
// key bits (capped at 160): 512 << ((nbits - 1) / 64).
std::uint32_t GroupExchangeBits(std::size_t cipherKeyBits);
// The preferred group size n of diffie-hellman-group-exchange-sha256 (our
// choice): 3072 bits for keys of up to 128 bits, 7680 up to 192, else 8192.
std::uint32_t GroupExchangeRequestBits(std::size_t cipherKeyBits);
