// The SFTP server's VERSION packet and its limits reply, as the upload reads
// them before the first write. The first byte picks the parser.
#include <cstddef>
#include <cstdint>

#include "scp/scp_sftp_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    if (data[0] & 1) {
        ScpSftpVersion version;
        scp_sftp_parse_version(data + 1, size - 1, &version);
    } else {
        ScpSftpLimits limits;
        if (scp_sftp_parse_limits(data + 1, size - 1, 9, &limits) == 0) {
            const ScpSftpPlan plan = scp_sftp_plan(0, &limits);
            if (plan.writeLength == 0 || plan.writeLength > kScpSftpLargestWrite) __builtin_trap();
        }
    }
    return 0;
}
