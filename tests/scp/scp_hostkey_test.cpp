// The upload engine's host-key checks without a network: the offer puts the
// types stored for the host first, a short RSA key and a signature that does
// not verify end the session with their own codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "sshcore/algorithms.h"
#include "scp/scp.h"
#include "scp/scp_crypto.h"
#include "scp/scp_mem.h"
#include "sshcore/negotiate.h"
#include "scp/scp_packet.h"
#include "scp/scp_ssh.h"
#include "scp/scp_store.h"
#include "sshcore/hostkey_trust.h"
#include "tests/scp/scp_bytes.h"
#include "tests/support/temp_dir.h"

namespace {

// An ssh-rsa blob with a modulus of `bytes` bytes, top bit set.
Bytes RsaBlob(std::size_t bytes)
{
    Bytes blob;
    PutString(blob, std::string("ssh-rsa"));
    PutString(blob, Bytes{1, 0, 1});
    Bytes modulus(bytes + 1, 0xc3);
    modulus[0] = 0;
    PutString(blob, modulus);
    return blob;
}

// A group1 reply: the host key blob, f = 2 and a signature of zeros.
Bytes KexReply(const Bytes& blob)
{
    Bytes reply{31};
    PutString(reply, blob);
    PutString(reply, Bytes{2});
    Bytes sig;
    PutString(sig, std::string("ssh-rsa"));
    PutString(sig, Bytes(blob.size() > 140 ? 128 : 96, 0));
    PutString(reply, sig);
    return reply;
}

class ScpHostKeyTrust : public ::testing::Test, protected CDetachedSession {
protected:
    void SetUp() override
    {
        std::strcpy(m_cfg.host, "127.0.0.1");
        m_cfg.port = 2022;
    }
    void TearDown() override { Release(); }  // while the registry is there
    int Run(const Bytes& tail)
    {
        Bytes stream = Stream("SSH-2.0-x\n", {KexinitPayload({})});
        Append(stream, tail);
        return OpenAndFeed(stream);
    }
    std::string OfferedHostKeys()
    {
        const auto sent = SentPackets(Capture());
        return sent.empty() ? "" : NameLists(sent[0])[1];
    }

    TempRegistry m_registry;
};

TEST_F(ScpHostKeyTrust, TheStoredTypesAreOfferedFirst)
{
    ASSERT_EQ(Run({}), 0);
    const std::vector<std::string> usual = sshcore::SplitNameList(OfferedHostKeys());

    ASSERT_TRUE(sshcore::StoreHostKey("dss", 2022, "127.0.0.1", "0x1,0x2,0x3,0x4"));
    ASSERT_TRUE(sshcore::StoreHostKey("rsa2", 2022, "127.0.0.1", "0x3,0x5"));
    ASSERT_EQ(Run({}), 0);
    // The algorithms of the stored types move ahead; both parts keep their order.
    std::vector<std::string> expected = usual;
    std::stable_partition(expected.begin(), expected.end(), [](const std::string& name) {
        const int type = scp_hostkey_alg_type(name.c_str());
        return type == SCP_KEY_RSA || type == SCP_KEY_DSS;
    });
    ASSERT_NE(expected, usual) << "the usual offer already starts with the stored types";
    EXPECT_EQ(sshcore::SplitNameList(OfferedHostKeys()), expected);
}

TEST_F(ScpHostKeyTrust, AShortRsaKeyAndABadSignatureHaveTheirOwnCodes)
{
    EXPECT_EQ(Run(Plain({KexReply(RsaBlob(96))})), SCP_E_HOSTKEY_TOO_SMALL);  // 768 bits
    EXPECT_EQ(Run(Plain({KexReply(RsaBlob(128))})), SCP_E_HOSTKEY_SIGNATURE);  // 1024 bits, not signed
    // Nothing was stored for a key that did not prove itself.
    EXPECT_TRUE(sshcore::ReadKnownHostKeys(2022, "127.0.0.1").empty());

    ScpHostKey key{};
    const Bytes small = RsaBlob(127);  // 1016 bits
    EXPECT_EQ(scp_hostkey_parse(small.data(), small.size(), &key), SCP_E_HOSTKEY_TOO_SMALL);
    const Bytes enough = RsaBlob(128);
    ASSERT_EQ(scp_hostkey_parse(enough.data(), enough.size(), &key), 0);
    EXPECT_EQ(key.bits, 1024);
    scp_hostkey_free(&key);
}

}  // namespace
