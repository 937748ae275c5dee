// The commands that run lshw on a host. Each leaves the host as it found
// it: lshw's XML goes into a private folder (mktemp -d) capped at the
// output limit plus one byte, and the folder goes when the command ends,
// however it ends. lshw and everything the command started end with it:
// when its limit passes (`timeout`, where the host has it), and when the
// SSH connection goes (a watchdog sees the server's session process go and
// ends the command's process group). docs/host-footprint.md tells why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "scan/remote_command.h"

// How long the command may run on the host and how much it may print:
// the scan's command limit and output limit.
struct SHostBounds {
    int seconds = 600;
    std::size_t maxOutputBytes = std::size_t{16} << 20;
};
// The bounds of the limits in force (scan/scan_limits.h).
SHostBounds CurrentHostBounds();

// The scan as sent to a host. Its output is lshw's own messages, then the
// XML; an XML larger than the output limit is sent up to one byte past it,
// so that the client's own limit tells the user. Exits with
// kLshwMissingStatus when there is no lshw, with lshw's status when it
// fails. Nothing is left in the login's home, and two scans of one host
// never share a file.
std::string ScanCommand(const SHostBounds& bounds);
std::string ScanCommand();
inline constexpr std::uint32_t kLshwMissingStatus = 127;

// The parts every guarded command is made of, for the other commands of
// this module (the sudo scan, the deployment's steps):
// - the prologue defines the guard's shell functions and takes the bounds;
// - the setup makes the private folder $d, starts the watchdog and sets the
//   traps; `keep` (a value, may be empty) is a folder removed as well when
//   the command is stopped (not when it ends by itself);
// - the run runs `program` (program text ending in the command to run,
//   through the shell function `run`, which adds `timeout` where the host
//   has it) in the background with its standard output into "$d/x" (capped)
//   and its status into "$d/s", its standard error to the output, and waits
//   for it; $s is then its status and an output over the cap has been sent.
std::string GuardPrologue(const SHostBounds& bounds);
std::string GuardSetup(const std::string& keep = {});
std::string GuardRun(CShellWord program);
// As GuardRun for a command (its words as BuildRemoteCommand takes them)
// whose output goes to the host's output as it is (bounded by the client)
// and that keeps the standard input: $s is then its status.
std::string GuardWait(std::initializer_list<CShellWord> program);
