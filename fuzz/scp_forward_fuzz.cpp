// The upload library's answers to a forwarded connection's opening, as a
// jump host sends them: confirmation or refusal (reason code and the
// server's text), then channel messages. The input is a sequence of
// messages, each a 16-bit length and the message.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scp/scp_mem.h"
#include "scp/scp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const CScpLocalArena arena;
    SessionConfig cfg;
    scp_session_config_defaults(&cfg);
    std::strcpy(cfg.forwardHost, "10.0.0.2");
    cfg.forwardPort = 22;
    ScpSession* s = nullptr;
    ScpBuf capture{};
    if (scp_session_create_detached(&s, &cfg, &capture) != 0) return 0;
    s->firstKexDone = true;
    if (scp_open_channel(s) == SCP_OK) {
        std::size_t at = 0;
        while (size - at >= 2) {
            const std::size_t len = static_cast<std::size_t>(data[at]) << 8 | data[at + 1];
            at += 2;
            if (len == 0 || size - at < len) break;
            const std::uint8_t* message = data + at;
            at += len;
            if (scp_handle_channel_state(s, message[0], message, len) != SCP_OK) break;
        }
    }
    scp_ssh_backend.release(s);
    scp_buf_free(&capture);
    return 0;
}
