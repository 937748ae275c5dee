// The upload library's session fed arbitrary server bytes: the version line,
// the packet layer and every message handler it reaches without keys. The
// first byte chooses where the input is split into two receives.
//
// The same bytes then go to a receiving packet layer with fixed keys in one
// of the keyed forms (first byte modulo the number of forms): GCM,
// chacha20-poly1305, CTR with encrypt-then-MAC, CBC with a SHA-2 MAC,
// optionally with decompression.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "scp/scp_packet.h"
#include "scp/scp_ssh.h"

namespace {

struct KeyedForm {
    const char* cipher;
    int mac;
    bool zlib;
};
const KeyedForm kForms[] = {
    {"aes256-gcm@openssh.com", SCP_MAC_NONE, false},   {"chacha20-poly1305@openssh.com", SCP_MAC_NONE, false},
    {"aes128-ctr", SCP_MAC_SHA256_ETM, false},         {"aes256-ctr", SCP_MAC_SHA512_ETM, false},
    {"aes128-cbc", SCP_MAC_SHA256, false},             {nullptr, SCP_MAC_SHA256_ETM, false},
    {"aes128-gcm@openssh.com", SCP_MAC_NONE, true},    {"chacha20-poly1305@openssh.com", SCP_MAC_NONE, true},
};

void FeedKeyedPackets(std::uint8_t selector, const std::uint8_t* data, std::size_t size)
{
    const KeyedForm& form = kForms[selector % (sizeof kForms / sizeof kForms[0])];
    std::uint8_t key[64], iv[64], mackey[64];
    for (int i = 0; i < 64; ++i) {
        key[i] = static_cast<std::uint8_t>(i);
        iv[i] = static_cast<std::uint8_t>(100 + i);
        mackey[i] = static_cast<std::uint8_t>(200 + i);
    }
    ScpPacketIn in{};
    const ScpCipherInfo* info = form.cipher ? scp_cipher_by_name(form.cipher, std::strlen(form.cipher)) : nullptr;
    int rc = info ? scp_cipher_start(&in.cipher, info, key, iv, false) : 0;
    if (!rc) rc = scp_mac_start(&in.mac, form.mac, mackey, scp_mac_key_len(form.mac));
    if (!rc && form.zlib) rc = scp_zlib_start(&in.zlib, false);
    ScpBuf buf{};
    if (!rc) rc = scp_buf_put(&buf, data, size);
    for (bool got = true; !rc && got;) rc = scp_packet_take(&in, &buf, &got);
    scp_buf_free(&buf);
    scp_packet_in_free(&in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    // What this input leaves behind goes with its own arena.
    const CScpLocalArena arena;
    SessionConfig cfg;
    scp_session_config_defaults(&cfg);
    cfg.compression = data[0] & 1;
    ScpSession* session = nullptr;
    ScpBuf capture{};
    if (scp_session_create_detached(&session, &cfg, &capture) == 0) {
        const std::size_t split = size > 1 ? data[0] % size : 0;
        if (scp_session_feed(session, data + 1, split > 0 ? split - 1 : 0) == 0 && split > 0)
            scp_session_feed(session, data + split, size - split);
        scp_ssh_backend.release(session);
    }
    scp_buf_free(&capture);
    FeedKeyedPackets(data[0], data + 1, size - 1);
    return 0;
}
