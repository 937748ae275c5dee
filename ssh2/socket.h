// The client's one TCP connection: connect, whole-buffer writes and reads
// that wait for data with a time-out, all within the deadline of the step
// under way. Failures raise ESSHErrors and leave a text that says what
// failed (Failure()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/deadline.h"
#include "platform/winsock.h"

// What the transport reads from and writes to.
class ISshStream {
public:
    virtual ~ISshStream() = default;
    // Waits for data and reads once: returns 1 to capacity bytes, or raises
    // (time-out 17, closed connection 16, other socket errors).
    virtual std::size_t ReceiveSome(std::uint8_t* buffer, std::size_t capacity) = 0;
    virtual void SendAll(const std::uint8_t* data, std::size_t size) = 0;
};

class CSshSocket final : public ISshStream {
public:
    CSshSocket() = default;
    ~CSshSocket() override;
    CSshSocket(const CSshSocket&) = delete;
    CSshSocket& operator=(const CSshSocket&) = delete;

    // Starts WinSock when needed, creates the socket and binds it to port 0.
    void Create(int family, int type, int protocol);
    void SetOption(int name, const void* value, int length, int level);
    // host: dotted address or a name to look up. Gives up at the step's
    // deadline, or after the receive time-out when there is none.
    void Connect(const char* host, unsigned port);
    void SendAll(const std::uint8_t* data, std::size_t size) override;
    std::size_t ReceiveSome(std::uint8_t* buffer, std::size_t capacity) override;
    // Reads only when count is 0 (the caller holds no unparsed bytes).
    void Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& count);
    void Close();

    // The step under way must end by `deadline`; when it passes, a wait
    // raises 17 and Failure() becomes `message`.
    void SetDeadline(const CDeadline& deadline, std::string message);
    void ClearDeadline();
    // Moves the step's deadline later by the time the client spent on
    // something other than the server (a question to the user).
    void PostponeDeadline(std::chrono::milliseconds span);
    bool DeadlinePassed() const { return m_bDeadlinePassed; }
    // What the last raised failure was, in words ("connect to host X port
    // 22: Connection refused"); empty when nothing failed.
    const std::string& Failure() const { return m_strFailure; }
    void ClearFailure();

    int TimeoutSeconds() const { return m_nTimeoutSeconds; }
    void SetTimeoutSeconds(int seconds) { m_nTimeoutSeconds = seconds; }
    bool IsOpen() const { return m_handle != winsock::INVALID_SOCKET; }

    // The ESSHErrors value for a WinSock error number.
    static int MapError(int wsaError);

private:
    [[noreturn]] static void RaiseLastError();
    [[noreturn]] void Raise(int wsaError, std::string failure);
    [[noreturn]] void RaiseDeadline();
    // The end of a wait for data: the read time-out or the step's deadline.
    CDeadline WaitLimit() const;
    void Startup();

    winsock::SOCKET m_handle = winsock::INVALID_SOCKET;
    int m_nTimeoutSeconds = 10;
    winsock::WSADATA m_startupData{};
    int m_nStartupResult = winsock::WSAEFAULT;
    std::string m_strPeer;  // "host X port P", for messages
    CDeadline m_deadline;
    std::string m_strDeadlineMessage;
    bool m_bDeadlinePassed = false;
    std::string m_strFailure;
};
