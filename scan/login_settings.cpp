#include "scan/login_settings.h"

#include "platform/paths.h"
#include "platform/text.h"
#include "sshcore/private_key.h"

SHostLogin::~SHostLogin()
{
    WipeString(login);
    WipeString(password);
    WipeString(keys.passphrase);
}

std::string ExpandKeyFilePath(std::u16string_view paths)
{
    // Each path of the list on its own line, "~/" as the home folder.
    const std::string home = UserHomeFolder();
    std::string expanded;
    for (std::string path : sshcore::KeyFileList(WideToAnsi(paths))) {
        if (path.starts_with("~/") && !home.empty()) path = home + path.substr(1);
        if (!expanded.empty()) expanded += '\n';
        expanded += path;
    }
    return expanded;
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

void UseHostLoginKeys(const SHostLogin& login)
{
    SLoginKeys keys;
    keys.identityFile = login.keys.identityFile;
    keys.passphrase = login.keys.passphrase;
    keys.useAgent = login.keys.useAgent;
    CSSH2::SetLoginKeys(std::move(keys));
    WipeString(keys.passphrase);  // what a move may leave in a short string's buffer
}
