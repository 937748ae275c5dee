#include "scp/scp_rekey.h"

#include <chrono>

namespace {
std::int64_t scp_steady_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::uint64_t scp_rekey_limit(int blockBytes, bool streamCipher)
{
    if (streamCipher || blockBytes <= 0 || blockBytes >= 16) return kScpRekeyBytes;
    // 2^(2b) blocks of b bytes; b < 16 here, so the shift stays below 32.
    const std::uint64_t limit = static_cast<std::uint64_t>(blockBytes) << (2 * blockBytes);
    return limit < kScpRekeyBytes ? limit : kScpRekeyBytes;
}

void scp_rekey_start(ScpRekeyClock* clock, std::uint64_t limitOut, std::uint64_t limitIn)
{
    clock->bytesOut = 0;
    clock->bytesIn = 0;
    clock->limitOut = limitOut;
    clock->limitIn = limitIn;
    clock->dueMs = scp_steady_ms() + kScpRekeySeconds * 1000;
}

void scp_rekey_count(ScpRekeyClock* clock, bool outgoing, std::size_t bytes)
{
    (outgoing ? clock->bytesOut : clock->bytesIn) += bytes;
}

bool scp_rekey_due(const ScpRekeyClock* clock)
{
    if (clock->limitOut && clock->bytesOut >= clock->limitOut) return true;
    if (clock->limitIn && clock->bytesIn >= clock->limitIn) return true;
    return clock->dueMs != 0 && scp_steady_ms() >= clock->dueMs;
}
