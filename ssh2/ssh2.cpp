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

}  // namespace

// ------------------------------------------------------------- the facade

int CSSH2::Connect(const char* host, unsigned port, int timeoutSeconds, HostKeyCallback callback, void* callbackData)
{
    auto& current = CurrentSession();
    try {
        current = std::make_unique<CSSH2>();
    } catch (...) {
        current.reset();
        return SSH_INTERNAL_ERROR;
    }
    current->m_pCallback = callback;
    current->m_pCallbackData = callbackData;
    const int result = current->ConnectStep(host, port, timeoutSeconds);
    if (result != SSH_NO_ERRORS) current.reset();
    return result;
}

int CSSH2::Login(const char* user, const char* password, unsigned char compress, std::uint32_t absentKeyPolicy,
                 std::uint32_t changedKeyPolicy)
{
    CSSH2* session = Current();
    if (!session) return SSH_NOT_CONNECTED;
    session->m_bCompressOut = session->m_bCompressIn = compress != 0;
    session->m_nAbsentKeyPolicy = absentKeyPolicy;
    session->m_nChangedKeyPolicy = changedKeyPolicy;
    return session->LoginStep(user, password);
}

int CSSH2::Exec(const char* command)
{
    CSSH2* session = Current();
    return session ? session->ExecStep(command) : SSH_NOT_LOGINED;
}

std::uint32_t CSSH2::GetExitStatus()
{
    CSSH2* session = Current();
    return session ? session->m_nExitStatus : 0;
}

std::string CSSH2::GetOutput()
{
    CSSH2* session = Current();
    return session ? session->m_strOutput : std::string();
}

int CSSH2::Disconnect()
{
    auto& current = CurrentSession();
    if (!current) return SSH_NOT_CONNECTED;
    const int result = current->DisconnectStep();
    current.reset();
    return result;
}

CSSH2* CSSH2::Current() { return CurrentSession().get(); }

// ------------------------------------------------------ the session object

namespace {

std::unique_ptr<CSshPacketLog> OpenPacketLog()
{
    const EPacketLogLevel level = CSshPacketLog::LevelFromEnvironment();
    if (level == PACKETLOG_OFF) return nullptr;
    const std::string path = CSshPacketLog::DefaultPath();
    return path.empty() ? nullptr : std::make_unique<CSshPacketLog>(path, level);
}

}  // namespace

CSSH2::CSSH2() : m_pLog(OpenPacketLog()), m_transport(m_socket, CRandomPool::Instance(), m_pLog.get()) {}

CSSH2::~CSSH2()
{
    WipeString(m_strPassword);
}

template <typename Step>
int CSSH2::RunStep(Step step)
{
    try {
        step();
        return SSH_NO_ERRORS;
    } catch (ESSHErrors error) {
        if (error == SSH_SERVER_DISCONNECT) m_strOutput = m_transport.DisconnectText();
        return error;
    } catch (...) {
        return SSH_INTERNAL_ERROR;
    }
}

int CSSH2::ConnectStep(const char* host, unsigned port, int timeoutSeconds)
{
    return RunStep([&] {
        if (m_nState != SS_IDLE) throw SSH_ALREADY_CONNECTED;
        m_strHost = host ? host : "";
        m_nPort = port;
        if (m_strHost.empty()) throw SSH_EMPTY_HOST;
        if (timeoutSeconds >= 1) m_socket.SetTimeoutSeconds(timeoutSeconds);
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
        m_transport.SendIdentification(kClientVersion);
        m_strServerVersion = m_transport.ReadIdentification();
        m_transport.ReadPacket();
        KeyExchange();
        Authenticate();
        m_nState = SS_LOGGED_IN;
    });
    WipeString(m_strPassword);
    return result;
}

int CSSH2::ExecStep(const char* command)
{
    m_strCommand = command ? command : "";
    return RunStep([&] {
        if (m_nState != SS_LOGGED_IN) throw SSH_NOT_LOGINED;
        OpenSessionChannel();
        RunCommand();
    });
}

int CSSH2::DisconnectStep()
{
    return RunStep([&] {
        if (m_nState == SS_IDLE) throw SSH_NOT_CONNECTED;
        m_socket.Close();
        CRandomPool::Instance().SaveSeed();
        m_transport.ReleaseAlgorithms();
        m_pHostKey.reset();
        m_nState = SS_IDLE;
    });
}
