// The upload library's arenas: each block belongs to the arena current when
// it was allocated, whatever is current when it is resized or freed; what
// an owner leaves behind goes with its arena; threads and owners share
// neither blocks nor counts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "scp/scp_job.h"
#include "scp/scp_mem.h"

namespace {

TEST(ScpArena, ABlockStaysWithTheArenaItWasMadeIn)
{
    ScpArena a{}, b{};
    scp_arena_init(&a);
    scp_arena_init(&b);
    void* first = nullptr;
    void* second = nullptr;
    {
        const CScpArenaScope inA(&a);
        first = scp_alloc(100);
        second = scp_alloc(20);
        ASSERT_TRUE(first && second);
        EXPECT_EQ(scp_arena_count(&a), 2);
        EXPECT_EQ(static_cast<unsigned char*>(first)[99], 0) << "blocks come zeroed";
    }
    {
        // Resized and freed while another arena is current: still a's.
        const CScpArenaScope inB(&b);
        std::memset(second, 0x5a, 20);
        second = scp_realloc(second, 100000);
        ASSERT_TRUE(second);
        EXPECT_EQ(static_cast<unsigned char*>(second)[19], 0x5a) << "the bytes move with the block";
        scp_free(first);
        EXPECT_EQ(scp_arena_count(&b), 0);
        EXPECT_EQ(scp_arena_count(&a), 1);
        EXPECT_GE(scp_arena_peak_bytes(&a), 100000u + 100u);
        // A resize that cannot be done leaves the block where it was.
        EXPECT_EQ(scp_realloc(second, SIZE_MAX - 8), nullptr);
        EXPECT_EQ(scp_arena_count(&a), 1);
    }
    // What is left goes with the sweep (the leak checker would see it otherwise).
    scp_arena_sweep(&a);
    EXPECT_EQ(scp_arena_count(&a), 0);
    scp_arena_reset_peak(&a);
    EXPECT_EQ(scp_arena_peak_bytes(&a), 0u);
}

TEST(ScpArena, ScopesNestAndABlockWithoutArenaIsAnOrdinaryBlock)
{
    EXPECT_EQ(scp_arena_current(), nullptr);
    CScpLocalArena outer;
    EXPECT_EQ(scp_arena_current(), outer.get());
    void* loose = nullptr;
    {
        const CScpArenaScope none(nullptr);
        loose = scp_alloc(16);
        {
            CScpLocalArena inner;
            EXPECT_EQ(scp_arena_current(), inner.get());
            ASSERT_NE(scp_alloc(8), nullptr);  // left behind: swept with inner
            EXPECT_EQ(scp_arena_count(inner.get()), 1);
        }
        EXPECT_EQ(scp_arena_current(), nullptr);
    }
    EXPECT_EQ(scp_arena_current(), outer.get());
    EXPECT_EQ(scp_arena_count(outer.get()), 0);
    loose = scp_realloc(loose, 64);
    EXPECT_EQ(scp_arena_count(outer.get()), 0) << "a block keeps having no arena";
    scp_free(loose);
    scp_free(nullptr);
}

TEST(ScpArena, ThreadsAndJobsKeepTheirOwn)
{
    // Each thread allocates and frees in its own arena at the same time;
    // the counts come out exact only if nothing is shared.
    constexpr int kThreads = 4;
    constexpr int kBlocks = 2000;
    int counts[kThreads] = {};
    std::size_t peaks[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &counts, &peaks] {
            CScpLocalArena arena;
            std::vector<void*> blocks;
            for (int i = 0; i < kBlocks; ++i) blocks.push_back(scp_alloc(static_cast<std::size_t>(t + 1)));
            for (int i = 0; i < kBlocks; i += 2) scp_free(blocks[static_cast<std::size_t>(i)]);
            counts[t] = scp_arena_count(arena.get());
            peaks[t] = scp_arena_peak_bytes(arena.get());
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(counts[t], kBlocks / 2) << t;
        EXPECT_EQ(peaks[t], static_cast<std::size_t>(kBlocks) * static_cast<std::size_t>(t + 1)) << t;
    }

    // Two jobs: what each holds is its own, and goes with it.
    CScpLocalArena caller;
    ScpJobOptions options{};
    JobInfo* first = nullptr;
    JobInfo* second = nullptr;
    ASSERT_EQ(scp_job_create(&first, &options), SCP_OK);
    ASSERT_EQ(scp_job_create(&second, &options), SCP_OK);
    {
        const CScpArenaScope inFirst(&first->arena);
        ASSERT_EQ(scp_buf_put(&first->pending, "kept", 4), SCP_OK);
        ASSERT_EQ(scp_buf_put(&first->handle, "h", 1), SCP_OK);
        // A block the job's record does not hold: it goes with the job
        // all the same (the leak checker would see it otherwise).
        ASSERT_NE(scp_alloc(32), nullptr);
    }
    EXPECT_EQ(scp_arena_count(&first->arena), 4);
    EXPECT_EQ(scp_arena_count(&second->arena), 1) << "only its files table";
    EXPECT_NE(first->files, second->files);
    scp_job_destroy(first);
    scp_job_destroy(second);
    EXPECT_EQ(scp_arena_count(caller.get()), 0);
}

}  // namespace
