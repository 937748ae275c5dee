#include "platform/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kExitGraceMs = 1000;

void CloseFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Closes every descriptor from 3 up except the two kept.
void CloseOthers(int keepA, int keepB)
{
    const unsigned low = static_cast<unsigned>(std::min(keepA, keepB));
    const unsigned high = static_cast<unsigned>(std::max(keepA, keepB));
    const auto closeRange = [](unsigned first, unsigned last) {
        if (first <= last) ::syscall(SYS_close_range, first, last, 0u);
    };
    closeRange(3, low - 1);
    closeRange(low + 1, high - 1);
    closeRange(high + 1, ~0u);
}

[[noreturn]] void RunChild(const CWorkerProcess::Body& body, int input, int output, pid_t parent)
{
    // Gone with the parent, whatever ends it; deaf to the terminal's keys.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::setpgid(0, 0);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGWINCH, SIGTSTP, SIGTTOU, SIGTTIN}) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    CloseOthers(input, output);
    int status = 1;
    try {
        status = body(input, output);
    } catch (...) {
        status = 1;
    }
    ::close(output);
    // No exit handlers and no flush of buffers copied from the parent.
    ::_exit(status);
}

}  // namespace

CWorkerProcess::~CWorkerProcess() { Kill(); }

bool CWorkerProcess::Start(const Body& body, std::size_t maxAnswer, std::string& reason)
{
    if (m_pid > 0) {
        reason = "the worker runs already";
        return false;
    }
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
        reason = std::string("no pipe for a worker: ") + std::strerror(errno);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            if (fd >= 0) ::close(fd);
        return false;
    }
    // What this process buffered must not be written twice.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        reason = std::string("no worker process: ") + std::strerror(errno);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
        return false;
    }
    if (pid == 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        RunChild(body, toChild[0], fromChild[1], parent);
    }
    ::setpgid(pid, pid);  // also here: no race with a kill of the group
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_pid = pid;
    m_input = toChild[1];
    m_output = fromChild[0];
    ::fcntl(m_input, F_SETFL, ::fcntl(m_input, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_output, F_SETFL, ::fcntl(m_output, F_GETFL) | O_NONBLOCK);
    m_maxAnswer = maxAnswer;
    m_answer.clear();
    m_status = -1;
    return true;
}

bool CWorkerProcess::Send(std::string_view bytes, const CDeadline& until)
{
    if (m_input < 0) return false;
    // A worker gone raises SIGPIPE on this thread: held back, then taken.
    sigset_t pipeSet;
    sigset_t old;
    ::sigemptyset(&pipeSet);
    ::sigaddset(&pipeSet, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    std::size_t sent = 0;
    bool broken = false;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(m_input, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EPIPE) broken = true;
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        if (until.Passed()) break;
        pollfd wait{m_input, POLLOUT, 0};
        ::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(until.RemainingMs(), 200)));
    }
    if (broken) {
        const timespec zero{0, 0};
        ::sigtimedwait(&pipeSet, nullptr, &zero);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    CloseFd(m_input);
    return sent == bytes.size();
}

CWorkerProcess::EState CWorkerProcess::Pump()
{
    if (m_output < 0) return m_pid > 0 ? EState::Running : (m_status < 0 ? EState::Failed : EState::Finished);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_output, buffer, sizeof buffer);
        if (n > 0) {
            if (m_maxAnswer - m_answer.size() < static_cast<std::size_t>(n)) {
                Kill();
                m_answer.clear();
                return EState::TooLarge;
            }
            m_answer.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return EState::Running;
        break;  // end of output, or an error that ends it
    }
    CloseOutput();
    Reap();
    return m_status < 0 ? EState::Failed : EState::Finished;
}

void CWorkerProcess::CloseOutput() { CloseFd(m_output); }

void CWorkerProcess::Reap()
{
    if (m_pid <= 0) return;
    // A worker that closed its output ends at once; one that lingers gets a
    // second, then is killed: this wait has a bound too.
    const CDeadline grace = CDeadline::In(std::chrono::milliseconds(kExitGraceMs));
    int status = 0;
    pid_t got = -1;
    for (;;) {
        got = ::waitpid(m_pid, &status, WNOHANG);
        if (got < 0 && errno == EINTR) continue;
        if (got != 0) break;
        if (grace.Passed()) {
            ::kill(-m_pid, SIGKILL);
            ::kill(m_pid, SIGKILL);
            do {
                got = ::waitpid(m_pid, &status, 0);
            } while (got < 0 && errno == EINTR);
            break;
        }
        ::usleep(5000);
    }
    if (got == m_pid) {
        if (WIFEXITED(status)) m_status = WEXITSTATUS(status);
        else if (WIFSIGNALED(status)) m_status = 128 + WTERMSIG(status);
    }
    m_pid = -1;
}

void CWorkerProcess::Kill()
{
    CloseFd(m_input);
    if (m_pid > 0) {
        // The group too: anything the worker started goes with it. Only
        // before the worker is reaped, while its number is still its own.
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
        Reap();
    }
    CloseOutput();
}

void CWorkerProcess::WaitForAny(std::span<CWorkerProcess* const> workers, int timeoutMs)
{
    std::vector<pollfd> fds;
    for (CWorkerProcess* worker : workers)
        if (worker != nullptr && worker->m_output >= 0) fds.push_back(pollfd{worker->m_output, POLLIN, 0});
    if (fds.empty()) return;
    ::poll(fds.data(), fds.size(), std::max(0, timeoutMs));
}

bool ReadWorkerPipe(int fd, std::size_t max, std::string& out)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || max - out.size() < static_cast<std::size_t>(n)) return false;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteWorkerPipe(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void CloseWorkerPipe(int fd) { ::close(fd); }
