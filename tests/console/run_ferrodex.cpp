#include "tests/console/run_ferrodex.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

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

// Standard input, output and error are files of a private folder, read
// once the child has exited (or was killed at the deadline).
RunResult RunFerrodex(const RunEnvironment& environment, const std::vector<std::string>& args, const std::string& input)
{
    TempDir io;
    std::ofstream(io.file("in"), std::ios::binary) << input;
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
    const int streams[3] = {::open(io.file("in").c_str(), O_RDONLY | O_CLOEXEC),
                            ::open(io.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600),
                            ::open(io.file("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)};
    if (streams[0] < 0 || streams[1] < 0 || streams[2] < 0) throw std::runtime_error("cannot open " + io.path());

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        for (int fd = 0; fd < 3; ++fd) ::dup2(streams[fd], fd);
        if (environment.fileSizeLimit != 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(binary.c_str(), rawArgs.data(), rawVariables.data());
        ::_exit(127);
    }
    for (int fd : streams) ::close(fd);

    RunResult result;
    int status = 0;
    const auto exited = [&] {
        pid_t done = 0;
        while ((done = ::waitpid(child, &status, environment.deadlineMs != 0 ? WNOHANG : 0)) < 0 && errno == EINTR) {}
        return done == child;
    };
    if (environment.deadlineMs != 0 && !WaitUntil(exited, std::chrono::milliseconds(environment.deadlineMs))) {
        ::kill(child, SIGKILL);
        result.timedOut = true;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    } else if (environment.deadlineMs == 0) {
        exited();
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadWholeFile(io.file("out"));
    result.err = ReadWholeFile(io.file("err"));
    return result;
}
