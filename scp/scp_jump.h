// The route of an upload through its jump hosts: a session to each jump
// host, the first over a connection of its own and each next one over the
// forwarded connection the one before opened, each relayed by a thread of
// its own between its channel and a local socket pair.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/winsock.h"
#include "scp/scp.h"

struct JobInfo;

class CScpJumpRoute {
public:
    CScpJumpRoute() = default;
    // Stops the relays and ends the jump hosts' sessions.
    ~CScpJumpRoute();
    CScpJumpRoute(const CScpJumpRoute&) = delete;
    CScpJumpRoute& operator=(const CScpJumpRoute&) = delete;

    // Logs in to each of the job's jump hosts in turn and opens a forwarded
    // connection from the last to host:port. 0 with *pVia the socket the
    // target's session runs over (the caller's to close), or a code with
    // the job's error detail naming the jump host that failed.
    int Open(JobInfo* pJob, const char* pszHost, int nPort, winsock::SOCKET* pVia);

private:
    struct SHop {
        JobInfo* pJob = nullptr;
        winsock::SOCKET relayEnd = winsock::INVALID_SOCKET;
        std::thread thread;
    };

    int OpenHop(JobInfo* pOwner, const ScpJumpHost& jump, winsock::SOCKET via, const char* pszNextHost, int nNextPort,
                winsock::SOCKET* pNextVia);
    void Relay(SHop* pHop);

    std::array<SHop, kScpMaxJumpHosts> m_aHops;
    std::uint32_t m_nHops = 0;
    std::atomic<bool> m_fStop{false};
};
