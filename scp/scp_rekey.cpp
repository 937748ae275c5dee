#include "scp/scp_rekey.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<ScpRekeyNowMs> g_clockForTesting{nullptr};
std::atomic<std::uint64_t> g_bytesForTesting{0};

std::int64_t scp_steady_ms()
{
    if (const ScpRekeyNowMs now = g_clockForTesting.load()) return now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::uint64_t scp_rekey_limit(int blockBytes, bool streamCipher)
{
    const std::uint64_t lowered = g_bytesForTesting.load();
    const std::uint64_t bytes = lowered ? lowered : kScpRekeyBytes;
    if (streamCipher || blockBytes <= 0 || blockBytes >= 16) return bytes;
    // 2^(2b) blocks of b bytes; b < 16 here, so the shift stays below 32.
    const std::uint64_t limit = static_cast<std::uint64_t>(blockBytes) << (2 * blockBytes);
    return limit < bytes ? limit : bytes;
}

void scp_rekey_set_clock_for_testing(ScpRekeyNowMs now) { g_clockForTesting = now; }
void scp_rekey_set_bytes_for_testing(std::uint64_t bytes) { g_bytesForTesting = bytes; }

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
