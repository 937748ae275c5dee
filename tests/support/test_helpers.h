// Small helpers several test folders share: sample data, counting, shell
// output, waiting on a condition, and a port that refuses connections.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

// A sample of lshw's XML from tests/data/lshw.
std::string LshwSample(const std::string& name);
// How often `part` occurs in `text` (overlaps counted).
std::size_t CountOccurrences(const std::string& text, const std::string& part);
// Standard output of a shell command; its exit status in `status` (-1 when
// it could not run or did not exit).
std::string ShellOutput(const std::string& command, int* status = nullptr);
// Polls `done` until it holds (true) or `limit` has passed (false).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// A port that refuses connections for as long as the object lives: bound on
// every address (127.0.0.x included) and never listening, so no other
// program can take it meanwhile. 0 when no port could be bound.
class CHeldPort {
public:
    CHeldPort();
    ~CHeldPort();
    CHeldPort(const CHeldPort&) = delete;
    CHeldPort& operator=(const CHeldPort&) = delete;
    int port() const { return m_nPort; }

private:
    int m_fd = -1;
    int m_nPort = 0;
};
