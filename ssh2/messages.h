// Parsers of the messages the client reads from a server. Each takes the
// whole payload (type byte first), checks every length against what is
// there, and returns false on any malformed or truncated field.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sshcore/bignum.h"
#include "sshcore/negotiate.h"
#include "ssh2/packet.h"

// Longest name-list, text or host key/signature blob accepted from a server.
using sshcore::kMaxNameList;
constexpr std::size_t kMaxBlob = 8192;
// The longest signal name taken from an "exit-signal" request.
constexpr std::size_t kMaxSignalName = 64;
// Largest DH modulus accepted (bytes of its mpint): 8,192 bits.
constexpr std::size_t kMaxDhBytes = 1025;

struct SDhGroup {
    sshcore::CBigNum p, g;
};
bool ParseDhGroup(ByteView payload, SDhGroup& out);

// KEXDH_REPLY and KEX_DH_GEX_REPLY.
struct SKexDhReply {
    ByteView hostKey;
    sshcore::CBigNum f;
    ByteView signature;
};
bool ParseKexDhReply(ByteView payload, SKexDhReply& out);

// KEX_ECDH_REPLY (curve25519 and ECDH): the server's ephemeral public value
// as a string.
constexpr std::size_t kMaxEcdhPublic = 256;
struct SKexEcdhReply {
    ByteView hostKey;
    ByteView serverPublic;
    ByteView signature;
};
bool ParseKexEcdhReply(ByteView payload, SKexEcdhReply& out);

struct SUserauthFailure {
    std::string methods;
    bool partialSuccess = false;
};
bool ParseUserauthFailure(ByteView payload, SUserauthFailure& out);

struct SChannelOpenConfirmation {
    std::uint32_t recipient = 0, sender = 0, window = 0, maxPacket = 0;
};
bool ParseChannelOpenConfirmation(ByteView payload, SChannelOpenConfirmation& out);

// CHANNEL_DATA (dataType 0) and CHANNEL_EXTENDED_DATA.
struct SChannelData {
    std::uint32_t recipient = 0;
    std::uint32_t dataType = 0;
    ByteView data;
};
bool ParseChannelData(ByteView payload, SChannelData& out);

struct SChannelRequest {
    std::uint32_t recipient = 0;
    std::string name;
    bool wantReply = false;
    bool hasExitStatus = false;
    std::uint32_t exitStatus = 0;
    // "exit-signal": the signal's name without "SIG" ("KILL").
    bool hasExitSignal = false;
    std::string exitSignal;
};
bool ParseChannelRequest(ByteView payload, SChannelRequest& out);

// Messages that carry only a recipient channel (EOF, CLOSE, SUCCESS, ...).
bool ParseChannelRecipient(ByteView payload, std::uint32_t& recipient);

struct SDisconnect {
    std::uint32_t reason = 0;
    std::string description;
};
bool ParseDisconnect(ByteView payload, SDisconnect& out);
