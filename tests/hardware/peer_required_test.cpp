// A missing peer: skipped for a developer without the peers, failed where the
// test run asks for them, in the C++ tests and in the test scripts alike.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/peer_required.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kVariable = "FERRODEX_REQUIRE_PEERS";

// Sets the variable (or removes it, for nullopt) while the object lives.
class CRequirement {
public:
    explicit CRequirement(const std::optional<std::string>& value) : m_env(kVariable, "")
    {
        if (value)
            ::setenv(kVariable, value->c_str(), 1);
        else
            ::unsetenv(kVariable);
    }

private:
    CScopedEnv m_env;
};

bool g_bRanOn = false;

void NeedsAMissingSshd()
{
    g_bRanOn = false;
    FDX_PEER_MISSING() << "sshd is not installed";
    g_bRanOn = true;
}

// The one result a missing peer leaves, and whether the test went on after it.
::testing::TestPartResult MissingPeerResult()
{
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        NeedsAMissingSshd();
    }
    EXPECT_EQ(results.size(), 1);
    EXPECT_FALSE(g_bRanOn) << "the test went on without its peer";
    return results.GetTestPartResult(0);
}

TEST(PeerRequiredTest, AMissingPeerSkipsUnlessRequiredAndThenFailsWithItsReason)
{
    const struct {
        std::optional<std::string> value;
        bool required;
    } cases[] = {{std::nullopt, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? "\"" + *c.value + "\"" : "unset");
        CRequirement requirement(c.value);
        EXPECT_EQ(peer::PeersRequired(), c.required);
        const auto result = MissingPeerResult();
        EXPECT_TRUE(c.required ? result.fatally_failed() : result.skipped());
        EXPECT_NE(std::string(result.message()).find("sshd is not installed"), std::string::npos);
    }
}

// The scripts' helper: 77 (CTest's skip code for them) or a failure, and
// nothing of the script after the call runs.
int ScriptStatus(const char* requirement)
{
    const std::string helper = SourceDir() + "/tests/support/peer_missing.sh";
    std::string command = "env -u FERRODEX_REQUIRE_PEERS ";
    if (requirement != nullptr) command += std::string(kVariable) + "='" + requirement + "' ";
    command += "bash -c '. \"" + helper + "\"; peer_missing \"tmux is missing\"; exit 0' >/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PeerRequiredTest, TheScriptHelperSkipsOrFailsByTheSameRule)
{
    EXPECT_EQ(ScriptStatus(nullptr), 77);
    EXPECT_EQ(ScriptStatus(""), 77);
    EXPECT_EQ(ScriptStatus("0"), 77);
    EXPECT_EQ(ScriptStatus("1"), 1);
    EXPECT_EQ(ScriptStatus("yes"), 1);
}

}  // namespace
