// Surroundings every SSH-2 client test needs: a private registry, a private
// state folder for the packet log, and a scripted user interface. The packet
// log is kept at the full level unless the test asks for another one, as
// most tests look into the payloads.
#pragma once

#include <string>

#include "ssh2/ssh2.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

// The payload bytes of every packet in a packet log, decoded from the hex
// columns of its dump rows and joined.
inline std::string LoggedBytes(const std::string& log)
{
    std::string bytes;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        if (line.size() < 13 || line.compare(0, 2, "  ") != 0 || line[10] != ':') continue;
        std::size_t pos = 13;
        for (int i = 0; i < 16 && pos + 2 <= line.size(); ++i) {
            if (i == 8) pos += 2;
            if (line[pos] == ' ') break;
            bytes += static_cast<char>(std::stoi(line.substr(pos, 2), nullptr, 16));
            pos += 3;
        }
    }
    return bytes;
}

class CSessionEnvironment {
public:
    // packetLog: the value of FERRODEX_PACKET_LOG; null leaves it unset.
    explicit CSessionEnvironment(const char* packetLog = "full") : m_level("FERRODEX_PACKET_LOG", packetLog) {}
    ~CSessionEnvironment() { CSSH2::Disconnect(); }
    std::string LogPath() const { return m_state.path() + "/ferrodex/ssh2.log"; }
    std::string LogText() const { return ReadWholeFile(LogPath()); }

    TempRegistry registry;
    CScopedScriptedUi ui;

private:
    TempDir m_state;
    CScopedEnv m_stateEnv{"XDG_STATE_HOME", m_state.path()};
    CScopedEnv m_level;
};
