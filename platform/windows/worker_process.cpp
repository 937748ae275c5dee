// Workers as threads of this process, talking through two anonymous pipes
// opened as C runtime descriptors.
#include "platform/worker_process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

struct CWorkerProcess::SThread {
    std::atomic<int> status{-1};
    std::atomic<bool> done{false};
};

namespace {

constexpr unsigned kPipeBytes = 65536;

void CloseFd(int& fd)
{
    if (fd >= 0) ::_close(fd);
    fd = -1;
}

// Bytes waiting in a pipe's read end: > 0 some, 0 none yet, -1 the writer is
// gone (or the pipe failed) and nothing is left.
long Waiting(int fd)
{
    DWORD available = 0;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return -1;
    return static_cast<long>(std::min<DWORD>(available, 0x7FFFFFFF));
}

}  // namespace

CWorkerProcess::~CWorkerProcess() { Kill(); }

bool CWorkerProcess::Start(const Body& body, std::size_t maxAnswer, std::string& reason)
{
    if (m_pid > 0) {
        reason = "the worker runs already";
        return false;
    }
    int toWorker[2] = {-1, -1};
    int fromWorker[2] = {-1, -1};
    if (::_pipe(toWorker, kPipeBytes, _O_BINARY | _O_NOINHERIT) != 0 ||
        ::_pipe(fromWorker, kPipeBytes, _O_BINARY | _O_NOINHERIT) != 0) {
        reason = "no pipe for a worker";
        for (int fd : {toWorker[0], toWorker[1], fromWorker[0], fromWorker[1]})
            if (fd >= 0) ::_close(fd);
        return false;
    }
    auto state = std::make_shared<SThread>();
    try {
        std::thread([body, state, input = toWorker[0], output = fromWorker[1]] {
            int status = 1;
            try {
                status = body(input, output);
            } catch (...) {
                status = 1;
            }
            ::_close(output);
            state->status = status;
            state->done = true;
        }).detach();
    } catch (const std::system_error&) {
        reason = "no worker thread";
        for (int fd : {toWorker[0], toWorker[1], fromWorker[0], fromWorker[1]}) ::_close(fd);
        return false;
    }
    m_thread = std::move(state);
    m_pid = 1;
    m_input = toWorker[1];
    m_output = fromWorker[0];
    m_maxAnswer = maxAnswer;
    m_answer.clear();
    m_status = -1;
    return true;
}

bool CWorkerProcess::Send(std::string_view bytes, const CDeadline&)
{
    if (m_input < 0) return false;
    // The worker reads while this writes, so the pipe drains.
    const bool whole = WriteWorkerPipe(m_input, bytes);
    CloseFd(m_input);
    return whole;
}

CWorkerProcess::EState CWorkerProcess::Pump()
{
    if (m_output < 0) return m_pid > 0 ? EState::Running : (m_status < 0 ? EState::Failed : EState::Finished);
    char buffer[65536];
    for (;;) {
        const long waiting = Waiting(m_output);
        if (waiting == 0) return EState::Running;
        if (waiting < 0) break;
        const int n = ::_read(m_output, buffer, static_cast<unsigned>(std::min<long>(waiting, sizeof buffer)));
        if (n <= 0) break;
        if (m_maxAnswer - m_answer.size() < static_cast<std::size_t>(n)) {
            Kill();
            m_answer.clear();
            return EState::TooLarge;
        }
        m_answer.append(buffer, static_cast<std::size_t>(n));
    }
    CloseOutput();
    Reap();
    return m_status < 0 ? EState::Failed : EState::Finished;
}

void CWorkerProcess::CloseOutput() { CloseFd(m_output); }

void CWorkerProcess::Reap()
{
    if (m_pid <= 0) return;
    // The worker closed its output as its last step; its status follows at once.
    for (int i = 0; i < 200 && m_thread && !m_thread->done; ++i) ::Sleep(5);
    if (m_thread && m_thread->done) m_status = m_thread->status;
    m_thread.reset();
    m_pid = -1;
}

void CWorkerProcess::Kill()
{
    // A thread cannot be stopped from outside: it is left to end on its own
    // deadlines, its pipes closed under it.
    CloseFd(m_input);
    CloseOutput();
    m_thread.reset();
    m_pid = -1;
}

void CWorkerProcess::WaitForAny(std::span<CWorkerProcess* const> workers, int timeoutMs)
{
    const CDeadline until = CDeadline::In(std::chrono::milliseconds(std::max(0, timeoutMs)));
    for (;;) {
        bool any = false;
        for (CWorkerProcess* worker : workers)
            if (worker != nullptr && worker->m_output >= 0) {
                any = true;
                if (Waiting(worker->m_output) != 0) return;
            }
        if (!any || until.Passed()) return;
        ::Sleep(10);
    }
}

bool ReadWorkerPipe(int fd, std::size_t max, std::string& out)
{
    char buffer[16384];
    for (;;) {
        const int n = ::_read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 || max - out.size() < static_cast<std::size_t>(n)) return false;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteWorkerPipe(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), kPipeBytes));
        const int n = ::_write(fd, bytes.data(), chunk);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void CloseWorkerPipe(int fd) { ::_close(fd); }
