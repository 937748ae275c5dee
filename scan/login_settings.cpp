#include "scan/login_settings.h"

#include "inventory/host_node.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "ssh2/crypto/private_key.h"

const char* LoginMethodName(ELoginMethod method)
{
    switch (method) {
    case LOGIN_KEY_FILE: return "key-file";
    case LOGIN_AGENT: return "agent";
    case LOGIN_PASSWORD: break;
    }
    return "password";
}

SHostLogin::~SHostLogin()
{
    WipeString(login);
    WipeString(password);
    WipeString(keys.passphrase);
}

namespace {

std::string KeyFilePath(std::u16string_view path)
{
    std::string text = WideToAnsi(path);
    if (text.starts_with("~/")) {
        const std::string home = UserHomeFolder();
        if (!home.empty()) text = home + text.substr(1);
    }
    return text;
}

}  // namespace

void MakeHostLogin(const CHostNode& host, SHostLogin& out)
{
    WipeString(out.login);
    WipeString(out.password);
    WipeString(out.keys.passphrase);
    out.login = WideToAnsi(host.m_bstrLogin);
    out.password = WideToAnsi(host.m_bstrPassword);
    out.keys.identityFile = KeyFilePath(host.m_bstrKeyFile);
    out.keys.passphrase = WideToAnsi(host.m_bstrPassphrase);
    out.keys.useAgent = host.m_bUseAgent || (host.m_bstrKeyFile.empty() && host.m_bstrPassword.empty());
}

bool HostKeyNeedsPassphrase(const CHostNode& host)
{
    if (host.m_bstrKeyFile.empty() || !host.m_bstrPassphrase.empty()) return false;
    // Without a passphrase the file is only read, never decrypted.
    sshcrypto::CPrivateKey key;
    return sshcrypto::LoadPrivateKeyFile(KeyFilePath(host.m_bstrKeyFile), {}, key).code ==
           sshcrypto::KF_NEEDS_PASSPHRASE;
}

void UseHostLoginKeys(const SHostLogin& login)
{
    SLoginKeys keys;
    keys.identityFile = login.keys.identityFile;
    keys.passphrase = login.keys.passphrase;
    keys.useAgent = login.keys.useAgent;
    CSSH2::SetLoginKeys(std::move(keys));
    WipeString(keys.passphrase);  // what a move may leave in a short string's buffer
}
