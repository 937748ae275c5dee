// A stream connection to a local (Unix domain) socket, such as the one a
// key agent listens on. Every wait is bounded by a deadline; a peer that
// is absent, slow or gone is a false, never a hang or a signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/deadline.h"

class CLocalSocket {
public:
    CLocalSocket() = default;
    ~CLocalSocket();
    CLocalSocket(const CLocalSocket &) = delete;
    CLocalSocket &operator=(const CLocalSocket &) = delete;

    bool Connect(const std::string &path, const CDeadline &deadline);
    bool SendAll(const std::uint8_t *data, std::size_t size, const CDeadline &deadline);
    bool ReceiveAll(std::uint8_t *data, std::size_t size, const CDeadline &deadline);
    void Close();

private:
#ifdef _WIN32
    void *m_hPipe = nullptr;  // the agent's named pipe
#else
    bool Wait(short events, const CDeadline &deadline);
    int m_nFd = -1;
#endif
};
