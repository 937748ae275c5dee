// Runs a stock OpenSSH client tool (ssh, scp, sftp) for the benchmarks:
// password from an askpass script, output discarded, in a session of its
// own so that it never reads the terminal.
#pragma once

#include <string>
#include <vector>

// args[0] is the program's path. Returns the wall time in milliseconds;
// ends the process when the tool fails. stdinFile null: /dev/null.
double RunStockClient(std::vector<std::string> args, const std::string& askpass, const char* stdinFile = nullptr);
