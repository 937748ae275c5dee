#include "scan/jump_hosts.h"

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/root_node.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "scan/login_settings.h"
#include "scan/scan_error.h"
#include "scan/scan_job.h"

namespace {

constexpr UINT kJumpRouteForm = 700;
constexpr UINT kJumpOwnLogin = 702;

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

SJumpLogin::~SJumpLogin()
{
    WipeString(password);
    WipeString(keys.passphrase);
}

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

std::vector<SJumpHost> ClientJumpHosts(const std::vector<SJumpLogin>& route)
{
    std::vector<SJumpHost> hosts;
    for (const SJumpLogin& jump : route)
        hosts.push_back(
            SJumpHost{jump.hop.host, static_cast<std::uint32_t>(jump.hop.port), jump.login, jump.password, jump.keys});
    return hosts;
}

std::u16string OutsideHopRefusal(const std::vector<SJumpLogin>& route, std::string_view where)
{
    for (const SJumpLogin& jump : route) {
        if (jump.inventory || where != jump.hop.host + " port " + std::to_string(jump.hop.port)) continue;
        const std::string name = jump.login + "@" + jump.hop.host + ":" + std::to_string(jump.hop.port);
        std::u16string text = LoadString(g_hInstance, kJumpOwnLogin);
        if (const std::size_t at = text.find(u"%1"); at != std::u16string::npos) text.replace(at, 2, AnsiToWide(name));
        return text;
    }
    return {};
}

void CheckJumpLogin(const std::vector<SJumpLogin>& route, int code)
{
    if (code != SSH_AUTH_FAILED) return;
    std::u16string text = OutsideHopRefusal(route, CSSH2::LastFailure().jump);
    if (text.empty()) return;
    CSSH2::Disconnect();
    throw CScanError::Text(std::move(text));
}

void CheckJumpUpload(const std::vector<SJumpLogin>& route, int code)
{
    if (code != SCP_E_AUTHENTICATE) return;
    char detail[512];
    scp_last_error_detail(detail, sizeof detail);
    // "jump host H port N: what it said"
    constexpr std::string_view kPrefix = "jump host ";
    const std::string_view text = detail;
    const std::size_t end = text.find(": ");
    if (!text.starts_with(kPrefix) || end == std::string_view::npos) return;
    std::u16string refusal = OutsideHopRefusal(route, text.substr(kPrefix.size(), end - kPrefix.size()));
    if (!refusal.empty()) throw CScanError::Text(std::move(refusal));
}
