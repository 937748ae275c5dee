// When the session asks for new keys itself: byte limits per cipher block
// size (and lowered for tests), each direction on its own, and the hour.
#include <gtest/gtest.h>

#include "scp/scp_rekey.h"
#include "tests/support/shifted_clock.h"

namespace {

// The session's clock and byte limit as a test sets them, put back after.
struct TestRekeySettings {
    ShiftedClock clock;
    explicit TestRekeySettings(std::uint64_t bytes = 0)
    {
        scp_rekey_set_clock_for_testing(&ShiftedClock::NowMs);
        scp_rekey_set_bytes_for_testing(bytes);
    }
    ~TestRekeySettings()
    {
        scp_rekey_set_clock_for_testing(nullptr);
        scp_rekey_set_bytes_for_testing(0);
    }
};

TEST(ScpRekey, LimitsFollowTheCipherBlock)
{
    EXPECT_EQ(scp_rekey_limit(8, false), 512u * 1024) << "3des-cbc, blowfish-cbc: 2^16 blocks";
    EXPECT_EQ(scp_rekey_limit(16, false), kScpRekeyBytes) << "AES: 2^32 blocks is beyond 1 GiB";
    EXPECT_EQ(scp_rekey_limit(8, true), kScpRekeyBytes) << "chacha20-poly1305 pads to 8 but is a stream";
    EXPECT_EQ(scp_rekey_limit(0, false), kScpRekeyBytes);
    EXPECT_EQ(scp_rekey_limit(-3, false), kScpRekeyBytes);
    EXPECT_EQ(scp_rekey_limit(12, false), 12ull << 24);
    EXPECT_EQ(scp_rekey_limit(4, false), 4u << 8);
}

TEST(ScpRekey, EachDirectionCountsOnItsOwn)
{
    ScpRekeyClock clock{};
    scp_rekey_start(&clock, 1000, 5000);
    EXPECT_FALSE(scp_rekey_due(&clock));
    scp_rekey_count(&clock, true, 999);
    scp_rekey_count(&clock, false, 4999);
    EXPECT_FALSE(scp_rekey_due(&clock));
    scp_rekey_count(&clock, true, 1);
    EXPECT_TRUE(scp_rekey_due(&clock));
    // New keys: the counts start again.
    scp_rekey_start(&clock, 1000, 5000);
    EXPECT_FALSE(scp_rekey_due(&clock));
    scp_rekey_count(&clock, false, 5000);
    EXPECT_TRUE(scp_rekey_due(&clock));
    // A clock never started (before the first keys) asks for nothing.
    ScpRekeyClock idle{};
    scp_rekey_count(&idle, true, 1u << 30);
    EXPECT_FALSE(scp_rekey_due(&idle));
}

TEST(ScpRekey, KeysAnHourOldAreDueAndNewKeysStartTheirOwnHour)
{
    using std::chrono::seconds;
    const TestRekeySettings settings;
    ScpRekeyClock clock{};
    scp_rekey_start(&clock, kScpRekeyBytes, kScpRekeyBytes);
    ShiftedClock::Advance(seconds(kScpRekeySeconds - 1));
    EXPECT_FALSE(scp_rekey_due(&clock));
    ShiftedClock::Advance(seconds(1));
    EXPECT_TRUE(scp_rekey_due(&clock));
    scp_rekey_start(&clock, kScpRekeyBytes, kScpRekeyBytes);
    EXPECT_FALSE(scp_rekey_due(&clock));
    ShiftedClock::Advance(seconds(kScpRekeySeconds - 1));
    EXPECT_FALSE(scp_rekey_due(&clock));
    ShiftedClock::Advance(seconds(1));
    EXPECT_TRUE(scp_rekey_due(&clock));
    // A clock never started has no age either.
    ScpRekeyClock idle{};
    ShiftedClock::Advance(seconds(10 * kScpRekeySeconds));
    EXPECT_FALSE(scp_rekey_due(&idle));
}

TEST(ScpRekey, ALoweredByteLimitCapsEveryCipherAndASmallerBlockLimitStays)
{
    const TestRekeySettings settings(64 * 1024);
    EXPECT_EQ(scp_rekey_limit(16, false), 64u * 1024);
    EXPECT_EQ(scp_rekey_limit(8, true), 64u * 1024);
    EXPECT_EQ(scp_rekey_limit(4, false), 4u << 8) << "a smaller block limit stays";
    scp_rekey_set_bytes_for_testing(4ull << 30);
    EXPECT_EQ(scp_rekey_limit(8, false), 512u * 1024) << "64-bit blocks whatever the setting";
}

}  // namespace
