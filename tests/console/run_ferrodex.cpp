#include "tests/console/run_ferrodex.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace {

class Pipe {
public:
    Pipe()
    {
        if (::pipe2(m_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
    ~Pipe()
    {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int Read() const { return m_fds[0]; }
    int Write() const { return m_fds[1]; }
    void CloseRead() { Close(m_fds[0]); }
    void CloseWrite() { Close(m_fds[1]); }

private:
    static void Close(int& fd)
    {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int m_fds[2] = {-1, -1};
};

}  // namespace

std::string FerrodexBinary() { return BinaryDir() + "/console/ferrodex"; }

RunResult RunFerrodexLine(const std::string& args, const std::string& input)
{
    TempDir io;
    std::ofstream(io.file("in")) << input;
    const std::string command =
        FerrodexBinary() + " " + args + " <" + io.file("in") + " >" + io.file("out") + " 2>" + io.file("err");
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(io.file("out")), ReadWholeFile(io.file("err"))};
}

RunResult RunFerrodex(const RunEnvironment& environment, const std::vector<std::string>& args, const std::string& input)
{
    ::signal(SIGPIPE, SIG_IGN);  // the child may leave before reading all its input
    Pipe in, out, err;
    const std::string binary = FerrodexBinary();
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> rawArgs;
    for (std::string& arg : argv) rawArgs.push_back(arg.data());
    rawArgs.push_back(nullptr);
    // Everything the child needs is made before the fork: the child of a
    // process with threads may only call async-signal-safe functions.
    std::vector<std::string> variables;
    const auto replaced = [](const std::string& variable) {
        for (const char* name : {"FERRODEX_REGISTRY=", "XDG_DATA_HOME=", "XDG_STATE_HOME="})
            if (variable.rfind(name, 0) == 0) return true;
        return false;
    };
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!replaced(*entry)) variables.emplace_back(*entry);
    variables.push_back("FERRODEX_REGISTRY=" + environment.registry);
    variables.push_back("XDG_DATA_HOME=" + environment.dataHome);
    variables.push_back("XDG_STATE_HOME=" + environment.dataHome + "-state");
    std::vector<char*> rawVariables;
    for (std::string& variable : variables) rawVariables.push_back(variable.data());
    rawVariables.push_back(nullptr);
    const rlimit limit{environment.fileSizeLimit, environment.fileSizeLimit};

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        ::dup2(in.Read(), STDIN_FILENO);
        ::dup2(out.Write(), STDOUT_FILENO);
        ::dup2(err.Write(), STDERR_FILENO);
        if (environment.fileSizeLimit != 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(binary.c_str(), rawArgs.data(), rawVariables.data());
        ::_exit(127);
    }
    in.CloseRead();
    out.CloseWrite();
    err.CloseWrite();

    RunResult result;
    const auto started = std::chrono::steady_clock::now();
    std::size_t written = 0;
    if (input.empty()) in.CloseWrite();
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 || in.Write() >= 0) {
        pollfd fds[3];
        nfds_t count = 0;
        const int readers[2] = {out.Read(), err.Read()};
        for (int fd : readers)
            if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
        if (in.Write() >= 0) fds[count++] = pollfd{in.Write(), POLLOUT, 0};
        int wait = 60000;
        if (environment.deadlineMs != 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::milliseconds(environment.deadlineMs) - (std::chrono::steady_clock::now() - started));
            wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, std::min<std::chrono::milliseconds::rep>(wait, left.count())));
        }
        if (::poll(fds, count, wait) <= 0) {
            if (environment.deadlineMs != 0) {
                ::kill(child, SIGKILL);
                result.timedOut = true;
            }
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == in.Write()) {
                const ssize_t n = ::write(in.Write(), input.data() + written, input.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                if (n < 0 || written == input.size()) in.CloseWrite();
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            const int which = fds[i].fd == out.Read() ? 0 : 1;
            if (n > 0) {
                sinks[which]->append(buffer, static_cast<std::size_t>(n));
            } else {
                if (which == 0) out.CloseRead();
                else err.CloseRead();
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
