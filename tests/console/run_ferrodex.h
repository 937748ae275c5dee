// Runs the real `ferrodex` program as a child process with its own registry
// and data folders, standard input from a string, and its output captured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    bool timedOut = false;  // killed at the environment's deadline
};

struct RunEnvironment {
    std::string registry;  // $FERRODEX_REGISTRY
    std::string dataHome;  // $XDG_DATA_HOME (and $XDG_STATE_HOME beside it)
    std::uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE when not 0
    int deadlineMs = 0;               // when not 0, the child is killed after this long
};

std::string FerrodexBinary();
RunResult RunFerrodex(const RunEnvironment& environment, const std::vector<std::string>& args,
                      const std::string& input = "");
// Runs `ferrodex ARGS` as a shell would (the words of `args` split by it),
// in this process's environment.
RunResult RunFerrodexLine(const std::string& args, const std::string& input = "");
