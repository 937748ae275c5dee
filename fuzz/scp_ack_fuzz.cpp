// The scp sink's answers: acknowledgement bytes and message lines, read from
// the channel data stream until it ends or a read fails.
#include <cstddef>
#include <cstdint>

#include "scp/scp_job.h"
#include "scp/scp_mem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // What this input leaves behind goes with its own arena.
    const CScpLocalArena arena;
    ScpJobOptions options{};
    JobInfo* job = nullptr;
    if (scp_job_create(&job, &options) == 0) {
        // Half of the input arrives as channel data while a read waits.
        std::uint8_t first[16];
        const std::size_t half = size / 2;
        job->recvBuffer = first;
        job->recvWanted = half < sizeof first ? half : sizeof first;
        scp_job_receive(job, data, half, false);
        job->recvBuffer = nullptr;
        job->recvWanted = 0;
        scp_job_receive(job, data + half, size - half, false);
        for (int i = 0; i < 64 && job->pending.len > 0; ++i)
            if (read_ack(job) != 0 && job->pending.len == 0) break;
        scp_job_destroy(job);
    }
    return 0;
}
