#include "ssh2/ssh2.h"

#include "platform/text.h"
#include "ssh2/kex.h"
#include "ssh2/random.h"

namespace {

std::unique_ptr<CSSH2>& CurrentSession()
{
    static std::unique_ptr<CSSH2> session;
    return session;
}

// Process-wide, as the current session is: one thread uses the facade.
SSshLimits g_limits;
SSshFailure g_lastFailure;
std::vector<SJumpHost> g_jumpHosts;

std::string Plural(long long count, const char* unit)
{
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

}  // namespace

// ------------------------------------------------------------- the facade

int CSSH2::Connect(const char* host, unsigned port, int timeoutSeconds, HostKeyCallback callback, void* callbackData)
{
    auto& current = CurrentSession();
    g_lastFailure = {};
    try {
        current = std::make_unique<CSSH2>();
    } catch (...) {
        current.reset();
        return SSH_INTERNAL_ERROR;
    }
    current->m_pUserCallback = callback;
    current->m_pUserCallbackData = callbackData;
    if (callback != nullptr) {
        current->m_pCallback = TimedHostKeyQuestion;
        current->m_pCallbackData = current.get();
    }
    std::vector<SJumpHost> hops;
    hops.swap(g_jumpHosts);
    const int result = current->ConnectStep(host, port, timeoutSeconds, std::move(hops));
    if (result != SSH_NO_ERRORS) current.reset();
    return result;
}

int CSSH2::Login(const char* user, const char* password, unsigned char compress, std::uint32_t absentKeyPolicy,
                 std::uint32_t changedKeyPolicy)
{
    CSSH2* session = Current();
    g_lastFailure = {};
    if (!session) return SSH_NOT_CONNECTED;
    session->m_bCompressOut = session->m_bCompressIn = compress != 0;
    session->m_nAbsentKeyPolicy = absentKeyPolicy;
    session->m_nChangedKeyPolicy = changedKeyPolicy;
    return session->LoginStep(user, password);
}

int CSSH2::Exec(const char* command)
{
    CSSH2* session = Current();
    g_lastFailure = {};
    return session ? session->ExecStep(command) : SSH_NOT_LOGINED;
}

int CSSH2::ExecWithInput(const char* command, std::string_view input)
{
    CSSH2* session = Current();
    g_lastFailure = {};
    return session ? session->ExecStep(command, input) : SSH_NOT_LOGINED;
}

int CSSH2::ExecWithInputAfterPrompt(const char* command, std::string_view input, std::string_view prompt)
{
    CSSH2* session = Current();
    g_lastFailure = {};
    return session ? session->ExecStep(command, input, prompt) : SSH_NOT_LOGINED;
}

bool CSSH2::InputWasSent()
{
    CSSH2* session = Current();
    return session != nullptr && session->m_bInputSent;
}

std::uint32_t CSSH2::GetExitStatus()
{
    CSSH2* session = Current();
    return session ? session->m_nExitStatus : 0;
}

std::string CSSH2::GetExitSignal()
{
    CSSH2* session = Current();
    return session ? session->m_strExitSignal : std::string();
}

SSshFailure CSSH2::LastFailure() { return g_lastFailure; }

void CSSH2::SetLimits(const SSshLimits& limits)
{
    g_limits = limits;
    if (CSSH2* session = Current()) session->m_limits = limits;
}

SSshLimits CSSH2::Limits() { return g_limits; }

SLoginKeys& LoginKeys()
{
    static SLoginKeys keys;
    return keys;
}

void CSSH2::SetLoginKeys(SLoginKeys keys)
{
    WipeString(LoginKeys().passphrase);
    LoginKeys() = std::move(keys);
    WipeString(keys.passphrase);
}

const std::string& CSSH2::GetOutput()
{
    static const std::string kNone;
    CSSH2* session = Current();
    return session ? session->m_strOutput : kNone;
}

int CSSH2::Disconnect()
{
    auto& current = CurrentSession();
    if (!current) return SSH_NOT_CONNECTED;
    const int result = current->DisconnectStep();
    current.reset();
    return result;
}

void CSSH2::SetJumpHosts(std::vector<SJumpHost> hops)
{
    for (SJumpHost& hop : g_jumpHosts) {
        WipeString(hop.password);
        WipeString(hop.keys.passphrase);
    }
    g_jumpHosts = std::move(hops);
}

CSSH2* CSSH2::Current() { return CurrentSession().get(); }

// ------------------------------------------------------ the session object

namespace {

std::unique_ptr<CSshPacketLog> OpenPacketLog()
{
    const EPacketLogLevel level = CSshPacketLog::LevelFromSettings();
    if (level == PACKETLOG_OFF) return nullptr;
    const std::string path = CSshPacketLog::DefaultPath();
    return path.empty() ? nullptr : std::make_unique<CSshPacketLog>(path, level);
}

}  // namespace

CSSH2::CSSH2()
    : m_pLog(OpenPacketLog()), m_transport(m_route, CRandomPool::Instance(), m_pLog.get()), m_limits(g_limits)
{
}

CSSH2::CSSH2(CSshPacketLog* sharedLog)
    : m_transport(m_route, CRandomPool::Instance(), sharedLog), m_limits(g_limits)
{
}

CSSH2::~CSSH2()
{
    WipeString(m_strPassword);
    WipeString(m_strJumpPassword);
    WipeString(m_jumpKeys.passphrase);
}

template <typename Step>
int CSSH2::RunStep(Step step)
{
    m_failure = {};
    WaitSocket().ClearFailure();
    int result = SSH_NO_ERRORS;
    try {
        step();
    } catch (ESSHErrors error) {
        if (error == SSH_SERVER_DISCONNECT) m_strOutput = DisconnectTextOf();
        result = error;
    } catch (...) {
        result = SSH_INTERNAL_ERROR;
    }
    if (result != SSH_NO_ERRORS && m_failure.text.empty() && m_pTunnel) m_failure.text = m_pTunnel->Failure();
    if (result != SSH_NO_ERRORS && m_failure.text.empty()) {
        m_failure.text = WaitSocket().Failure();
        if (WaitSocket().DeadlinePassed()) {
            m_failure.limit = m_nStep;
            m_failure.amount = static_cast<std::uint64_t>(m_nStepSeconds);
        }
    }
    EndStep();
    if (m_pLog) m_pLog->Flush();
    if (result != SSH_NO_ERRORS) g_lastFailure = m_failure;
    return result;
}

int CSSH2::TimedHostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void* data)
{
    auto* session = static_cast<CSSH2*>(data);
    // The facade's session shows the report of the key asked about.
    for (CSSH2* outer = session->m_pOuter; outer != nullptr; outer = outer->m_pOuter)
        outer->m_hostKeyReport = session->m_hostKeyReport;
    const auto asked = CDeadline::Clock::now();
    const int answer =
        session->m_pUserCallback(reserved, host, fingerprint, absent, session->m_pUserCallbackData);
    session->WaitSocket().PostponeDeadline(
        std::chrono::duration_cast<std::chrono::milliseconds>(CDeadline::Clock::now() - asked));
    return answer;
}

