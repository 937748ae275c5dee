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

CTypedHopPasswords::~CTypedHopPasswords()
{
    for (std::string& password : m_passwords) WipeString(password);
}

const std::string& CTypedHopPasswords::For(std::size_t index, const std::string& stored) const
{
    return index < m_passwords.size() && !m_passwords[index].empty() ? m_passwords[index] : stored;
}

std::vector<SJumpHost> ClientJumpHosts(const std::vector<SJumpLogin>& route, const CTypedHopPasswords& typed)
{
    std::vector<SJumpHost> hosts;
    for (std::size_t i = 0; i < route.size(); ++i) {
        const SJumpLogin& jump = route[i];
        hosts.push_back(SJumpHost{jump.hop.host, static_cast<std::uint32_t>(jump.hop.port), jump.login,
                                  typed.For(i, jump.password), jump.keys});
    }
    return hosts;
}

std::string HopName(const SJumpLogin& jump)
{
    return jump.login + "@" + jump.hop.host + ":" + std::to_string(jump.hop.port);
}

int OutsideHopAt(const std::vector<SJumpLogin>& route, std::string_view where)
{
    for (std::size_t i = 0; i < route.size(); ++i) {
        const SJumpLogin& jump = route[i];
        if (!jump.inventory && where == jump.hop.host + " port " + std::to_string(jump.hop.port))
            return static_cast<int>(i);
    }
    return -1;
}

std::u16string OutsideHopRefusal(const std::vector<SJumpLogin>& route, std::string_view where)
{
    const int at = OutsideHopAt(route, where);
    if (at < 0) return {};
    std::u16string text = LoadString(g_hInstance, kJumpOwnLogin);
    if (const std::size_t mark = text.find(u"%1"); mark != std::u16string::npos)
        text.replace(mark, 2, AnsiToWide(HopName(route[static_cast<std::size_t>(at)])));
    return text;
}

void CheckJumpLogin(const std::vector<SJumpLogin>& route, int code)
{
    if (code != SSH_AUTH_FAILED) return;
    std::u16string text = OutsideHopRefusal(route, CSSH2::LastFailure().jump);
    if (text.empty()) return;
    CSSH2::Disconnect();
    throw CScanError::Text(std::move(text));
}

std::string UploadFailedHop()
{
    char detail[512];
    scp_last_error_detail(detail, sizeof detail);
    // "jump host H port N: what it said"
    constexpr std::string_view kPrefix = "jump host ";
    const std::string_view text = detail;
    const std::size_t end = text.find(": ");
    if (!text.starts_with(kPrefix) || end == std::string_view::npos) return {};
    return std::string(text.substr(kPrefix.size(), end - kPrefix.size()));
}

void CheckJumpUpload(const std::vector<SJumpLogin>& route, int code)
{
    if (code != SCP_E_AUTHENTICATE) return;
    std::u16string refusal = OutsideHopRefusal(route, UploadFailedHop());
    if (!refusal.empty()) throw CScanError::Text(std::move(refusal));
}
