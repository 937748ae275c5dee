// A worker: a copy of this process (fork, no new program) that runs one
// function and talks to its parent through two pipes only. What the parent
// hands it goes through the input pipe, never the command line, the
// environment or a file; what it answers is read back through a bounded
// buffer. The worker is its own process group, dies with its parent, and
// is killed and reaped when its object goes. Where processes cannot be
// copied, a worker is a thread of this process with the same two pipes; it
// cannot be killed then, only abandoned, and ends on its own deadlines.
#pragma once

#ifdef _WIN32
#include <memory>
#else
#include <sys/types.h>
#endif

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/deadline.h"

class CWorkerProcess {
public:
    // Runs in the worker with its ends of the pipes; the value returned is
    // its exit status. Every other descriptor except standard input, output
    // and error is closed first, and the signals this process handles are
    // back at their defaults.
    using Body = std::function<int(int input, int output)>;

    CWorkerProcess() = default;
    ~CWorkerProcess();
    CWorkerProcess(const CWorkerProcess&) = delete;
    CWorkerProcess& operator=(const CWorkerProcess&) = delete;

    // Starts the worker; on failure `reason` says why. Its answer may hold
    // at most maxAnswer bytes: more kills it (TooLarge).
    bool Start(const Body& body, std::size_t maxAnswer, std::string& reason);
    // Writes all of `bytes` to the worker's input and closes it; false when
    // the worker went away or did not read it before the deadline.
    bool Send(std::string_view bytes, const CDeadline& until);

    enum class EState { Running, Finished, TooLarge, Failed };
    // Takes what the worker has written so far without waiting. Finished
    // once it closed its output and was reaped.
    EState Pump();
    // Kills the worker and its process group, and reaps it.
    void Kill();

    bool Running() const { return m_pid > 0; }
    int OutputFd() const { return m_output; }
    const std::string& Answer() const { return m_answer; }
    // The exit status once finished: the body's value, or 128 + the signal
    // that ended it.
    int ExitStatus() const { return m_status; }

    // Waits until one of the workers has something to read (or ended), at
    // most `timeoutMs` milliseconds.
    static void WaitForAny(std::span<CWorkerProcess* const> workers, int timeoutMs);

private:
    void CloseOutput();
    void Reap();

#ifdef _WIN32
    struct SThread;
    std::shared_ptr<SThread> m_thread;
    int m_pid = -1;
#else
    pid_t m_pid = -1;
#endif
    int m_input = -1;
    int m_output = -1;
    std::size_t m_maxAnswer = 0;
    std::string m_answer;
    int m_status = -1;
};

// The worker's side of its pipes: reads everything until the parent's end
// closes (false when more than `max` bytes come or reading fails), writes
// all bytes, closes an end.
bool ReadWorkerPipe(int fd, std::size_t max, std::string& out);
bool WriteWorkerPipe(int fd, std::string_view bytes);
void CloseWorkerPipe(int fd);
