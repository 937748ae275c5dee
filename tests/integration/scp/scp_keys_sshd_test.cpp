// Key logins of the upload library against a real sshd that takes no
// passwords: key files of each type (ssh-keygen's, with and without a
// passphrase), a real ssh-agent, the RSA signature the server lists, and
// keyboard-interactive with a wrong password tried exactly once.

#include "platform/registry.h"
#include "tests/integration/scp/scp_test_util.h"
#include "tests/integration/ssh2/peer_keys.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_helpers.h"

namespace {

class SshdKeys : public CScpSshdTest {
protected:
    // An sshd that takes no password logins (keyboard-interactive through
    // PAM when asked for), with the test's own lines.
    void StartPeer(const std::vector<std::string>& extra, bool keyboardInteractive = false, bool passwords = false)
    {
        SshdOptions options;
        options.legacyAlgorithms = false;
        options.extraConfig = extra;
        options.passwordLogins = passwords;
        options.keyboardInteractive = keyboardInteractive;
        options.usePam = keyboardInteractive;
        Start(options);
        WriteFileBytes(m_local.file("k.txt"), "by key");
    }
    // A key made by ssh-keygen, its public half authorised.
    std::string NewKey(const std::string& name, const std::string& args, const std::string& passphrase)
    {
        EXPECT_NE(::NewKey(m_local.file(name), args, passphrase, m_peer->folder()), "") << args;
        return m_local.file(name);
    }
    // A key the server does not know.
    std::string Stranger()
    {
        EXPECT_NE(::NewKey(m_local.file("stranger"), "-t ed25519"), "");
        return m_local.file("stranger");
    }
    UploadRun NewRun()
    {
        UploadRun run = CScpSshdTest::NewRun("k.txt");
        run.password = "";
        return run;
    }
};

// Several files in one list are tried in their order.
TEST_F(SshdKeys, KeyFilesOfEachTypeAndFormatLogIn)
{
    ASSERT_NO_FATAL_FAILURE(StartPeer({}));
    struct Case {
        const char* name;
        const char* args;
        const char* passphrase;
        const char* logged;  // sshd's name of the key type
    };
    // The formats themselves are read in-process (tests/ssh2, tests/scp):
    // here each kind of key signs a login the server checks.
    const Case cases[] = {
        {"ed-pw", "-t ed25519", "key phrase", "ED25519"},  // bcrypt, aes256-ctr
        {"p384", "-t ecdsa -b 384 -m PKCS8", "", "ECDSA"},
        {"rsa-pem-pw", "-t rsa -b 2048 -m PEM", "pem phrase", "RSA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string key = NewKey(c.name, c.args, c.passphrase);
        const std::size_t before = m_peer->logText().size();
        UploadRun run = NewRun();
        run.options.key_file = key.c_str();
        run.options.key_passphrase = c.passphrase;
        EXPECT_EQ(run.Run(), SCP_OK) << LastDetail() << "\n" << m_peer->logText().substr(before);
        const std::string log = m_peer->logText().substr(before);
        EXPECT_NE(log.find(std::string("Accepted publickey for ") + SshdPeer::User()), std::string::npos) << log;
        EXPECT_NE(log.find(std::string("ssh2: ") + c.logged + " "), std::string::npos) << log;
        // Asked first, signed after: the server saw no signature it refused.
        EXPECT_EQ(CountOccurrences(log, "Failed publickey"), 0u) << log;
    }

    // A file that is not there, a key the server does not know, then its own.
    const std::string stranger = Stranger();
    const std::string own = NewKey("own", "-t ecdsa -b 256", "");
    const std::string list = m_local.file("missing") + "\n" + stranger + "\n" + own;
    const std::size_t before = m_peer->logText().size();
    UploadRun run = NewRun();
    run.options.key_file = list.c_str();
    EXPECT_EQ(run.Run(), SCP_OK) << LastDetail() << "\n" << m_peer->logText();
    EXPECT_NE(m_peer->logText().find(std::string("Accepted publickey for ") + SshdPeer::User(), before),
              std::string::npos);
    EXPECT_NE(m_peer->logText().find("ssh2: ECDSA ", before), std::string::npos) << m_peer->logText();
}

TEST_F(SshdKeys, AKeyThatCannotBeUsedIsNamedAndTheServersMethodsSaid)
{
    ASSERT_NO_FATAL_FAILURE(StartPeer({}));
    const std::string key = NewKey("protected", "-t ed25519", "right phrase");
    UploadRun wrong = NewRun();
    wrong.options.key_file = key.c_str();
    wrong.options.key_passphrase = "wrong phrase";
    EXPECT_EQ(wrong.Run(), SCP_E_AUTHENTICATE);
    EXPECT_NE(LastDetail().find(key), std::string::npos) << "the detail names the file: " << LastDetail();
    EXPECT_EQ(CountOccurrences(m_peer->logText(), "Accepted"), 0u);

    // A key the server does not know: refused at the query, never signed.
    const std::string stranger = Stranger();
    UploadRun unknown = NewRun();
    unknown.options.key_file = stranger.c_str();
    EXPECT_EQ(unknown.Run(), SCP_E_AUTHENTICATE);
    EXPECT_NE(LastDetail().find("accepts only: publickey"), std::string::npos) << LastDetail();

    // Nothing to offer at all.
    UploadRun nothing = NewRun();
    nothing.password = "fdx-test-pw";
    EXPECT_EQ(nothing.Run(), SCP_E_AUTHENTICATE);
    EXPECT_EQ(LastDetail().rfind("The server accepts only: publickey", 0), 0u) << LastDetail();
    EXPECT_EQ(CountOccurrences(m_peer->logText(), "Failed password"), 0u) << "no password went to a server that takes none";
}

TEST_F(SshdKeys, RsaSignsWithSha2WhenTheServerListsItAndWithSshRsaWhenTheServerTakesOnlyThat)
{
    // The server names rsa-sha2-512 and rsa-sha2-256 in server-sig-algs
    // (OpenSSH lists them whatever it takes); one that takes rsa-sha2-512
    // alone refuses an ssh-rsa signature, which would be our choice without
    // the list. One that takes ssh-rsa alone refuses the rsa-sha2 query:
    // the same key is asked about once more with ssh-rsa, as the client does.
    for (const char* accepted : {"rsa-sha2-512", "ssh-rsa"}) {
        SCOPED_TRACE(accepted);
        ASSERT_NO_FATAL_FAILURE(StartPeer({std::string("PubkeyAcceptedAlgorithms ") + accepted}));
        const std::string key = NewKey(std::string("rsa-") + accepted, "-t rsa -b 2048", "");
        UploadRun run = NewRun();
        run.options.key_file = key.c_str();
        EXPECT_EQ(run.Run(), SCP_OK) << LastDetail() << "\n" << m_peer->logText();
        EXPECT_NE(m_peer->logText().find(std::string("Accepted publickey for ") + SshdPeer::User()), std::string::npos)
            << m_peer->logText();
        // The ssh-rsa server saw the refused rsa-sha2 query; the other saw
        // no algorithm it does not take.
        EXPECT_EQ(CountOccurrences(m_peer->logText(), "not in PubkeyAcceptedAlgorithms") > 0, std::string(accepted) == "ssh-rsa")
            << m_peer->logText();
    }
}

TEST_F(SshdKeys, TheAgentsKeysComeFirstAndSign)
{
    ASSERT_NO_FATAL_FAILURE(StartPeer({}));
    const std::string socket = m_local.file("agent.sock");
    CTestAgent agent(socket);
    if (!agent.running()) FDX_PEER_MISSING() << "ssh-agent did not start";
    // The agent holds an unknown key first, then the authorised RSA key.
    const std::string stranger = Stranger();
    const std::string key = NewKey("agent-rsa", "-t rsa -b 2048", "");
    ASSERT_TRUE(agent.Add(stranger));
    ASSERT_TRUE(agent.Add(key));
    const CScopedEnv env("SSH_AUTH_SOCK", socket);
    UploadRun run = NewRun();
    run.options.use_agent = 1;
    EXPECT_EQ(run.Run(), SCP_OK) << LastDetail() << "\n" << m_peer->logText();
    EXPECT_NE(m_peer->logText().find("Accepted publickey"), std::string::npos);

    // Without the flag the agent is not asked.
    UploadRun off = NewRun();
    EXPECT_EQ(off.Run(), SCP_E_AUTHENTICATE);
    // An agent that is gone is no error: the key file is tried next.
    const CScopedEnv gone("SSH_AUTH_SOCK", m_local.file("no-agent.sock"));
    UploadRun fallback = NewRun();
    fallback.options.use_agent = 1;
    fallback.options.key_file = key.c_str();
    EXPECT_EQ(fallback.Run(), SCP_OK) << LastDetail();
}

TEST_F(SshdKeys, APartialSuccessGoesOnWithTheNextMethod)
{
    // The server wants a key and then the password.
    ASSERT_NO_FATAL_FAILURE(StartPeer({"AuthenticationMethods publickey,password"}, false, true));
    const std::string key = NewKey("first", "-t ed25519", "");
    UploadRun both = NewRun();
    both.options.key_file = key.c_str();
    both.password = SshdPeer::Password();
    EXPECT_EQ(both.Run(), SCP_OK) << LastDetail() << "\n" << m_peer->logText();
    EXPECT_NE(m_peer->logText().find("Partial publickey"), std::string::npos) << m_peer->logText();
    EXPECT_NE(m_peer->logText().find("Accepted password"), std::string::npos);

    // The key alone is not enough, and a wrong password after it is tried once.
    UploadRun wrong = NewRun();
    wrong.options.key_file = key.c_str();
    wrong.password = "not-the-password";
    EXPECT_EQ(wrong.Run(), SCP_E_WRONG_PASSWORD) << LastDetail();
    EXPECT_EQ(CountOccurrences(m_peer->logText(), "Failed password"), 1u) << m_peer->logText();
}

TEST_F(SshdKeys, KeyboardInteractiveAnswersOnceWithThePassword)
{
    ASSERT_NO_FATAL_FAILURE(StartPeer({}, true));
    UploadRun right = NewRun();
    right.password = SshdPeer::Password();
    const int code = right.Run();
    if (code == SCP_E_AUTHENTICATE && m_peer->logText().find("PAM") == std::string::npos)
        GTEST_SKIP() << "this sshd runs without PAM: " << LastDetail();
    EXPECT_EQ(code, SCP_OK) << LastDetail() << "\n" << m_peer->logText();
    EXPECT_NE(m_peer->logText().find("Accepted keyboard-interactive"), std::string::npos) << m_peer->logText();

    const std::size_t before = m_peer->logText().size();
    UploadRun wrong = NewRun();
    wrong.password = "not-the-password";
    EXPECT_EQ(wrong.Run(), SCP_E_WRONG_PASSWORD) << LastDetail();
    const std::string log = m_peer->logText().substr(before);
    EXPECT_EQ(CountOccurrences(log, "Failed keyboard-interactive"), 1u) << log;
}

}  // namespace