void CSSH2::StartStep(ESshLimit limit, int seconds, const std::string& message)
{
    StartStep(limit, seconds, CDeadline::InSeconds(seconds), message);
}

void CSSH2::StartStep(ESshLimit limit, int seconds, const CDeadline& deadline, const std::string& message)
{
    m_nStep = limit;
    m_nStepSeconds = seconds;
    WaitSocket().SetDeadline(deadline, message + " within " + Plural(seconds, "second"));
}

void CSSH2::EndStep()
{
    m_nStep = SL_NONE;
    m_nStepSeconds = 0;
    WaitSocket().ClearDeadline();
}

void CSSH2::Fail(ESSHErrors code, ESshLimit limit, std::uint64_t amount, std::string text)
{
    m_failure.limit = limit;
    m_failure.amount = amount;
    m_failure.text = std::move(text);
    throw code;
}

int CSSH2::ConnectStep(const char* host, unsigned port, int timeoutSeconds, std::vector<SJumpHost> hops)
{
    struct SHopsWipe {
        std::vector<SJumpHost>& hops;
        ~SHopsWipe()
        {
            for (SJumpHost& hop : hops) WipeString(hop.password);
        }
    } wipe{hops};
    return RunStep([&] {
        if (m_nState != SS_IDLE) throw SSH_ALREADY_CONNECTED;
        m_strHost = host ? host : "";
        m_nPort = port;
        if (m_strHost.empty()) throw SSH_EMPTY_HOST;
        if (timeoutSeconds >= 1) m_socket.SetTimeoutSeconds(timeoutSeconds);
        if (!hops.empty()) {
            ConnectThroughJump(std::move(hops), timeoutSeconds);
            m_transport.Reset();
            m_nState = SS_CONNECTED;
            return;
        }
        // One limit for the connection and the version line that follows.
        m_connectDeadline = CDeadline::InSeconds(m_limits.connectSeconds);
        StartStep(SL_CONNECT, m_limits.connectSeconds, m_connectDeadline,
                  "connect to host " + m_strHost + " port " + std::to_string(m_nPort) + ": no connection");
        m_socket.Create(winsock::AF_INET, winsock::SOCK_STREAM, 0);
        const std::uint32_t one = 1;
        m_socket.SetOption(winsock::SO_OOBINLINE, &one, sizeof one, winsock::SOL_SOCKET);
        // Window adjustments are small writes that the server waits for.
        m_socket.SetOption(winsock::TCP_NODELAY, &one, sizeof one, winsock::IPPROTO_TCP);
        m_socket.Connect(m_strHost.c_str(), m_nPort);
        m_transport.Reset();
        m_nState = SS_CONNECTED;
    });
}

