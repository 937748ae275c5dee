#include "scan/jump_hosts.h"

#include "res/module_strings.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "scan/scan_error.h"
#include "scan/scan_job.h"

namespace {

constexpr UINT kJumpOwnLogin = 702;

}  // namespace

SJumpLogin::~SJumpLogin()
{
    WipeString(password);
    WipeString(keys.passphrase);
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
