#include "scp/scp_packet.h"

#include <cstring>

#include "scp/scp.h"
#include "sshcore/digest.h"

namespace {
std::size_t scp_block_size(const ScpCipher* cipher)
{
    const int b = cipher->info ? cipher->info->blockSize : 0;
    return b > 8 ? static_cast<std::size_t>(b) : 8;
}
}  // namespace

namespace {
// After the packet (its length in clear in the first four bytes) has been
// decrypted and checked: the payload, decompressed when a stream is on.
int scp_packet_finish(ScpPacketIn* pin, bool* got)
{
    const std::uint8_t padding = pin->packet.data[4];
    const std::size_t length = pin->total - 4;
    if (static_cast<std::size_t>(padding) + 1 >= length) return SCP_E_RECEIVE;  // leaves no payload
    const std::uint8_t* body = pin->packet.data + 5;
    const std::size_t bodyLen = length - 1 - padding;
    pin->payload.len = 0;
    int rc = SCP_OK;
    if (pin->zlib.stream) rc = scp_zlib_run(&pin->zlib, body, bodyLen, &pin->payload, kScpMaxPayload);
    else rc = scp_buf_put(&pin->payload, body, bodyLen);
    if (rc) return rc;
    if (pin->payload.len == 0) return SCP_E_RECEIVE;
    pin->payloadSeq = pin->seq++;
    pin->total = 0;
    *got = true;
    return SCP_OK;
}

// The packet length of the forms that send it apart from the encryption
// (encrypt-then-MAC, GCM, chacha20-poly1305): checked before anything is
// allocated; the rest of the packet must make up whole blocks.
int scp_packet_check_length(std::uint32_t length, std::size_t block)
{
    if (length < 8 || length > kScpMaxPacket) return SCP_E_RECEIVE;
    return length % block == 0 ? SCP_OK : SCP_E_RECEIVE;
}

// Encrypt-then-MAC and the authenticated ciphers: the whole packet and its
// MAC or tag are waited for, then checked before anything is decrypted.
int scp_packet_take_whole(ScpPacketIn* pin, ScpBuf* in, std::size_t block, bool* got)
{
    const std::size_t tagLen = scp_cipher_tag_len(&pin->cipher);
    int rc = SCP_OK;
    if (pin->total == 0) {
        if (in->len < 4) return SCP_OK;
        std::uint32_t length = 0;
        if ((rc = scp_cipher_peek_length(&pin->cipher, pin->seq, in->data, &length)) != 0) return rc;
        if ((rc = scp_packet_check_length(length, block)) != 0) return rc;
        pin->total = 4 + static_cast<std::size_t>(length);
    }
    const std::size_t check = tagLen ? tagLen : pin->mac.len;
    if (in->len < pin->total + check) return SCP_OK;
    pin->packet.len = 0;
    if ((rc = scp_buf_put(&pin->packet, in->data, pin->total)) != 0) return rc;
    const std::uint8_t* tag = in->data + pin->total;
    if (tagLen) {
        rc = scp_cipher_open(&pin->cipher, pin->seq, pin->packet.data, pin->total, tag);
    } else {
        std::uint8_t expected[64];
        rc = scp_mac_compute(&pin->mac, pin->seq, pin->packet.data, pin->total, expected);
        if (!rc && !sshcore::ConstantTimeEqual(expected, tag, check)) rc = SCP_E_RECEIVE;
        if (!rc) rc = scp_cipher_run(&pin->cipher, pin->packet.data + 4, pin->total - 4);
    }
    if (rc) return rc;
    scp_buf_consume(in, pin->total + check);
    return scp_packet_finish(pin, got);
}
}  // namespace

