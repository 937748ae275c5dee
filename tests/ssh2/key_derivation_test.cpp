// The work a protected key file may ask of its passphrase derivation: keys
// as ssh-keygen and openssl write them with raised work factors load, and
// files asking for more than the stated ceilings are refused at once,
// before any derivation starts.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "sshcore/bcrypt_kdf.h"
#include "sshcore/private_key.h"
#include "tests/ssh2/test_util.h"
#include "tests/support/temp_dir.h"

namespace {

using sshcore::CPrivateKey;
using Clock = std::chrono::steady_clock;

bool Have(const char *tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

sshcore::SKeyFileResult Parse(const std::string &text, const std::string &pass, CPrivateKey &key)
{
    return sshcore::ParsePrivateKey(std::vector<std::uint8_t>(text.begin(), text.end()), pass, "key", key);
}

// The base64 body of a PEM-style file, decoded, and back.
std::vector<std::uint8_t> DecodeBody(const std::string &text, std::string &head, std::string &tail)
{
    const std::size_t start = text.find('\n') + 1;
    const std::size_t end = text.find("-----END");
    head = text.substr(0, start);
    tail = text.substr(end);
    std::string b64;
    for (char c : text.substr(start, end - start))
        if (c != '\n') b64 += c;
    std::vector<std::uint8_t> out(b64.size() / 4 * 3 + 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(b64.data()),
                                  static_cast<int>(b64.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (b64.ends_with("==")) out.resize(out.size() - 2);
    else if (b64.ends_with("=")) out.resize(out.size() - 1);
    return out;
}

std::string EncodeBody(const std::vector<std::uint8_t> &body, const std::string &head, const std::string &tail)
{
    const std::string b64 = Base64(body);
    std::string text = head;
    for (std::size_t i = 0; i < b64.size(); i += 64) text += b64.substr(i, 64) + "\n";
    return text + tail;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

// ssh-keygen -a 1100 (made once, passphrase "pw"): above the old bound of
// 1024 rounds and well within today's ceiling. A file asking for one round
// more than the ceiling, or none, is refused without deriving anything.
TEST(KeyDerivation, BcryptRoundsUpToTheCeiling)
{
    CPrivateKey key;
    const std::string text = ReadWholeFile(SourceDir() + "/tests/ssh2/data/ed25519_rounds1100.key");
    ASSERT_FALSE(text.empty());
    const auto loaded = Parse(text, "pw", key);
    ASSERT_EQ(loaded.code, sshcore::KF_OK) << loaded.text;
    EXPECT_EQ(key.TypeName(), "ssh-ed25519");

    // The rounds sit after the magic, the cipher and kdf names, the options'
    // length and the 16-byte salt's length and bytes.
    std::string head, tail;
    std::vector<std::uint8_t> body = DecodeBody(text, head, tail);
    const std::size_t at = 15 + (4 + 10) + (4 + 6) + 4 + (4 + 16);
    ASSERT_GT(body.size(), at + 4);
    ASSERT_EQ(body[at + 2], 0x04);  // 1100 = 0x044c
    ASSERT_EQ(body[at + 3], 0x4c);
    for (std::uint32_t rounds : {sshcore::kBcryptMaxRounds + 1, 0x7fffffffu, 0u}) {
        SCOPED_TRACE(rounds);
        for (int i = 0; i < 4; ++i) body[at + i] = static_cast<std::uint8_t>(rounds >> (24 - 8 * i));
        CPrivateKey refused;
        const auto start = Clock::now();
        const auto result = Parse(EncodeBody(body, head, tail), "pw", refused);
        EXPECT_LT(SecondsSince(start), 2.0);
        EXPECT_EQ(result.code, sshcore::KF_UNSUPPORTED) << result.text;
        EXPECT_NE(result.text.find(std::to_string(rounds) + " bcrypt rounds"), std::string::npos) << result.text;
        EXPECT_EQ(refused.Handle(), nullptr);
    }
}

// A PKCS #8 file from openssl with 8388608 PBKDF2 iterations (under the cap
// of ten million) loads; the same file with its count raised to 2^31 - 1 is
// refused at once with a message that names both counts, even with the right
// passphrase and before one is asked for.
TEST(KeyDerivation, Pkcs8IterationCountIsCapped)
{
    if (!Have("openssl")) GTEST_SKIP() << "openssl is not installed";
    TempDir dir;
    const std::string plain = dir.file("plain.pem");
    const std::string sealed = dir.file("sealed.pem");
    ASSERT_EQ(std::system(("openssl genpkey -algorithm ed25519 -out " + plain + " 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("openssl pkcs8 -topk8 -v2 aes-256-cbc -iter 8388608 -passout pass:pw -in " + plain +
                           " -out " + sealed)
                              .c_str()),
              0);
    const std::string text = ReadWholeFile(sealed);
    CPrivateKey key;
    const auto loaded = Parse(text, "pw", key);
    ASSERT_EQ(loaded.code, sshcore::KF_OK) << loaded.text;

    // INTEGER 8388608 is 02 04 00 80 00 00 in the DER.
    std::string head, tail;
    std::vector<std::uint8_t> body = DecodeBody(text, head, tail);
    const std::vector<std::uint8_t> count = {0x02, 0x04, 0x00, 0x80, 0x00, 0x00};
    auto found = std::search(body.begin(), body.end(), count.begin(), count.end());
    ASSERT_NE(found, body.end());
    found[2] = 0x7f;
    found[3] = found[4] = found[5] = 0xff;
    const std::string huge = EncodeBody(body, head, tail);
    for (const char *pass : {"pw", ""}) {
        SCOPED_TRACE(pass);
        CPrivateKey refused;
        const auto start = Clock::now();
        const auto result = Parse(huge, pass, refused);
        EXPECT_LT(SecondsSince(start), 2.0);
        EXPECT_EQ(result.code, sshcore::KF_UNSUPPORTED) << result.text;
        EXPECT_NE(result.text.find("2147483647 iterations; at most 10000000"), std::string::npos) << result.text;
        EXPECT_EQ(refused.Handle(), nullptr);
    }
}

// scrypt is held to its own caps (N and r * p), read the same way.
TEST(KeyDerivation, Pkcs8ScryptCostIsCapped)
{
    if (!Have("openssl")) GTEST_SKIP() << "openssl is not installed";
    TempDir dir;
    const std::string plain = dir.file("plain.pem");
    ASSERT_EQ(std::system(("openssl genpkey -algorithm ed25519 -out " + plain + " 2>/dev/null").c_str()), 0);
    auto make = [&](const std::string &name, const std::string &options) {
        const std::string path = dir.file(name);
        const std::string command = "openssl pkcs8 -topk8 -v2 aes-256-cbc -scrypt " + options +
                                    " -passout pass:pw -in " + plain + " -out " + path + " 2>/dev/null";
        return std::system(command.c_str()) == 0 ? ReadWholeFile(path) : std::string();
    };
    const std::string fine = make("fine.pem", "-scrypt_N 16384 -scrypt_r 8 -scrypt_p 1");
    ASSERT_FALSE(fine.empty());
    CPrivateKey key;
    const auto loaded = Parse(fine, "pw", key);
    EXPECT_EQ(loaded.code, sshcore::KF_OK) << loaded.text;
    const std::string lanes = make("lanes.pem", "-scrypt_N 1024 -scrypt_r 8 -scrypt_p 5");
    ASSERT_FALSE(lanes.empty());
    CPrivateKey refused;
    const auto result = Parse(lanes, "pw", refused);
    EXPECT_EQ(result.code, sshcore::KF_UNSUPPORTED) << result.text;
    EXPECT_NE(result.text.find("r=8, p=5"), std::string::npos) << result.text;
}
