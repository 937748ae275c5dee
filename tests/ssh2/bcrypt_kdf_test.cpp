// The bcrypt key derivation: published vectors and its argument bounds (the
// key files ssh-keygen protects with it are opened in private_key_test).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sshcore/bcrypt_kdf.h"
#include "tests/ssh2/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromText(const std::string &text)
{
    return Bytes(text.begin(), text.end());
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

} // namespace
