// The upload engine against real sshd instances: a changed RSA key and an
// Ed25519 key where RSA was stored stop the session before any
// authentication request unless the answer is yes.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/text.h"
#include "sshcore/hostkey_trust.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char16_t kHostKeys[] = u"Software\\Quillon\\Corvel\\SshHostKeys";

std::string Output(const std::string& command)
{
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
    return text;
}

class ScpHostKeySshd : public ::testing::Test {
protected:
    void Start(const std::string& keyType)
    {
        std::string why;
        if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.hostKeyType = keyType;
        m_peer = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(m_peer->running()) << m_peer->logText();
        ASSERT_FALSE(m_remote.path().empty());
        WriteFileBytes(m_local.file("f.bin"), "bytes");
        // An RSA key of this host and port stored earlier, no longer the server's.
        sshcore::StoreHostKey("rsa2", static_cast<std::uint32_t>(m_peer->port()), "127.0.0.1", "0x10001,0xc5c5c5c5");
    }
    UploadRun NewRun(int answer, int newPolicy, int changedPolicy)
    {
        UploadRun run = PeerRun(m_peer->port(), m_local.file("f.bin"), m_remote.path());
        run.hostKeyAnswer = answer;
        run.options.new_host_key_policy = static_cast<std::int16_t>(newPolicy);
        run.options.changed_host_key_policy = static_cast<std::int16_t>(changedPolicy);
        return run;
    }
    std::string Stored(const std::string& type)
    {
        std::u16string text;
        const std::u16string name = AnsiToWide(type + "@" + std::to_string(m_peer->port()) + ":127.0.0.1");
        return RegReadString(HKEY_CURRENT_USER, kHostKeys, name, text) ? WideToAnsi(text) : "";
    }
    void ExpectNoAuthentication()
    {
        const std::string log = m_peer->logText();
        EXPECT_EQ(log.find("Accepted"), std::string::npos) << log;
        EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
    }
    // A yes to a key that needed one: stored and recorded, but the session
    // sends no password, and says why.
    void ExpectPasswordWithheld(UploadRun& run, const std::string& type, const std::string& why)
    {
        EXPECT_EQ(run.Run(), SCP_E_AUTHENTICATE) << m_peer->logText();
        char detail[512] = {};
        scp_last_error_detail(detail, sizeof detail);
        EXPECT_NE(std::string(detail).find("The password was not sent because the server's host key changed"),
                  std::string::npos)
            << detail;
        const std::string log = m_peer->logText();
        EXPECT_EQ(log.find("password for"), std::string::npos) << log;
        const std::string record = sshcore::ReadHostKeyAcceptance(
            type, static_cast<std::uint32_t>(m_peer->port()), "127.0.0.1");
        EXPECT_EQ(record.size() > 21 ? record.substr(record.rfind(' ') + 1) : "", why) << record;
    }
    // The value the one host-key event carried, kNotAsked when there was none.
    static constexpr int kNotAsked = -1;
    static int AskedAbout(const UploadRun& run)
    {
        for (const RecordedEvent& e : run.events)
            if (e.event == SCP_EVENT_HOSTKEY) return e.value;
        return kNotAsked;
    }

    TempRegistry m_registry;
    TempDir m_local;
    RemoteDir m_remote;
    std::unique_ptr<SshdPeer> m_peer;
};

TEST_F(ScpHostKeySshd, AChangedRsaKeyStopsUnlessYes)
{
    ASSERT_NO_FATAL_FAILURE(Start("rsa"));
    // The deployment's policies (store new keys, reject changed ones), then
    // a question answered No.
    UploadRun rejected = NewRun(1, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_REJECT);
    EXPECT_EQ(rejected.Run(), SCP_E_HOSTKEY_REFUSED);
    EXPECT_EQ(AskedAbout(rejected), kNotAsked);
    UploadRun no = NewRun(0, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    EXPECT_EQ(no.Run(), SCP_E_HOSTKEY_REFUSED);
    EXPECT_EQ(AskedAbout(no), SCP_HOSTKEY_CHANGED);
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("rsa2"), "0x10001,0xc5c5c5c5");

    UploadRun yes = NewRun(1, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    ExpectPasswordWithheld(yes, "rsa2", "changed");
    EXPECT_NE(Stored("rsa2"), "0x10001,0xc5c5c5c5");
    // The key the upload stored is the one the next session accepts at
    // once, and that session sends the password.
    UploadRun again = NewRun(0, HOSTKEY_REJECT, HOSTKEY_REJECT);
    EXPECT_EQ(again.Run(), 0);
}

TEST_F(ScpHostKeySshd, OnlyEd25519WhereRsaWasStoredStopsUnlessYes)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    UploadRun rejected = NewRun(1, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_REJECT);
    EXPECT_EQ(rejected.Run(), SCP_E_HOSTKEY_REFUSED);
    UploadRun no = NewRun(0, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    EXPECT_EQ(no.Run(), SCP_E_HOSTKEY_REFUSED);
    EXPECT_EQ(AskedAbout(no), SCP_HOSTKEY_NEW_TYPE);
    ASSERT_FALSE(no.events.empty());
    ExpectNoAuthentication();
    EXPECT_EQ(Stored("ssh-ed25519"), "");

    UploadRun yes = NewRun(1, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    ExpectPasswordWithheld(yes, "ssh-ed25519", "new-type");
    EXPECT_EQ(Stored("ssh-ed25519").size(), 66u);
    EXPECT_EQ(Stored("rsa2"), "0x10001,0xc5c5c5c5");
    UploadRun again = NewRun(0, HOSTKEY_REJECT, HOSTKEY_REJECT);
    EXPECT_EQ(again.Run(), 0) << m_peer->logText();
}

TEST_F(ScpHostKeySshd, TheQuestionCarriesTheSha256Fingerprint)
{
    ASSERT_NO_FATAL_FAILURE(Start("ed25519"));
    UploadRun no = NewRun(0, HOSTKEY_ACCEPT_AND_STORE, HOSTKEY_ASK);
    EXPECT_EQ(no.Run(), SCP_E_HOSTKEY_REFUSED);
    std::string detail;
    for (const RecordedEvent& e : no.events)
        if (e.event == SCP_EVENT_HOSTKEY) detail = e.detail;
    const std::string keygen = Output("/usr/bin/ssh-keygen -l -E sha256 -f '" + m_peer->hostKeyPath() +
                                                   ".pub'");
    const std::size_t at = keygen.find("SHA256:");
    ASSERT_NE(at, std::string::npos) << keygen;
    EXPECT_NE(detail.find(keygen.substr(at, keygen.find(' ', at) - at)), std::string::npos) << detail;
    EXPECT_EQ(detail.rfind("ssh-ed25519 255 ", 0), 0u) << detail;
}

}  // namespace