int scp_packet_take(ScpPacketIn* pin, ScpBuf* in, bool* got)
{
    *got = false;
    const std::size_t block = scp_block_size(&pin->cipher);
    if (scp_cipher_tag_len(&pin->cipher) || pin->mac.etm) return scp_packet_take_whole(pin, in, block, got);
    int rc = SCP_OK;
    if (pin->total == 0) {
        if (in->len < block) return SCP_OK;
        pin->packet.len = 0;
        if ((rc = scp_buf_put(&pin->packet, in->data, block)) != 0) return rc;
        scp_buf_consume(in, block);
        if ((rc = scp_cipher_run(&pin->cipher, pin->packet.data, block)) != 0) return rc;
        const std::uint32_t length = scp_load_u32(pin->packet.data);
        // Refused before anything is allocated for it.
        if (length < 5 || length > kScpMaxPacket) return SCP_E_RECEIVE;
        if ((4 + static_cast<std::size_t>(length)) % block != 0 && pin->cipher.info) return SCP_E_RECEIVE;
        if (4 + static_cast<std::size_t>(length) < block) return SCP_E_RECEIVE;
        pin->total = 4 + static_cast<std::size_t>(length);
    }
    const std::size_t rest = pin->total - block;
    const std::size_t macLen = pin->mac.len;
    if (in->len - 0 < rest + macLen) return SCP_OK;
    if ((rc = scp_buf_put(&pin->packet, in->data, rest)) != 0) return rc;
    if ((rc = scp_cipher_run(&pin->cipher, pin->packet.data + block, rest)) != 0) return rc;
    if (macLen) {
        std::uint8_t expected[64];
        if ((rc = scp_mac_compute(&pin->mac, pin->seq, pin->packet.data, pin->total, expected)) != 0) return rc;
        if (!sshcore::ConstantTimeEqual(expected, in->data + rest, macLen)) return SCP_E_RECEIVE;
    }
    scp_buf_consume(in, rest + macLen);
    return scp_packet_finish(pin, got);
}

namespace {
std::size_t scp_padding_len(const ScpPacketOut* pout, std::size_t bodyLen)
{
    const std::size_t block = scp_block_size(&pout->cipher);
    // Forms that send the length apart leave it out of the block multiple.
    const bool lengthApart = scp_cipher_tag_len(&pout->cipher) || pout->mac.etm;
    const std::size_t counted = lengthApart ? 1 + bodyLen : 5 + bodyLen;
    // Fewest bytes of padding, at least 4, that make the packet a multiple
    // of the block size.
    std::size_t padding = block - (counted % block);
    if (padding < 4) padding += block;
    return padding;
}
}  // namespace

std::size_t scp_packet_wire_len(const ScpPacketOut* pout, std::size_t len)
{
    const std::size_t tagLen = scp_cipher_tag_len(&pout->cipher);
    return 5 + len + scp_padding_len(pout, len) + (tagLen ? tagLen : pout->mac.len);
}

int scp_packet_build(ScpPacketOut* pout, ScpRandomPool* pool, const std::uint8_t* payload, std::size_t len,
                     ScpBuf* wire)
{
    int rc = SCP_OK;
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
    const std::size_t tagLen = scp_cipher_tag_len(&pout->cipher);
    const std::size_t padding = scp_padding_len(pout, bodyLen);
    const std::size_t total = 5 + bodyLen + padding;
    if (total > 0x7fffffff) return SCP_E_INTERNAL;
    const std::size_t check = tagLen ? tagLen : pout->mac.len;
    if ((rc = scp_buf_reserve(wire, total + check)) != 0) return rc;
    std::uint8_t* p = wire->data + wire->len;
    scp_store_u32(p, static_cast<std::uint32_t>(total - 4));
    p[4] = static_cast<std::uint8_t>(padding);
    std::memcpy(p + 5, body, bodyLen);
    scp_random_bytes(pool, p + 5 + bodyLen, padding);
    if (tagLen) {
        rc = scp_cipher_seal(&pout->cipher, pout->seq, p, total, p + total);
    } else if (pout->mac.etm) {
        rc = scp_cipher_run(&pout->cipher, p + 4, total - 4);
        if (!rc) rc = scp_mac_compute(&pout->mac, pout->seq, p, total, p + total);
    } else {
        if (pout->mac.len) rc = scp_mac_compute(&pout->mac, pout->seq, p, total, p + total);
        if (!rc) rc = scp_cipher_run(&pout->cipher, p, total);
    }
    if (rc) return rc;
    wire->len += total + check;
    ++pout->seq;
    return SCP_OK;
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
