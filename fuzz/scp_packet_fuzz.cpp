// The upload library's session fed arbitrary server bytes: the version line,
// the packet layer and every message handler it reaches without keys. The
// first byte chooses where the input is split into two receives.
#include <cstddef>
#include <cstdint>

#include "scp/scp_mem.h"
#include "scp/scp_ssh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    scp_alloc_reset();
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
    scp_alloc_sweep();
    return 0;
}
