#include "scan/jump_hosts.h"

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/root_node.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "scan/scan_error.h"
#include "scan/scan_job.h"

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
        const CHostNode* known = InventoryHost(host, hop);
        const CHostNode& from = known != nullptr ? *known : host;
        login.login = hop.user.empty() ? WideToAnsi(from.m_bstrLogin) : hop.user;
        login.password = WideToAnsi(from.m_bstrPassword);
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
