// Host keys through `ferrodex host refresh` against real sshd instances: a
// changed key, a key of a new type, a first contact in strict mode and a
// key never seen after the cache was damaged all stop before any
// authentication request unless --accept-changed-host-key says yes, and
// that yes sends no password on its connection (a key still logs in) and is
// recorded with its time; a first contact that is stored prints the key's
// SHA256 fingerprint. (The engine's side: tests/integration/ssh2.)
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/integration/scan/peer_console.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";
constexpr char16_t kAccepted[] = u"Software\\Quillon\\Corvel\\AcceptedHostKeys";
constexpr const char* kWithheld = "The password was not sent because the server's host key changed";
// An RSA key this host had before (1024 bits; its SHA256 is what ssh-keygen
// prints for the same blob).
const std::string kOldRsa = "0x10001,0x" + std::string(256, 'c');

using Result = RunResult;

std::string KeygenSha256(const std::string& pub)
{
    const std::string line = ShellOutput("/usr/bin/ssh-keygen -l -E sha256 -f '" + pub + "'");
    const std::size_t start = line.find("SHA256:");
    return start == std::string::npos ? "(none)" : line.substr(start, line.find(' ', start) - start);
}

class HostKeyCliTest : public ::testing::Test {
protected:
    void Start(const std::string& keyType, bool legacy)
    {
        FDX_REQUIRE_SSHD();
        m_server = std::make_unique<SshdPeer>(SshdOptions{.legacyAlgorithms = legacy, .hostKeyType = keyType});
        ASSERT_TRUE(m_server->running()) << m_server->logText();
        m_console = "--console " + m_dir.file("inventory.fdx");
        std::filesystem::remove(m_dir.file("inventory.fdx"));
        ASSERT_TRUE(AddPeerHost(m_console, "Lab", "127.0.0.1", m_server->port()));
    }
    Result Refresh(const std::string& options = "")
    {
        const std::string line = m_console + " host refresh Lab/127.0.0.1" + TestLogin() + " " + options;
        return RunFerrodexLine(line, PasswordLines());
    }
    std::u16string Name(const std::string& type) const
    {
        return AnsiToWide(type + "@" + std::to_string(m_server->port()) + ":127.0.0.1");
    }
    std::string Stored(const std::string& type) const
    {
        std::u16string text;
        return RegReadString(HKEY_CURRENT_USER, kHostKeys, Name(type), text) ? WideToAnsi(text) : "";
    }
    std::string Acceptance(const std::string& type) const
    {
        std::u16string text;
        return RegReadString(HKEY_CURRENT_USER, kAccepted, Name(type), text) ? WideToAnsi(text) : "";
    }
    std::string ServerSha256() const { return KeygenSha256(m_server->hostKeyPath() + ".pub"); }
    // The login after a yes to a key that needed one: only the password was
    // left, and it stayed home.
    void ExpectPasswordWithheld(const Result& r, std::size_t logFrom = 0) const
    {
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(kWithheld), std::string::npos) << r.err;
        const std::string log = m_server->logText().substr(logFrom);
        EXPECT_EQ(log.find("password for"), std::string::npos) << log;
        EXPECT_EQ(log.find("Accepted"), std::string::npos) << log;
    }
    void ExpectNoAuthentication() const
    {
        const std::string log = m_server->logText();
        EXPECT_EQ(log.find("Accepted"), std::string::npos) << log;
        EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
    }
    // A refusal names the host, the presented key's fingerprint and the
    // option that says yes.
    void ExpectRefusal(const Result& r) const
    {
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("Host: 127.0.0.1"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(ServerSha256()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--accept-changed-host-key"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Error: the server's host key was not trusted"), std::string::npos) << r.err;
    }

    TempRegistry m_registry;
    TempDir m_dir;
    std::string m_console;
    std::unique_ptr<SshdPeer> m_server;
};

