#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "inventory/credential_crypt.h"
#include "tests/support/temp_dir.h"

namespace {

std::string FromHex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct Vector {
    std::string password, plain, cipher;
};

std::vector<Vector> LoadVectors()
{
    std::ifstream in(SourceDir() + "/tests/data/crypt/vectors.txt");
    std::vector<Vector> vectors;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t a = line.find(' ');
        const std::size_t b = line.find(' ', a + 1);
        vectors.push_back({FromHex(line.substr(0, a)), FromHex(line.substr(a + 1, b - a - 1)), FromHex(line.substr(b + 1))});
    }
    return vectors;
}

TEST(CryptCredential, MatchesTheOpensslCommandLine)
{
    const auto vectors = LoadVectors();
    ASSERT_GE(vectors.size(), 10u);
    bool sawZeroInCipher = false;
    for (const auto& v : vectors) {
        std::string out;
        ASSERT_EQ(CryptCredential(v.plain, out, v.password, 1), kCryptOk);
        EXPECT_EQ(out, v.cipher) << "plain length " << v.plain.size();
        std::string back;
        ASSERT_EQ(CryptCredential(v.cipher, back, v.password, 0), kCryptOk);
        EXPECT_EQ(back, v.plain);
        sawZeroInCipher |= v.cipher.find('\0') != std::string::npos;
    }
    EXPECT_TRUE(sawZeroInCipher) << "the vectors should cover cipher bytes that are zero";
}

TEST(CryptCredential, KeepsLengthsUpToTheLimitAndRefusesMore)
{
    for (std::size_t n : {0u, 1u, 16u, 17u, 511u, 512u}) {
        const std::string plain(n, 'a');
        std::string cipher;
        ASSERT_EQ(CryptCredential(plain, cipher, "pw", 1), kCryptOk);
        EXPECT_EQ(cipher.size(), n);
        std::string again;
        CryptCredential(plain, again, "pw", 1);
        EXPECT_EQ(again, cipher);  // deterministic: no salt
    }
    std::string out = "left over";
    EXPECT_EQ(CryptCredential(std::string(513, 'a'), out, "pw", 1), kCryptTooLong);
    EXPECT_TRUE(out.empty());
}

}  // namespace
