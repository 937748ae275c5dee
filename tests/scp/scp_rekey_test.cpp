// When the session asks for new keys itself: byte limits per cipher block
// size, each direction on its own, and the hour.
#include <gtest/gtest.h>

#include "scp/scp_rekey.h"

namespace {

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

}  // namespace
