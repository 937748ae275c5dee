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

std::string ExpandKeyFilePath(std::u16string_view path)
{
    std::string text = WideToAnsi(path);
    if (text.starts_with("~/")) {
        const std::string home = UserHomeFolder();
        if (!home.empty()) text = home + text.substr(1);
    }
    return text;
}

void MakeHostLogin(const SScanRequest& request, SHostLogin& out)
{
    WipeString(out.login);
    WipeString(out.password);
    WipeString(out.keys.passphrase);
    out.login = request.login;
    out.password = request.password;
    out.keys.identityFile = request.keyFile;
    out.keys.passphrase = request.passphrase;
    out.keys.useAgent = request.useAgent || (request.keyFile.empty() && request.password.empty());
}

void MakeHostLogin(const CHostNode& host, SHostLogin& out)
{
    SScanRequest request;
    request.login = WideToAnsi(host.m_bstrLogin);
    request.password = WideToAnsi(host.m_bstrPassword);
    request.keyFile = ExpandKeyFilePath(host.m_bstrKeyFile);
    request.passphrase = WideToAnsi(host.m_bstrPassphrase);
    request.useAgent = host.m_bUseAgent;
    MakeHostLogin(request, out);
}

bool HostKeyNeedsPassphrase(const CHostNode& host)
{
    if (host.m_bstrKeyFile.empty() || !host.m_bstrPassphrase.empty()) return false;
    // Without a passphrase the file is only read, never decrypted.
    sshcrypto::CPrivateKey key;
    return sshcrypto::LoadPrivateKeyFile(ExpandKeyFilePath(host.m_bstrKeyFile), {}, key).code ==
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
