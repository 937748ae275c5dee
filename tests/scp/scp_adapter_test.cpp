// The upload library's C-style interface over the shared primitives: it
// draws from the one random pool, its compression and key files behave as
// the engine relies on, and what it refuses it refuses with named codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "scp/scp.h"
#include "scp/scp_crypto.h"
#include "scp/scp_store.h"
#include "sshcore/random.h"
#include "tests/scp/scp_bytes.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ScpSharedPrimitives, TheUploadHandleDrawsFromTheOnePool)
{
    CRandomPool& shared = CRandomPool::Instance();
    shared.Reset();
    shared.Stir();
    ScpRandomPool handle{};
    scp_random_init(&handle);
    std::uint8_t bytes[100];
    scp_random_bytes(&handle, bytes, sizeof bytes);
    EXPECT_EQ(shared.ReadPosition(), 20u + sizeof bytes);
    // The bytes are the pool's own, in order.
    for (std::size_t i = 0; i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], shared.PoolBytes()[20 + i]) << i;
    // A pool that was never stirred hands out no zeros.
    shared.Reset();
    std::uint8_t first[32];
    scp_random_bytes(&handle, first, sizeof first);
    int zeros = 0;
    for (std::uint8_t b : first) zeros += b == 0;
    EXPECT_LT(zeros, 8);
}

TEST(ScpSharedPrimitives, CompressionSwitchesToStoredAndCapsWhatItInflates)
{
    ScpZlib out{}, in{};
    ASSERT_EQ(scp_zlib_start(&out, true), SCP_OK);
    ASSERT_EQ(scp_zlib_start(&in, false), SCP_OK);
    const Bytes banner = ToBytes(std::string(3000, '-') + " welcome " + std::string(3000, '-'));
    ScpBuf wire{}, clear{};
    ASSERT_EQ(scp_zlib_run(&out, banner.data(), banner.size(), &wire, SIZE_MAX), SCP_OK);
    EXPECT_LT(wire.len, banner.size() / 10);
    EXPECT_EQ(out.totalIn, banner.size());
    ASSERT_EQ(scp_zlib_run(&in, wire.data, wire.len, &clear, banner.size()), SCP_OK);
    EXPECT_EQ(ToBytes(clear), banner);

    // The switch's bytes go before the next packet, which is then stored.
    wire.len = 0;
    clear.len = 0;
    ASSERT_EQ(scp_zlib_stop_compressing(&out, &wire), SCP_OK);
    EXPECT_TRUE(out.stored);
    const Bytes password = ToBytes(std::string("hunter2-hunter2"));
    ASSERT_EQ(scp_zlib_run(&out, password.data(), password.size(), &wire, SIZE_MAX), SCP_OK);
    EXPECT_NE(std::search(wire.data, wire.data + wire.len, password.begin(), password.end()), wire.data + wire.len);
    ASSERT_EQ(scp_zlib_run(&in, wire.data, wire.len, &clear, 1000), SCP_OK);
    EXPECT_EQ(ToBytes(clear), password);
    // A second stop changes nothing.
    const std::size_t before = wire.len;
    EXPECT_EQ(scp_zlib_stop_compressing(&out, &wire), SCP_OK);
    EXPECT_EQ(wire.len, before);

    // More than the caller's cap, counting what the buffer already holds.
    wire.len = 0;
    clear.len = 0;
    ASSERT_EQ(scp_zlib_run(&out, banner.data(), banner.size(), &wire, SIZE_MAX), SCP_OK);
    ASSERT_EQ(scp_buf_put(&clear, "xy", 2), SCP_OK);
    EXPECT_EQ(scp_zlib_run(&in, wire.data, wire.len, &clear, banner.size() + 1), SCP_E_RECEIVE);
    scp_buf_free(&wire);
    scp_buf_free(&clear);
    scp_zlib_end(&out);
    scp_zlib_end(&in);
    EXPECT_EQ(out.stream, nullptr);
    EXPECT_EQ(scp_zlib_run(&out, banner.data(), 1, &wire, SIZE_MAX), SCP_E_INTERNAL);
}

bool Keygen(const std::string& args)
{
    return std::system(("ssh-keygen -q -C '' " + args + " >/dev/null 2>&1").c_str()) == 0;
}