int CSSH2::LoginStep(const char* user, const char* password)
{
    m_strUser = user ? user : "";
    WipeString(m_strPassword);
    m_strPassword = password ? password : "";
    const int result = RunStep([&] {
        if (m_nState != SS_CONNECTED) throw SSH_NOT_CONNECTED;
        if (m_pJump) LoginThroughJump();
        const std::string peer = "host " + m_strHost + " port " + std::to_string(m_nPort);
        StartStep(SL_CONNECT, m_limits.connectSeconds, m_connectDeadline, peer + " sent no version line");
        m_transport.SendIdentification(kClientVersion);
        m_strServerVersion = m_transport.ReadIdentification();
        StartStep(SL_LOGIN, m_limits.loginSeconds, "the key exchange and login with " + peer + " did not finish");
        m_transport.ReadPacket();
        KeyExchange();
        Authenticate();
        m_nState = SS_LOGGED_IN;
    });
    WipeString(m_strPassword);
    return result;
}

int CSSH2::ExecStep(const char* command, std::string_view input, std::string_view prompt)
{
    m_strCommand = command ? command : "";
    WipeString(m_strInput);
    m_strInput.reserve(input.size());
    m_strInput.assign(input);
    m_nInputSent = 0;
    // A command without input gets no end of input either, as before.
    m_bInputEnded = input.empty();
    m_strPrompt.assign(prompt);
    m_strPromptSeen.clear();
    m_bInputHeld = !input.empty() && !prompt.empty();
    m_bInputSent = false;
    struct SInputWipe {
        CSSH2& session;
        ~SInputWipe()
        {
            if (session.m_strInput.empty()) return;
            WipeString(session.m_strInput);
            session.m_transport.WipeOutgoing();
        }
    } wipe{*this};
    return RunStep([&] {
        if (m_nState != SS_LOGGED_IN) throw SSH_NOT_LOGINED;
        // Nothing of an earlier command's end stays.
        m_nExitStatus = kNoExitStatus;
        m_strExitSignal.clear();
        // One limit for the whole command; a server that never opens the
        // channel is told apart from a command that never ends.
        const CDeadline deadline = CDeadline::InSeconds(m_limits.commandSeconds);
        StartStep(SL_CHANNEL, m_limits.commandSeconds, deadline, "the host did not open a channel for the command");
        OpenSessionChannel();
        StartStep(SL_COMMAND, m_limits.commandSeconds, deadline, "the command did not finish");
        RunCommand();
    });
}

int CSSH2::DisconnectStep()
{
    return RunStep([&] {
        if (m_nState == SS_IDLE) throw SSH_NOT_CONNECTED;
        m_socket.Close();
        CloseJump();
        CRandomPool::Instance().SaveSeed();
        m_transport.ReleaseAlgorithms();
        m_pHostKey.reset();
        m_nState = SS_IDLE;
    });
}
