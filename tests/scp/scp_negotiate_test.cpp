// The agreement of algorithms from the two offers, as a table.
#include <gtest/gtest.h>

#include <string>

#include "sshcore/algorithms.h"
#include "sshcore/negotiate.h"

namespace {

// Both directions alike unless a test sets one of them.
sshcore::SKexOffer Offer(const std::string& kex, const std::string& hostKeys, const std::string& ciphers,
               const std::string& macs, const std::string& compression = "none,zlib")
{
    sshcore::SKexOffer offer;
    offer.lists[sshcore::OFFER_KEX] = sshcore::SplitNameList(kex);
    offer.lists[sshcore::OFFER_HOSTKEY] = sshcore::SplitNameList(hostKeys);
    for (int dir = 0; dir < 2; ++dir) {
        offer.lists[sshcore::OFFER_CIPHER_OUT + dir] = sshcore::SplitNameList(ciphers);
        offer.lists[sshcore::OFFER_MAC_OUT + dir] = sshcore::SplitNameList(macs);
        offer.lists[sshcore::OFFER_COMP_OUT + dir] = sshcore::SplitNameList(compression);
    }
    return offer;
}

// Our side in these cases: not the engine's offer (the engine tests hold that
// to what the engine runs) but the fewest names that show each rule: a
// current and an old choice per list, each kind of cipher, "none" as MAC,
// the strict-exchange marker and a cipher below the warning line.
sshcore::SKexOffer Ours()
{
    sshcore::SKexOffer offer = Offer("curve25519-sha256,diffie-hellman-group1-sha1,kex-strict-c-v00@openssh.com",
                           "ssh-ed25519,ssh-rsa",
                           "aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,aes128-ctr,aes128-cbc,des-cbc",
                           "hmac-sha2-256,hmac-sha1,none");
    offer.acceptedCiphers = 4;  // des-cbc lies below the warning line
    return offer;
}

struct NegotiationCase {
    const char* what;
    sshcore::SKexOffer server;
    // Agreed kex, host key, cipher out/in, MAC out/in; or the failure's start.
    const char* expected[6];
    const char* failure;
};

TEST(ScpNegotiation, AgreementTable)
{
    const std::string ctr = "aes128-ctr";
    auto mixed = Offer("curve25519-sha256", "ssh-ed25519", ctr, "hmac-sha1");
    mixed.lists[sshcore::OFFER_CIPHER_IN] = {"aes256-gcm@openssh.com"};
    mixed.lists[sshcore::OFFER_MAC_IN] = {"hmac-md5"};
    const NegotiationCase cases[] = {
        {"our order decides",
         Offer("diffie-hellman-group1-sha1,curve25519-sha256", "ssh-rsa,ssh-ed25519", "aes128-cbc,aes128-ctr",
               "hmac-sha1,hmac-sha2-256"),
         {"curve25519-sha256", "ssh-ed25519", "aes128-ctr", "aes128-ctr", "hmac-sha2-256", "hmac-sha2-256"},
         nullptr},
        {"the oldest method when it is the only common one",
         Offer("diffie-hellman-group1-sha1", "ssh-rsa", "aes128-cbc", "hmac-sha1"),
         {"diffie-hellman-group1-sha1", "ssh-rsa", "aes128-cbc", "aes128-cbc", "hmac-sha1", "hmac-sha1"},
         nullptr},
        {"an authenticated cipher runs without a common MAC",
         Offer("curve25519-sha256", "ssh-ed25519", "chacha20-poly1305@openssh.com", "hmac-md5"),
         {"curve25519-sha256", "ssh-ed25519", "chacha20-poly1305@openssh.com", "chacha20-poly1305@openssh.com",
          "none", "none"},
         nullptr},
        {"each direction on its own",
         mixed,
         {"curve25519-sha256", "ssh-ed25519", "aes128-ctr", "aes256-gcm@openssh.com", "hmac-sha1", "none"},
         nullptr},
        {"no common key exchange gets no fallback",
         Offer("diffie-hellman-group1-sha512,ecdh-sha2-nistp521", "ssh-ed25519", ctr, "hmac-sha1"),
         {},
         "no common key-exchange method (the server offers diffie-hellman-group1-sha512,ecdh-sha2-nistp521)"},
        {"our strict-exchange marker is no method",
         Offer("kex-strict-c-v00@openssh.com", "ssh-ed25519", ctr, "hmac-sha1"),
         {},
         "no common key-exchange method"},
        {"no common MAC with a block cipher",
         Offer("curve25519-sha256", "ssh-ed25519", ctr, "hmac-md5,umac-64@openssh.com"),
         {},
         "no common MAC (client to server), and the cipher needs one"},
        {"\"none\" as MAC with a CBC cipher",
         Offer("curve25519-sha256", "ssh-ed25519", "aes128-cbc", "none"),
         {},
         "no common MAC (client to server), and the cipher needs one (the server offers none)"},
        {"a cipher below the warning line",
         Offer("curve25519-sha256", "ssh-ed25519", "des-cbc", "hmac-sha1"),
         {},
         "no common cipher (client to server) above the warning line"},
        {"no common cipher",
         Offer("curve25519-sha256", "ssh-ed25519", "twofish-cbc", "hmac-sha1"),
         {},
         "no common cipher (client to server) (the server offers twofish-cbc)"},
        {"no common host key", Offer("curve25519-sha256", "ssh-dss", ctr, "hmac-sha1"), {},
         "no common host-key algorithm"},
        {"no common compression", Offer("curve25519-sha256", "ssh-ed25519", ctr, "hmac-sha1", "zlib@openssh.com"),
         {}, "no common compression (client to server)"},
        {"whole names only", Offer("curve25519-sha256-x,xcurve25519-sha256", "ssh-ed25519", ctr, "hmac-sha1"), {},
         "no common key-exchange method (the server offers curve25519-sha256-x,xcurve25519-sha256)"},
        {"an empty offer", sshcore::SKexOffer{}, {}, "no common key-exchange method (the server offers nothing)"},
    };
    for (const NegotiationCase& c : cases) {
        const sshcore::SKexAgreement agreed = sshcore::Negotiate(Ours(), c.server);
        if (c.failure) {
            EXPECT_FALSE(agreed.ok) << c.what;
            EXPECT_EQ(agreed.failure.rfind(c.failure, 0), 0u) << c.what << ": " << agreed.failure;
            continue;
        }
        ASSERT_TRUE(agreed.ok) << c.what << ": " << agreed.failure;
        for (int i = 0; i < 6; ++i) EXPECT_EQ(agreed.names[i], c.expected[i]) << c.what << " list " << i;
        EXPECT_EQ(agreed.names[sshcore::OFFER_COMP_OUT], "none") << c.what;
    }
}

TEST(ScpNegotiation, HostileListsAreCutAndCleanedInTheFailure)
{
    sshcore::SKexOffer server = Offer(std::string(5000, 'k') + "\x1b[2J\n", "ssh-ed25519", "aes128-ctr", "hmac-sha1");
    server.lists[sshcore::OFFER_KEX].push_back("x\x1b[31m");
    const sshcore::SKexAgreement agreed = sshcore::Negotiate(Ours(), server);
    ASSERT_FALSE(agreed.ok);
    EXPECT_LT(agreed.failure.size(), 400u);
    for (char c : agreed.failure) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << agreed.failure;
}

// A guess is right only when both sides prefer the same exchange and host-key
// algorithm, even if the agreement would pick the peer's first ones anyway.
TEST(ScpNegotiation, AGuessedPacketCountsOnlyWhenBothFirstChoicesMatch)
{
    const auto server = [](const char* kex, const char* hostKeys) {
        return Offer(kex, hostKeys, "aes128-ctr", "hmac-sha1");
    };
    EXPECT_TRUE(sshcore::GuessWasRight(Ours(), server("curve25519-sha256,x", "ssh-ed25519")));
    EXPECT_FALSE(sshcore::GuessWasRight(Ours(), server("diffie-hellman-group1-sha1", "ssh-ed25519")));
    EXPECT_FALSE(sshcore::GuessWasRight(Ours(), server("curve25519-sha256", "ssh-rsa,ssh-ed25519")));
    EXPECT_FALSE(sshcore::GuessWasRight(Ours(), server("", "ssh-ed25519")));
}

TEST(ScpNegotiation, NameListsSplitOnCommasWithoutEmptyNames)
{
    EXPECT_EQ(sshcore::SplitNameList(""), std::vector<std::string>{});
    EXPECT_EQ(sshcore::SplitNameList("a,,b,"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(sshcore::SplitNameList(std::string_view("a\0b,c", 5)), (std::vector<std::string>{std::string("a\0b", 3), "c"}));
}

}  // namespace