// A key that needs a yes: refused before any authentication, with the
// stored key's fingerprint when there is one; accepted, it is stored and on
// record with its time, its fingerprint and why, the password waits, and the
// next run needs no answer.
TEST_F(HostKeyCliTest, AKeyThatNeedsAYesFailsUntilAcceptedThenNeedsNoAnswer)
{
    const std::string oldEd25519 = "0x" + std::string(64, 'c');
    const struct {
        const char* keyType;
        const char* stored;  // the cache entry's type, empty for a damaged cache
        std::string storedKey;
        const char* refusal;
        const char* why;
    } cases[] = {
        {"rsa", "rsa2", kOldRsa, "host key has CHANGED", "changed"},
        {"ed25519", "ssh-ed25519", oldEd25519, "host key has CHANGED", "changed"},
        {"ed25519", "rsa2", kOldRsa, "a host key of a type never stored for it", "new-type"},
        {"ed25519", "", "", "damaged and kept aside at ", "unverifiable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.keyType) + " where " + (*c.stored ? c.stored : "a damaged cache") + " was");
        ASSERT_NO_FATAL_FAILURE(Start(c.keyType, std::string(c.keyType) == "rsa"));
        const std::string type = std::string(c.keyType) == "rsa" ? "rsa2" : "ssh-ed25519";
        if (*c.stored) RegWriteString(HKEY_CURRENT_USER, kHostKeys, Name(c.stored), AnsiToWide(c.storedKey));
        else std::ofstream(m_registry.path() + "/HKEY_CURRENT_USER.reg.damaged") << "kept aside";
        const Result refused = Refresh();
        ExpectRefusal(refused);
        EXPECT_NE(refused.err.find(c.refusal), std::string::npos) << refused.err;
        if (*c.stored) {
            EXPECT_NE(refused.err.find(std::string("Stored key: ") + c.stored + " SHA256:"), std::string::npos)
                << refused.err;
        }
        ExpectNoAuthentication();
        EXPECT_EQ(Stored(type), type == c.stored ? c.storedKey : "");

        const std::time_t before = std::time(nullptr);
        const Result accepted = Refresh("--accept-changed-host-key");
        ExpectPasswordWithheld(accepted);
        EXPECT_NE(accepted.err.find("accepted: --accept-changed-host-key"), std::string::npos) << accepted.err;
        EXPECT_NE(accepted.err.find(ServerSha256()), std::string::npos) << accepted.err;
        EXPECT_NE(Stored(type), "");
        EXPECT_NE(Stored(type), c.storedKey);
        // The yes is on record: when (UTC), which key and why.
        const std::string record = Acceptance(type);
        std::tm when{};
        const char* rest = ::strptime(record.c_str(), "%Y-%m-%dT%H:%M:%SZ", &when);
        ASSERT_NE(rest, nullptr) << record;
        EXPECT_GE(::timegm(&when) + 1, before) << record;
        EXPECT_LE(::timegm(&when), std::time(nullptr)) << record;
        EXPECT_EQ(std::string(rest), " " + ServerSha256() + " " + c.why);

        const std::size_t logged = m_server->logText().size();
        const Result again = Refresh();
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(m_server->logText().find("Accepted password for", logged), std::string::npos);
        std::filesystem::remove(m_registry.path() + "/HKEY_CURRENT_USER.reg.damaged");
    }
}

TEST_F(HostKeyCliTest, FirstContactPrintsTheFingerprintAndStrictModeRefusesIt)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519", false));
    // Strict, from the option and from the setting.
    const Result option = Refresh("--strict-host-keys");
    ExpectRefusal(option);
    EXPECT_NE(option.err.find("not known yet"), std::string::npos) << option.err;
    RegWriteDword(HKEY_CURRENT_USER, u"Software\\Quillon\\Ferrodex", u"StrictHostKeys", 1);
    ExpectRefusal(Refresh());
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("ssh-ed25519"), "");

    // Trusted on first use, and told.
    RegWriteDword(HKEY_CURRENT_USER, u"Software\\Quillon\\Ferrodex", u"StrictHostKeys", 0);
    const Result first = Refresh();
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("Stored the host key of 127.0.0.1 on first contact: ssh-ed25519 255 "), std::string::npos)
        << first.err;
    EXPECT_NE(first.err.find(ServerSha256()), std::string::npos) << first.err;
    EXPECT_EQ(Stored("ssh-ed25519").size(), 66u);
}

// A key is not held back: after a change a key file logs in on the very
// connection that accepts it, still without a password.
TEST_F(HostKeyCliTest, AnAcceptedChangedKeyGetsNoPasswordButAKeyStillLogsIn)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519", false));
    const std::string oldKey = "0x" + std::string(64, 'c');
    const std::string key = m_dir.file("id_ed25519");
    ASSERT_EQ(std::system(("/usr/bin/ssh-keygen -q -t ed25519 -N '' -f " + key).c_str()), 0);
    std::ofstream(m_server->folder() + "/authorized_keys") << ReadWholeFile(key + ".pub");
    RegWriteString(HKEY_CURRENT_USER, kHostKeys, Name("ssh-ed25519"), AnsiToWide(oldKey));
    const std::size_t keyed = m_server->logText().size();
    const Result withKey = Refresh("--accept-changed-host-key --identity " + key);
    EXPECT_EQ(withKey.status, 0) << withKey.err;
    const std::string log = m_server->logText().substr(keyed);
    EXPECT_NE(log.find("Accepted publickey for"), std::string::npos) << log;
    EXPECT_EQ(log.find("password for"), std::string::npos) << log;
}

}  // namespace
