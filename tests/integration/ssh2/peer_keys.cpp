#include "tests/integration/ssh2/peer_keys.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_helpers.h"

std::string PublicKeyPart(const std::string& line)
{
    const std::size_t second = line.find(' ', line.find(' ') + 1);
    return line.substr(0, second == std::string::npos ? line.find('\n') : second);
}

std::string KeygenSha256(const std::string& pubPath)
{
    const std::string line = ShellOutput("/usr/bin/ssh-keygen -l -E sha256 -f '" + pubPath + "'");
    const std::size_t at = line.find("SHA256:");
    return at == std::string::npos ? "" : line.substr(at, line.find(' ', at) - at);
}

std::string NewKey(const std::string& path, const std::string& args, const std::string& passphrase,
                   const std::string& folder)
{
    const std::string make = "/usr/bin/ssh-keygen -q -C '' -a 2 " + args + " -N '" + passphrase + "' -f " + path;
    if (std::system((make + " >/dev/null 2>&1").c_str()) != 0) return "";
    if (!folder.empty()) {
        std::FILE* out = std::fopen((folder + "/authorized_keys").c_str(), "a");
        if (!out) return "";
        std::fputs(peer::ReadWholeFile(path + ".pub").c_str(), out);
        std::fclose(out);
    }
    return KeygenSha256(path + ".pub");
}

namespace {

std::string HexNumber(const std::string& bytes, bool trim)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) hex += {kDigits[c >> 4], kDigits[c & 15]};
    if (!trim) return hex;
    const std::size_t first = hex.find_first_not_of('0');
    return first == std::string::npos ? "0" : hex.substr(first);
}

}  // namespace

SCacheEntry ExpectedCacheEntry(const std::string& publicLine)
{
    const std::string b64 = PublicKeyPart(publicLine).substr(publicLine.find(' ') + 1);
    std::string blob(b64.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(blob.data()),
                                  reinterpret_cast<const unsigned char*>(b64.data()), static_cast<int>(b64.size()));
    if (n <= 0) return {};
    std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = b64.size(); i > 0 && b64[i - 1] == '='; --i) --size;
    blob.resize(size);
    std::vector<std::string> fields;  // the blob's SSH strings, in order
    for (std::size_t at = 0; at + 4 <= blob.size();) {
        std::size_t length = 0;
        for (std::size_t i = 0; i < 4; ++i) length = length << 8 | static_cast<unsigned char>(blob[at + i]);
        if (at + 4 + length > blob.size()) return {};
        fields.push_back(blob.substr(at + 4, length));
        at += 4 + length;
    }
    if (fields.size() < 2) return {};
    if (fields[0] == "ssh-ed25519") return {"ssh-ed25519", "0x" + HexNumber(fields[1], false)};
    if (fields[0] == "ecdsa-sha2-nistp256" && fields.size() == 3 && fields[2].size() == 65)
        return {"ecdsa-sha2-nistp256", "nistp256,0x" + HexNumber(fields[2].substr(1, 32), true) + ",0x" +
                                           HexNumber(fields[2].substr(33), true)};
    SCacheEntry entry{fields[0] == "ssh-rsa" ? "rsa2" : "dss", ""};
    for (std::size_t i = 1; i < fields.size(); ++i)
        entry.text += (i > 1 ? ",0x" : "0x") + HexNumber(fields[i], true);
    return entry;
}

std::string StoredHostKey(const std::string& cacheType, int port)
{
    std::u16string text;
    const std::u16string name = AnsiToWide(cacheType + "@" + std::to_string(port) + ":127.0.0.1");
    return RegReadString(HKEY_CURRENT_USER, u"Software\\Quillon\\Corvel\\SshHostKeys", name, text) ? WideToAnsi(text)
                                                                                                  : "";
}

std::unique_ptr<SshdPeer> NewBastion(bool forwarding, bool passwords)
{
    SshdOptions options;
    options.passwordLogins = passwords;
    options.extraConfig = {std::string("AllowTcpForwarding ") + (forwarding ? "yes" : "no")};
    options.logLevel = "DEBUG";
    return std::make_unique<SshdPeer>(options);
}

bool ForwardedTo(const SshdPeer& bastion, int port)
{
    return bastion.logText().find("target 127.0.0.1 port " + std::to_string(port)) != std::string::npos;
}

std::vector<SAlgorithmAlone> CurrentAlgorithmsAlone()
{
    std::vector<SAlgorithmAlone> cases;
    for (const char* kex : {"curve25519-sha256", "curve25519-sha256@libssh.org", "ecdh-sha2-nistp256",
                            "diffie-hellman-group14-sha256", "diffie-hellman-group16-sha512",
                            "diffie-hellman-group-exchange-sha256"})
        cases.push_back({kex, 0, {std::string("KexAlgorithms ") + kex}, "rsa"});
    for (const auto& [name, type] : std::vector<std::pair<std::string, std::string>>{
             {"ssh-ed25519", "ed25519"}, {"ecdsa-sha2-nistp256", "ecdsa"}, {"rsa-sha2-512", "rsa"},
             {"rsa-sha2-256", "rsa"}})
        cases.push_back({name, 1, {"HostKeyAlgorithms " + name}, type});
    for (const char* cipher : {"aes256-gcm@openssh.com", "aes128-gcm@openssh.com", "chacha20-poly1305@openssh.com",
                               "aes256-ctr", "aes192-ctr", "aes128-ctr"})
        cases.push_back({cipher, 2, {std::string("Ciphers ") + cipher}, "ed25519"});
    for (const char* mac : {"hmac-sha2-256-etm@openssh.com", "hmac-sha2-512-etm@openssh.com", "hmac-sha2-256",
                            "hmac-sha2-512"})
        cases.push_back({mac, 4, {"Ciphers aes128-ctr", std::string("MACs ") + mac}, "ed25519"});
    cases.push_back({"zlib@openssh.com", 6, {}, "ed25519"});
    return cases;
}

std::string AlgorithmAloneName(const ::testing::TestParamInfo<SAlgorithmAlone>& info)
{
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}
