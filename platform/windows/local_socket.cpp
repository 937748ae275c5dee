// The local connection to a key agent: a named pipe ("\\.\pipe\..."), read
// and written with overlapped calls so that every wait has its deadline.
#include "platform/local_socket.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows/wide.h"

namespace {

DWORD WaitMs(const CDeadline& deadline)
{
    if (!deadline.IsSet()) return INFINITE;
    return static_cast<DWORD>(std::min<std::int64_t>(deadline.RemainingMs(), 0x7FFFFFFF));
}

// One overlapped read or write of at most `size` bytes; the count done, 0
// on failure or when the deadline passed (the call is then cancelled).
DWORD Transfer(HANDLE pipe, bool write, std::uint8_t* data, DWORD size, const CDeadline& deadline)
{
    OVERLAPPED io{};
    io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (io.hEvent == nullptr) return 0;
    DWORD done = 0;
    const BOOL started = write ? ::WriteFile(pipe, data, size, nullptr, &io) : ::ReadFile(pipe, data, size, nullptr, &io);
    if (started || ::GetLastError() == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(io.hEvent, WaitMs(deadline)) != WAIT_OBJECT_0) {
            ::CancelIo(pipe);
        }
        if (!::GetOverlappedResult(pipe, &io, &done, TRUE)) done = 0;
    }
    ::CloseHandle(io.hEvent);
    return done;
}

}  // namespace

CLocalSocket::~CLocalSocket() { Close(); }

void CLocalSocket::Close()
{
    if (m_hPipe != nullptr) ::CloseHandle(m_hPipe);
    m_hPipe = nullptr;
}

bool CLocalSocket::Connect(const std::string& path, const CDeadline& deadline)
{
    Close();
    const std::wstring name = WidePath(path);
    for (;;) {
        const HANDLE pipe = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            m_hPipe = pipe;
            return true;
        }
        if (::GetLastError() != ERROR_PIPE_BUSY || deadline.Passed()) return false;
        ::WaitNamedPipeW(name.c_str(), std::min<DWORD>(WaitMs(deadline), 1000));
    }
}

bool CLocalSocket::SendAll(const std::uint8_t* data, std::size_t size, const CDeadline& deadline)
{
    while (size > 0 && m_hPipe != nullptr) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x10000));
        const DWORD done = Transfer(m_hPipe, true, const_cast<std::uint8_t*>(data), chunk, deadline);
        if (done == 0) return false;
        data += done;
        size -= done;
    }
    return size == 0;
}

bool CLocalSocket::ReceiveAll(std::uint8_t* data, std::size_t size, const CDeadline& deadline)
{
    while (size > 0 && m_hPipe != nullptr) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x10000));
        const DWORD done = Transfer(m_hPipe, false, data, chunk, deadline);
        if (done == 0) return false;
        data += done;
        size -= done;
    }
    return size == 0;
}
