// The bcrypt key derivation: published vectors, its argument bounds, and a
// key file that ssh-keygen protected with it.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sshcore/bcrypt_kdf.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromText(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes FromHex(const std::string &hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Derive(const Bytes &pass, const Bytes &salt, std::uint32_t rounds, std::size_t size)
{
    Bytes out(size, 0xAA);
    EXPECT_TRUE(sshcore::BcryptKdf(pass, salt, rounds, out));
    return out;
}

struct SVector {
    std::string pass;
    std::string salt;
    std::uint32_t rounds;
    std::string out;
};

TEST(BcryptKdf, PublishedVectors)
{
    using namespace std::string_literals;
    const SVector vectors[] = {
        {"password", "salt", 4, "5bbf0cc293587f1c3635555c27796598d47e579071bf427e9d8fbe842aba34d9"},
        {"password", "\0"s, 4, "c12b566235eee04c212598970a579a67"},
        {"\0"s, "salt", 4, "6051be18c2f4f82cbf0efee5471b4bb9"},
        {"password\0"s, "salt\0"s, 4, "7410e44cf4fa07bfaac8a928b1727fac001375e7bf7384370f48efd121743050"},
        {"pass\0wor"s, "sa\0l"s, 4, "c2bffd9db38f6569efef4372f4de83c0"},
    };
    for (const SVector &v : vectors) {
        const Bytes expected = FromHex(v.out);
        EXPECT_EQ(Derive(FromText(v.pass), FromText(v.salt), v.rounds, expected.size()), expected) << v.out;
    }
}

TEST(BcryptKdf, ArgumentsOutOfRangeAreRefusedAndLeaveNoOutput)
{
    const Bytes pass = FromText("p");
    const Bytes salt = FromText("s");
    Bytes out(32, 0xAA);
    EXPECT_FALSE(sshcore::BcryptKdf({}, salt, 4, out));
    EXPECT_EQ(out, Bytes(32, 0));
    EXPECT_FALSE(sshcore::BcryptKdf(pass, {}, 4, out));
    EXPECT_FALSE(sshcore::BcryptKdf(pass, salt, 0, out));
    out.assign(32, 0xAA);
    EXPECT_FALSE(sshcore::BcryptKdf(pass, salt, sshcore::kBcryptMaxRounds + 1, out));
    EXPECT_EQ(out, Bytes(32, 0));
    Bytes big(sshcore::kBcryptMaxOutput + 1);
    EXPECT_FALSE(sshcore::BcryptKdf(pass, salt, 1, big));
    EXPECT_FALSE(sshcore::BcryptKdf(pass, salt, 1, std::span<std::uint8_t>()));
}

// Reads a big-endian length-prefixed string at `at` of `blob`.
Bytes TakeString(const Bytes &blob, std::size_t &at)
{
    if (at + 4 > blob.size()) throw std::runtime_error("short");
    const std::size_t n = (std::size_t{blob[at]} << 24) | (std::size_t{blob[at + 1]} << 16) |
                          (std::size_t{blob[at + 2]} << 8) | blob[at + 3];
    at += 4;
    if (n > blob.size() - at) throw std::runtime_error("short");
    Bytes out(blob.begin() + static_cast<long>(at), blob.begin() + static_cast<long>(at + n));
    at += n;
    return out;
}

// The 48 bytes (key and counter) that open an aes256-ctr key file that
// ssh-keygen wrote: its two check words come out equal only with the
// right derivation, a multi-block one.
TEST(BcryptKdf, OpensAKeyFileOfSshKeygen)
{
    if (std::system("command -v ssh-keygen >/dev/null 2>&1") != 0) GTEST_SKIP() << "ssh-keygen is not installed";
    TempDir dir;
    const std::string key = dir.file("id");
    const std::string command = "ssh-keygen -q -t ed25519 -a 3 -Z aes256-ctr -N "
                                "'correct horse' -C '' -f " +
                                key + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(key);
    std::string line, base64;
    while (std::getline(in, line))
        if (line.find("-----") == std::string::npos) base64 += line;
    Bytes blob(base64.size());
    const int decoded = EVP_DecodeBlock(blob.data(), reinterpret_cast<const unsigned char *>(base64.data()),
                                        static_cast<int>(base64.size()));
    ASSERT_GT(decoded, 0);
    blob.resize(static_cast<std::size_t>(decoded));
    std::size_t at = 15; // "openssh-key-v1" and its zero
    ASSERT_EQ(std::string(blob.begin(), blob.begin() + 14), "openssh-key-v1");
    EXPECT_EQ(TakeString(blob, at), FromText("aes256-ctr"));
    EXPECT_EQ(TakeString(blob, at), FromText("bcrypt"));
    const Bytes options = TakeString(blob, at);
    std::size_t o = 0;
    const Bytes salt = TakeString(options, o);
    ASSERT_EQ(o + 4, options.size());
    const std::uint32_t rounds = (std::uint32_t{options[o]} << 24) | (std::uint32_t{options[o + 1]} << 16) |
                                 (std::uint32_t{options[o + 2]} << 8) | options[o + 3];
    EXPECT_EQ(rounds, 3u);
    at += 4;              // the key count
    TakeString(blob, at); // the public key
    const Bytes secret = TakeString(blob, at);
    ASSERT_GE(secret.size(), 16u);

    auto checkWordsMatch = [&](const std::string &pass) {
        const Bytes keyIv = Derive(FromText(pass), salt, rounds, 48);
        EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
        unsigned char plain[16];
        int n = 0;
        EVP_DecryptInit_ex(ctx, EVP_aes_256_ctr(), nullptr, keyIv.data(), keyIv.data() + 32);
        EVP_DecryptUpdate(ctx, plain, &n, secret.data(), 16);
        EVP_CIPHER_CTX_free(ctx);
        return std::equal(plain, plain + 4, plain + 4);
    };
    EXPECT_TRUE(checkWordsMatch("correct horse"));
    EXPECT_FALSE(checkWordsMatch("correct horsf"));
}

} // namespace
