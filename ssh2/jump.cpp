// The way to a host through jump hosts: a session with the jump host in
// front (itself maybe behind another), logged in with the same key
// policies and questions but with the hop's own login ways, forwards this
// session's connection.
#include "platform/text.h"
#include "ssh2/ssh2.h"

std::string CSSH2::JumpName() const
{
    return m_pJump ? "jump host " + m_pJump->m_strHost + " port " + std::to_string(m_pJump->m_nPort) : std::string();
}

std::string CSSH2::DisconnectTextOf() const
{
    if (!m_transport.DisconnectText().empty()) return m_transport.DisconnectText();
    if (!m_pJump) return {};
    const std::string text = m_pJump->DisconnectTextOf();
    return text.empty() ? text : JumpName() + ": " + text;
}

void CSSH2::FailOnJump(int code)
{
    const SSshFailure& failure = m_pJump->m_failure;
    m_failure.limit = failure.limit;
    m_failure.amount = failure.amount;
    // The failure of a jump host further in front keeps its own name.
    m_failure.jump = failure.jump.empty() ? JumpName().substr(10) : failure.jump;
    m_failure.text = failure.jump.empty() ? JumpName() + ": " + failure.text : failure.text;
    throw static_cast<ESSHErrors>(code);
}

void CSSH2::ConnectThroughJump(std::vector<SJumpHost> hops, int timeoutSeconds)
{
    if (hops.size() > kMaxJumpHosts)
        Fail(SSH_INTERNAL_ERROR, SL_NONE, 0, "more than " + std::to_string(kMaxJumpHosts) + " jump hosts");
    SJumpHost next = std::move(hops.back());
    hops.pop_back();
    m_strJumpUser = next.user;
    WipeString(m_strJumpPassword);
    m_strJumpPassword = next.password;
    WipeString(next.password);
    WipeString(m_jumpKeys.passphrase);
    m_jumpKeys = next.keys;
    WipeString(next.keys.passphrase);

    m_pJump = std::make_unique<CSSH2>(m_transport.Log());
    CSSH2& jump = *m_pJump;
    jump.m_pOuter = this;
    jump.m_limits = m_limits;
    jump.m_pUserCallback = m_pUserCallback;
    jump.m_pUserCallbackData = m_pUserCallbackData;
    if (m_pUserCallback != nullptr) {
        jump.m_pCallback = TimedHostKeyQuestion;
        jump.m_pCallbackData = &jump;
    }
    const int code = jump.ConnectStep(next.host.c_str(), next.port, timeoutSeconds, std::move(hops));
    if (code != SSH_NO_ERRORS) FailOnJump(code);
}

void CSSH2::LoginThroughJump()
{
    CSSH2& jump = *m_pJump;
    jump.m_nAbsentKeyPolicy = m_nAbsentKeyPolicy;
    jump.m_nChangedKeyPolicy = m_nChangedKeyPolicy;
    // What passes through the jump host is already encrypted: compressing it
    // again gains nothing.
    jump.m_bCompressOut = jump.m_bCompressIn = false;
    const int code = jump.LoginStep(m_strJumpUser.c_str(), m_strJumpPassword.c_str());
    WipeString(m_strJumpPassword);
    WipeString(m_jumpKeys.passphrase);
    if (code != SSH_NO_ERRORS) FailOnJump(code);

    m_connectDeadline = CDeadline::InSeconds(m_limits.connectSeconds);
    const std::string target = "host " + m_strHost + " port " + std::to_string(m_nPort);
    StartStep(SL_CONNECT, m_limits.connectSeconds, m_connectDeadline,
              JumpName() + " did not forward the connection to " + target);
    m_pTunnel = std::make_unique<CSshTunnel>(jump.m_transport, JumpName());
    try {
        m_pTunnel->Open(m_strHost, m_nPort);
    } catch (ESSHErrors) {
        m_failure.jump = JumpName().substr(10);
        m_failure.text = m_pTunnel->Failure();
        throw;
    }
    m_route.Set(*m_pTunnel);
}

void CSSH2::CloseJump()
{
    m_route.Set(m_socket);
    if (m_pTunnel) {
        // The jump host may be gone already; nothing is owed to it then.
        try {
            if (m_pJump && m_pJump->WaitSocket().IsOpen()) m_pTunnel->Close();
        } catch (ESSHErrors) {
        }
        m_pTunnel.reset();
    }
    if (m_pJump) {
        m_pJump->DisconnectStep();
        m_pJump.reset();
    }
}
