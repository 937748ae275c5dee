// Pieces of the key exchange that are pure functions of their inputs (its
// hashing, shared with the upload engine, is in sshcore/exchange_hash.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sshcore/algorithms.h"
#include "sshcore/bignum.h"
#include "sshcore/digest.h"
#include "sshcore/exchange_hash.h"
#include "ssh2/packet.h"

// The group sizes of a group exchange, as the foundation computes them.
using sshcore::GroupExchangeBits;
using sshcore::GroupExchangeRequestBits;
