// SFTP replies as the upload reads them.
#include <cstddef>
#include <cstdint>

#include "scp/scp_sftp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ScpSftpReply reply;
    if (scp_sftp_parse_reply(data, size, &reply) == 0 && reply.type == SSH_FXP_HANDLE && reply.handleLen) {
        // The handle points into the input.
        volatile std::uint8_t last = reply.handle[reply.handleLen - 1];
        (void)last;
    }
    scp_sftp_status_code(reply.status);
    return 0;
}