// The keys the engine signs with are RSA and DSA; what it signs, its own
// host-key check accepts; keys it cannot use are not taken for keys.
TEST(ScpSharedPrimitives, PrivateKeysOfTheUploadEngine)
{
    if (std::system("command -v ssh-keygen >/dev/null 2>&1") != 0) GTEST_SKIP() << "ssh-keygen is not installed";
    TempDir dir;
    struct Case {
        const char* name;
        const char* args;
        const char* passphrase;
        bool recognised;
        bool loads;
    };
    const Case cases[] = {
        {"rsa-pem", "-t rsa -b 2048 -m PEM -N ''", "", true, true},
        {"rsa-own", "-t rsa -b 2048 -N ''", "", true, true},
        {"dsa-pem", "-t dsa -m PEM -N ''", "", true, true},
        {"rsa-pem-protected", "-t rsa -b 2048 -m PEM -N 'open sesame'", "open sesame", true, true},
        {"rsa-own-protected", "-t rsa -b 2048 -a 2 -N 'open sesame'", "open sesame", false, false},
        {"ed25519", "-t ed25519 -N ''", "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        if (!Keygen(std::string(c.args) + " -f " + path)) {
            EXPECT_STREQ(c.name, "dsa-pem") << "ssh-keygen failed";
            continue;
        }
        EXPECT_EQ(scp_privkey_recognised(path.c_str()), c.recognised);
        ScpPrivKey key{};
        const int rc = scp_privkey_load(path.c_str(), c.passphrase, &key);
        EXPECT_EQ(rc, c.loads ? SCP_OK : SCP_E_AUTHENTICATE);
        if (rc != SCP_OK) continue;
        ScpBuf pub{}, sig{};
        ASSERT_EQ(scp_privkey_public_blob(&key, &pub), SCP_OK);
        const Bytes exchangeHash(32, 0x5a);
        ASSERT_EQ(scp_privkey_sign(&key, exchangeHash.data(), exchangeHash.size(), &sig), SCP_OK);
        ScpHostKey asHost{};
        ASSERT_EQ(scp_hostkey_parse(pub.data, pub.len, &asHost), SCP_OK);
        EXPECT_STREQ(scp_privkey_algorithm(&key), asHost.type == SCP_KEY_DSS ? "ssh-dss" : "ssh-rsa");
        EXPECT_EQ(key.isDss != 0, asHost.type == SCP_KEY_DSS);
        EXPECT_EQ(scp_hostkey_verify(&asHost, sig.data, sig.len, exchangeHash.data(), exchangeHash.size()), SCP_OK);
        Bytes other = exchangeHash;
        other[31] ^= 1;
        EXPECT_EQ(scp_hostkey_verify(&asHost, sig.data, sig.len, other.data(), other.size()), SCP_E_AUTHENTICATE);
        scp_hostkey_free(&asHost);
        scp_buf_free(&pub);
        scp_buf_free(&sig);
        scp_privkey_free(&key);
        EXPECT_EQ(key.key, nullptr);
    }
    ScpPrivKey none{};
    EXPECT_FALSE(scp_privkey_recognised(dir.file("missing").c_str()));
    EXPECT_EQ(scp_privkey_load(dir.file("missing").c_str(), "", &none), SCP_E_AUTHENTICATE);
    EXPECT_FALSE(scp_privkey_recognised(""));
}

TEST(ScpSharedPrimitives, HostKeyBlobsThatNameNoKeyTypeAreRefused)
{
    for (const std::string& type : {std::string("rsa-sha2-256"), std::string("ssh-rsa\0x", 9), std::string("x"),
                                    std::string()}) {
        Bytes blob;
        PutString(blob, type);
        PutString(blob, Bytes{1, 0, 1});
        PutString(blob, Bytes(129, 0x7f));
        ScpHostKey key{};
        EXPECT_EQ(scp_hostkey_parse(blob.data(), blob.size(), &key), SCP_E_AUTHENTICATE) << type;
        EXPECT_EQ(key.impl, nullptr);
    }
    EXPECT_EQ(scp_hostkey_alg_type("rsa-sha2-512"), SCP_KEY_RSA);
    EXPECT_EQ(scp_hostkey_alg_type("ssh-rsa-cert-v01@openssh.com"), SCP_KEY_UNKNOWN);
}

}  // namespace
