// What a hostile server says (its disconnect description, its login banner)
// reaches the administrator's terminal through `ferrodex` only filtered.
#include <gtest/gtest.h>

#include <string>

#include "tests/console/run_ferrodex.h"
#include "tests/integration/ssh2/scripted_peer.h"
#include "tests/support/peer_required.h"
#include "tests/support/raw_controls.h"
#include "tests/support/temp_dir.h"

namespace {

// Escape sequences, a C1 control, a bidirectional override and a forged line.
const std::string kHostileText = "bye\x1b]0;owned\x07\x1b[2J\xC2\x9B" "31m\xE2\x80\xAE" "evil\nError: forged";

class HostileServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ScriptedPeer::Available())
            FDX_PEER_MISSING() << "python3 with paramiko is missing (scripts/setup-peers.sh)";
        m_env.registry = m_dir.file("registry");
        m_env.dataHome = m_dir.file("data");
        m_console = m_dir.file("inventory.fdx");
        ASSERT_EQ(Run({"group", "add", "Lab"}).status, 0);
    }
    RunResult Run(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--console", m_console});
        return RunFerrodex(m_env, args, input);
    }
    // Adds the scripted server as a host and refreshes it.
    RunResult Refresh(const ScriptedPeer& peer)
    {
        const std::string port = std::to_string(peer.port());
        const RunResult add = Run({"host", "add", "Lab", "127.0.0.1", "--port", port, "--login", "tester",
                                   "--password-stdin"},
                                  "secret-pw\n");
        EXPECT_EQ(add.status, 0) << add.err;
        return Run({"host", "refresh", "Lab/127.0.0.1", "--login", "tester", "--password-stdin"}, "secret-pw\n");
    }
    static void ExpectFiltered(const RunResult& result)
    {
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(FirstRawControl(result.out), "") << result.out;
        EXPECT_EQ(FirstRawControl(result.err), "") << result.err;
        // The server's words are there, made visible; its line feed forges no
        // error line of its own.
        EXPECT_NE(result.err.find("bye\\x1b]0;owned\\x07\\x1b[2J\\u009b31m\\u202eevil"), std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("\nError: forged"), std::string::npos) << result.err;
    }

    TempDir m_dir;
    RunEnvironment m_env;
    std::string m_console;
};

// A disconnect before the key exchange; a banner, then a disconnect during
// the command.
TEST_F(HostileServerTest, BannersAndDisconnectsAreShownFiltered)
{
    for (const std::vector<std::string>& script :
         {std::vector<std::string>{"raw-disconnect", "--text", kHostileText},
          std::vector<std::string>{"paramiko", "--banner", kHostileText, "--disconnect-on-exec", "--text", kHostileText}}) {
        SCOPED_TRACE(script[0]);
        ScriptedPeer peer(script);
        ASSERT_NE(peer.port(), 0);
        ExpectFiltered(Refresh(peer));
        ASSERT_EQ(Run({"host", "remove", "Lab/127.0.0.1"}).status, 0);
    }
}

}  // namespace
