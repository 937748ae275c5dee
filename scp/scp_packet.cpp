#include "scp/scp_packet.h"

#include <cstring>

#include <openssl/crypto.h>

namespace {
std::size_t scp_block_size(const ScpCipher* cipher)
{
    const int b = cipher->info ? cipher->info->blockSize : 0;
    return b > 8 ? static_cast<std::size_t>(b) : 8;
}
}  // namespace

int scp_packet_take(ScpPacketIn* pin, ScpBuf* in, bool* got)
{
    *got = false;
    const std::size_t block = scp_block_size(&pin->cipher);
    int rc = 0;
    if (pin->total == 0) {
        if (in->len < block) return 0;
        pin->packet.len = 0;
        if ((rc = scp_buf_put(&pin->packet, in->data, block)) != 0) return rc;
        scp_buf_consume(in, block);
        if ((rc = scp_cipher_run(&pin->cipher, pin->packet.data, block)) != 0) return rc;
        const std::uint32_t length = scp_load_u32(pin->packet.data);
        // Refused before anything is allocated for it.
        if (length < 5 || length > kScpMaxPacket) return 16;
        if ((4 + static_cast<std::size_t>(length)) % block != 0 && pin->cipher.info) return 16;
        if (4 + static_cast<std::size_t>(length) < block) return 16;
        pin->total = 4 + static_cast<std::size_t>(length);
    }
    const std::size_t rest = pin->total - block;
    const std::size_t macLen = pin->mac.len;
    if (in->len - 0 < rest + macLen) return 0;
    if ((rc = scp_buf_put(&pin->packet, in->data, rest)) != 0) return rc;
    if ((rc = scp_cipher_run(&pin->cipher, pin->packet.data + block, rest)) != 0) return rc;
    if (macLen) {
        std::uint8_t expected[64];
        if ((rc = scp_mac_compute(&pin->mac, pin->seq, pin->packet.data, pin->total, expected)) != 0) return rc;
        if (CRYPTO_memcmp(expected, in->data + rest, macLen) != 0) return 16;
    }
    scp_buf_consume(in, rest + macLen);
    const std::uint8_t padding = pin->packet.data[4];
    const std::size_t length = pin->total - 4;
    if (static_cast<std::size_t>(padding) + 1 >= length) return 16;  // leaves no payload
    const std::uint8_t* body = pin->packet.data + 5;
    const std::size_t bodyLen = length - 1 - padding;
    pin->payload.len = 0;
    if (pin->zlib.stream) rc = scp_zlib_run(&pin->zlib, body, bodyLen, &pin->payload, kScpMaxPayload);
    else rc = scp_buf_put(&pin->payload, body, bodyLen);
    if (rc) return rc;
    if (pin->payload.len == 0) return 16;
    pin->payloadSeq = pin->seq++;
    pin->total = 0;
    *got = true;
    return 0;
}

int scp_packet_build(ScpPacketOut* pout, ScpRandomPool* pool, const std::uint8_t* payload, std::size_t len,
                     ScpBuf* wire)
{
    int rc = 0;
    const std::uint8_t* body = payload;
    std::size_t bodyLen = len;
    if (pout->zlib.stream) {
        pout->scratch.len = 0;
        if (pout->carry.len) {
            if ((rc = scp_buf_put(&pout->scratch, pout->carry.data, pout->carry.len)) != 0) return rc;
            pout->carry.len = 0;
        }
        if ((rc = scp_zlib_run(&pout->zlib, payload, len, &pout->scratch, SIZE_MAX)) != 0) return rc;
        body = pout->scratch.data;
        bodyLen = pout->scratch.len;
    }
    const std::size_t block = scp_block_size(&pout->cipher);
    // Fewest bytes of padding, at least 4, that make the packet a multiple
    // of the block size.
    std::size_t padding = block - ((5 + bodyLen) % block);
    if (padding < 4) padding += block;
    const std::size_t total = 5 + bodyLen + padding;
    if (total > 0x7fffffff) return 17;
    if ((rc = scp_buf_reserve(wire, total + pout->mac.len)) != 0) return rc;
    std::uint8_t* p = wire->data + wire->len;
    scp_store_u32(p, static_cast<std::uint32_t>(total - 4));
    p[4] = static_cast<std::uint8_t>(padding);
    std::memcpy(p + 5, body, bodyLen);
    scp_random_bytes(pool, p + 5 + bodyLen, padding);
    if (pout->mac.len && (rc = scp_mac_compute(&pout->mac, pout->seq, p, total, p + total)) != 0) return rc;
    if ((rc = scp_cipher_run(&pout->cipher, p, total)) != 0) return rc;
    wire->len += total + pout->mac.len;
    ++pout->seq;
    return 0;
}

void scp_packet_in_free(ScpPacketIn* pin)
{
    scp_cipher_end(&pin->cipher);
    scp_mac_end(&pin->mac);
    scp_zlib_end(&pin->zlib);
    scp_buf_wipe(&pin->packet);
    scp_buf_wipe(&pin->payload);
    pin->total = 0;
}

void scp_packet_out_free(ScpPacketOut* pout)
{
    scp_cipher_end(&pout->cipher);
    scp_mac_end(&pout->mac);
    scp_zlib_end(&pout->zlib);
    scp_buf_wipe(&pout->scratch);
    scp_buf_free(&pout->carry);
}
