// The SSH-2 binary packet layer of the upload library: assembling incoming
// packets from arbitrary pieces of the byte stream, and building outgoing
// ones (compression, padding, MAC, encryption).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "scp/scp_store.h"

// The largest packet length accepted from the peer.
constexpr std::uint32_t kScpMaxPacket = 35000;
// The largest payload after decompression.
constexpr std::size_t kScpMaxPayload = 256 * 1024;

struct ScpPacketIn {
    ScpCipher cipher;
    ScpMac mac;
    ScpZlib zlib;
    std::uint32_t seq;
    ScpBuf packet;        // decrypted bytes of the packet being assembled
    std::size_t total;    // 4 + packet length once the first block is in
    ScpBuf payload;       // the last complete payload
    std::uint32_t payloadSeq;
};

struct ScpPacketOut {
    ScpCipher cipher;
    ScpMac mac;
    ScpZlib zlib;
    std::uint32_t seq;
    ScpBuf scratch;
    ScpBuf carry;  // compressor output not yet sent (from a level switch)
};

// Takes what it can of in (consuming those bytes). *got tells whether a
// complete payload is now in pin->payload. Returns 0 or a code (16 for a
// malformed packet or MAC failure, 18 out of memory).
int scp_packet_take(ScpPacketIn* pin, ScpBuf* in, bool* got);
// Appends the wire form of payload to wire.
int scp_packet_build(ScpPacketOut* pout, ScpRandomPool* pool, const std::uint8_t* payload, std::size_t len,
                     ScpBuf* wire);
// The wire length scp_packet_build gives a payload of len bytes while no
// compression is on.
std::size_t scp_packet_wire_len(const ScpPacketOut* pout, std::size_t len);
void scp_packet_in_free(ScpPacketIn* pin);
void scp_packet_out_free(ScpPacketOut* pout);
