// When the upload library's session asks for new keys itself: after 1 GiB
// in either direction, after an hour, or earlier when a cipher's block
// size needs it (a b-byte block cipher gets new keys after 2^(2b) blocks:
// 512 KiB for the 64-bit block ciphers).
#pragma once

#include <cstddef>
#include <cstdint>


constexpr std::uint64_t kScpRekeyBytes = 1ull << 30;
constexpr long long kScpRekeySeconds = 3600;

struct ScpRekeyClock {
    std::uint64_t bytesOut;
    std::uint64_t bytesIn;
    std::uint64_t limitOut;
    std::uint64_t limitIn;
    // The steady clock's milliseconds when the keys are an hour old (0 while
    // the clock is not started): the record lives in zeroed plain memory.
    std::int64_t dueMs;
};

// The byte limit of one direction under a cipher whose block is blockBytes
// (the padding multiple; 8 or less for stream and 64-bit block ciphers is
// judged by streamCipher).
std::uint64_t scp_rekey_limit(int blockBytes, bool streamCipher);
// Starts counting afresh, for keys just taken into use.
void scp_rekey_start(ScpRekeyClock* clock, std::uint64_t limitOut, std::uint64_t limitIn);
// Counts bytes sent or received under the current keys.
void scp_rekey_count(ScpRekeyClock* clock, bool outgoing, std::size_t bytes);
// Whether new keys are due now.
bool scp_rekey_due(const ScpRekeyClock* clock);

// For tests only: the clock that tells the keys' age, in milliseconds of a
// steady clock (null restores the steady clock), and a byte limit for keys
// taken into use from now on (0 restores kScpRekeyBytes).
using ScpRekeyNowMs = std::int64_t (*)();
void scp_rekey_set_clock_for_testing(ScpRekeyNowMs now);
void scp_rekey_set_bytes_for_testing(std::uint64_t bytes);
