// The agent client against a real ssh-agent started by the test, against
// agents that are absent or never answer, and its reply parsers.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sshcore/agent_client.h"
#include "sshcore/key_sign.h"
#include "sshcore/private_key.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/support/peer_required.h"
#include "tests/support/temp_dir.h"

namespace {

using sshcore::CAgentClient;
using sshcore::CPrivateKey;

bool HavePrograms()
{
    return std::system("command -v ssh-agent >/dev/null && command -v ssh-keygen >/dev/null") == 0;
}

CPrivateKey MakeKey(const TempDir &dir, const std::string &name, const std::string &type)
{
    EXPECT_NE(NewKey(dir.file(name), "-t " + type), "");
    CPrivateKey key;
    EXPECT_EQ(sshcore::LoadPrivateKeyFile(dir.file(name), "", key).code, sshcore::KF_OK);
    return key;
}

TEST(AgentClient, ListsTheAgentsKeysAndItsSignaturesAreOurs)
{
    if (!HavePrograms()) FDX_PEER_MISSING() << "ssh-agent or ssh-keygen is not installed";
    TempDir dir;
    const CPrivateKey ed = MakeKey(dir, "ed", "ed25519");
    const CPrivateKey rsa = MakeKey(dir, "rsa", "rsa");
    const CPrivateKey absent = MakeKey(dir, "other", "ed25519");
    CTestAgent agent(dir.file("agent.sock"));
    ASSERT_TRUE(agent.running());
    ASSERT_TRUE(agent.Add(dir.file("ed")));
    ASSERT_TRUE(agent.Add(dir.file("rsa")));
    const CAgentClient client(dir.file("agent.sock"));
    const auto keys = client.Identities();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].publicBlob, ed.PublicBlob());
    EXPECT_EQ(keys[0].TypeName(), "ssh-ed25519");
    EXPECT_EQ(keys[1].publicBlob, rsa.PublicBlob());

    // Ed25519 and RSA PKCS #1 signatures are deterministic: the agent's
    // equal ours, for each RSA flag.
    const std::vector<std::uint8_t> data{'s', 'e', 's', 's', 'i', 'o', 'n'};
    EXPECT_EQ(client.Sign(ed.PublicBlob(), data, 0), sshcore::SignSsh(ed, "ssh-ed25519", data));
    EXPECT_EQ(client.Sign(rsa.PublicBlob(), data, sshcore::kAgentRsaSha512),
              sshcore::SignSsh(rsa, "rsa-sha2-512", data));
    EXPECT_EQ(client.Sign(rsa.PublicBlob(), data, sshcore::kAgentRsaSha256),
              sshcore::SignSsh(rsa, "rsa-sha2-256", data));
    EXPECT_EQ(client.Sign(rsa.PublicBlob(), data, 0), sshcore::SignSsh(rsa, "ssh-rsa", data));
    // A key the agent does not hold: it refuses, and that is no signature.
    EXPECT_TRUE(client.Sign(absent.PublicBlob(), data, 0).empty());
}

TEST(AgentClient, AbsentAndSilentAgentsGiveNothingWithinTheLimit)
{
    TempDir dir;
    EXPECT_TRUE(CAgentClient("").Identities().empty());
    EXPECT_FALSE(CAgentClient("").Present());
    EXPECT_TRUE(CAgentClient(dir.file("none.sock")).Identities().empty());
    EXPECT_TRUE(CAgentClient(std::string(200, 'x')).Identities().empty()); // longer than a socket path
    // A socket that takes the connection and never answers.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir.file("silent.sock");
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const CAgentClient silent(path, std::chrono::milliseconds(300));
    EXPECT_TRUE(silent.Identities().empty());
    EXPECT_TRUE(silent.Sign(std::vector<std::uint8_t>{1}, std::vector<std::uint8_t>{2}, 0).empty());
    ::close(listener);
}

TEST(AgentClient, MalformedRepliesAreRefusedWhole)
{
    std::vector<sshcore::SAgentIdentity> keys;
    // One key, then a second that is cut short: none is kept.
    const std::vector<std::uint8_t> cut{12, 0, 0, 0, 2, 0, 0, 0, 1, 'k', 0, 0, 0, 0, 0, 0, 0, 9, 'x'};
    EXPECT_FALSE(sshcore::ParseAgentIdentities(cut, keys));
    EXPECT_TRUE(keys.empty());
    // A count far above what follows.
    EXPECT_FALSE(sshcore::ParseAgentIdentities(std::vector<std::uint8_t>{12, 0xFF, 0xFF, 0xFF, 0xFF}, keys));
    EXPECT_FALSE(sshcore::ParseAgentIdentities(std::vector<std::uint8_t>{5}, keys));
    EXPECT_FALSE(sshcore::ParseAgentIdentities({}, keys));
    std::vector<std::uint8_t> signature;
    EXPECT_FALSE(sshcore::ParseAgentSignature(std::vector<std::uint8_t>{14, 0, 0, 0, 5, 1}, signature));
    EXPECT_FALSE(sshcore::ParseAgentSignature(std::vector<std::uint8_t>{14, 0, 0, 0, 1, 1, 7}, signature));
    EXPECT_TRUE(sshcore::ParseAgentSignature(std::vector<std::uint8_t>{14, 0, 0, 0, 1, 7}, signature));
    EXPECT_EQ(signature, std::vector<std::uint8_t>{7});
}

} // namespace
