// The upload library's login messages from the server, fed to a session
// without a socket that waits in the login: EXT_INFO, and the replies to
// the password, keyboard-interactive and key requests (failure lists,
// keyboard-interactive questions). The first byte chooses what the session
// waits for; the rest is a sequence of messages, each a 16-bit length and
// the message.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scp/scp_mem.h"
#include "scp/scp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    // What this input leaves behind goes with its own arena.
    const CScpLocalArena arena;
    SessionConfig cfg;
    scp_session_config_defaults(&cfg);
    std::strcpy(cfg.user, "fuzz");
    std::strcpy(cfg.password, "secret");
    ScpSession* s = nullptr;
    ScpBuf capture{};
    if (scp_session_create_detached(&s, &cfg, &capture) != 0) return 0;
    static const int kWaits[] = {AUTH_WAIT_NONE, AUTH_WAIT_PK_QUERY, AUTH_WAIT_PK_SIGNED, AUTH_WAIT_PASSWORD,
                                 AUTH_WAIT_KBDINT};
    s->state = SCP_SS_AUTH;
    s->firstKexDone = true;
    s->authWait = kWaits[data[0] % (sizeof kWaits / sizeof kWaits[0])];
    s->kbdintAnswered = (data[0] & 0x80) != 0;
    std::size_t at = 1;
    while (size - at >= 2) {
        const std::size_t len = static_cast<std::size_t>(data[at]) << 8 | data[at + 1];
        at += 2;
        if (len == 0 || size - at < len) break;
        const std::uint8_t* message = data + at;
        at += len;
        const int rc = message[0] == MSG_EXT_INFO ? scp_handle_ext_info(s, message, len)
                                                  : scp_handle_auth(s, message[0], message, len);
        if (rc != SCP_OK || s->state != SCP_SS_AUTH) break;
    }
    scp_ssh_backend.release(s);
    scp_buf_free(&capture);
    return 0;
}
