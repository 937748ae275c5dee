#include "inventory/host_login.h"

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/root_node.h"
#include "platform/text.h"
#include "res/module_strings.h"
#include "scan/jump_route.h"
#include "scan/scan_error.h"
#include "sshcore/private_key.h"

namespace {

constexpr UINT kJumpRouteForm = 700;

const CHostNode* InventoryHost(const CHostNode& scanned, const SJumpHop& hop)
{
    if (scanned.m_pGroup == nullptr || scanned.m_pGroup->m_pRoot == nullptr) return nullptr;
    const std::u16string address = AnsiToWide(hop.host);
    const std::u16string login = AnsiToWide(hop.user);
    for (const auto& group : scanned.m_pGroup->m_pRoot->GetChildren())
        for (const auto& child : group->GetChildren()) {
            const auto* host = dynamic_cast<const CHostNode*>(child.get());
            if (host == nullptr || host == &scanned || host->m_bstrHost != address || host->m_nPort != hop.port)
                continue;
            if (!login.empty() && host->m_bstrLogin != login) continue;
            return host;
        }
    return nullptr;
}

}  // namespace

std::vector<SJumpLogin> ResolveJumpHosts(const CHostNode& host)
{
    std::vector<SJumpHop> hops;
    if (!ParseJumpRoute(WideToAnsi(host.m_bstrJump), hops)) throw CScanError::Text(LoadString(g_hInstance, kJumpRouteForm));
    std::vector<SJumpLogin> route;
    for (SJumpHop& hop : hops) {
        SJumpLogin login;
        SHostLogin record;
        if (const CHostNode* known = InventoryHost(host, hop)) {
            // The hop's own record, as a scan of it would log in.
            MakeHostLogin(*known, record);
            login.inventory = true;
            login.login = hop.user.empty() ? record.login : hop.user;
            login.password = record.password;
            login.keys.useAgent = record.keys.useAgent;
        } else {
            // A name and the keys the console holds anyway; a password of
            // the fleet is never a stranger's to see.
            MakeHostLogin(host, record);
            login.login = hop.user.empty() ? record.login : hop.user;
            login.keys.useAgent = true;
        }
        login.keys.identityFile = record.keys.identityFile;
        login.keys.passphrase = record.keys.passphrase;
        login.hop = std::move(hop);
        route.push_back(std::move(login));
    }
    return route;
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
    // Without a passphrase a file is only read, never decrypted.
    for (const std::string& path : sshcore::KeyFileList(ExpandKeyFilePath(host.m_bstrKeyFile))) {
        sshcore::CPrivateKey key;
        if (sshcore::LoadPrivateKeyFile(path, {}, key).code == sshcore::KF_NEEDS_PASSPHRASE) return true;
    }
    return false;
}

