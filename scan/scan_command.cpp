#include "scan/scan_command.h"

#include "scan/scan_limits.h"

namespace {

// Seconds the host's own limit gives beyond the client's, so that the
// client's message ("did not finish within") is the one the user sees.
constexpr int kHostGraceSeconds = 5;

// The guard's shell functions; every name is one letter, as the command
// shares the shell with the program text around it.
// f PID: reads /proc/PID/stat into e (state), a (parent) and b (group).
// j PID: whether the process belongs to another user than the login.
// y: whether a process of this command's group other than the shell
//    itself and its parent is still alive (zombies not counted).
// z: the end of every way out (the EXIT trap): the private folder goes,
//    the watchdog and then the whole group get TERM, and what still lives
//    after about two seconds gets KILL (the shell with it).
// run: the program under `timeout` where the host has one that takes -k:
//    GNU's in the foreground (so that it stays in this group), busybox's
//    as it is.
constexpr CShellWord kGuardFunctions(
    "S=$1 N=$2 g= q= k= d= h= D= t=0;"
    " f() { read -r x 2>/dev/null </proc/$1/stat || return 1; x=${x##*)}; set -f; set -- $x; set +f; e=$1 a=$2 b=$3; };"
    " j() { set -f; set -- $(ls -ldn /proc/$1 2>/dev/null); set +f; [ -n \"$3\" ] && [ \"$3\" != \"$(id -u)\" ]; };"
    " y() { for c in /proc/[0-9]*; do [ \"$c\" != /proc/$$ ] && [ \"$c\" != \"/proc/$q\" ] && f \"${c#/proc/}\" &&"
    " [ \"$b\" = \"$g\" ] && [ \"$e\" != Z ] && return 0; done; return 1; };"
    " z() { trap '' HUP INT TERM PIPE; [ -z \"$d\" ] || rm -rf \"$d\"; [ -z \"$h\" ] || [ -z \"$D\" ] || rm -rf \"$D\";"
    " [ -z \"$k\" ] || kill -s TERM $k 2>/dev/null; [ -n \"$g\" ] || return 0; kill -s TERM 0 2>/dev/null; i=0;"
    " while y; do [ $i -lt 10 ] || kill -s KILL 0; i=$((i+1)); sleep 0.2 2>/dev/null || sleep 1; done; };"
    " run() { case $t in 1) timeout --foreground -k 3 \"$S\" \"$@\";; 2) timeout -k 3 \"$S\" \"$@\";; *) \"$@\";; esac; };");

// The setup after `set -- KEEP`: the group ($g) is ours to end only when
// the shell leads it (OpenSSH starts each command in a session of its own)
// or when its leader is the shell's parent running as another user
// (Dropbear's process for the connection, root's, which the login's
// signals cannot reach); the watchdog wakes each second and stops the
// command (HUP) once the shell's parent, the server's process, is gone.
constexpr CShellWord kGuardSetup(
    "D=$1; f $$ && { q=$a; if [ \"$b\" = $$ ] || { [ \"$b\" = \"$q\" ] && j \"$q\"; }; then g=$b; fi; };"
    " trap z EXIT; trap 'h=1; exit 129' HUP INT TERM PIPE;"
    " d=$(mktemp -d) || exit 1;"
    " if command -v timeout >/dev/null 2>&1; then if timeout --foreground -k 1 9 true 2>/dev/null; then t=1;"
    " elif timeout -k 1 9 true 2>/dev/null; then t=2; fi; fi;"
    " if [ -n \"$q\" ]; then (while f $$ && [ \"$a\" = \"$q\" ]; do sleep 1; done; kill -s HUP $$)"
    " </dev/null >/dev/null 2>&1 & k=$!; fi;");

// The status is read only after the whole pipeline ended; an output past
// the cap is sent as it is, for the client's limit to tell.
constexpr CShellWord kRunStart("( exec 3>&1; (");
constexpr CShellWord kRunEnd("2>&3 3>&-; echo $? >\"$d/s\" ) | head -c \"$N\" >\"$d/x\" 3>&- ) & wait $!;"
                             " s=1; read -r s 2>/dev/null <\"$d/s\"; o=$(wc -c <\"$d/x\");"
                             " [ $o -lt \"$N\" ] || { cat \"$d/x\"; exit 1; };");

}  // namespace

SHostBounds CurrentHostBounds()
{
    const SScanLimits limits = ReadScanLimits();
    SHostBounds bounds;
    bounds.seconds = limits.commandSeconds;
    bounds.maxOutputBytes = limits.maxOutputMiB << 20;
    return bounds;
}

std::string GuardPrologue(const SHostBounds& bounds)
{
    const std::string seconds = std::to_string(bounds.seconds + kHostGraceSeconds);
    const std::string cap = std::to_string(bounds.maxOutputBytes + 1);
    return BuildRemoteCommand({"set --", CShellWord::Value(seconds), CShellWord::Value(cap), ";", kGuardFunctions});
}

std::string GuardSetup(const std::string& keep)
{
    return BuildRemoteCommand({"set --", CShellWord::Value(keep), ";", kGuardSetup});
}

std::string GuardRun(CShellWord program) { return BuildRemoteCommand({kRunStart, program, kRunEnd}); }

std::string GuardWait(std::initializer_list<CShellWord> program)
{
    // The program keeps the command's standard input (a password, say).
    return BuildRemoteCommand({"exec 4<&0; ("}) + " " + BuildRemoteCommand(program) + " " +
           BuildRemoteCommand({") <&4 4<&- & exec 4<&-; wait $!; s=$?;"});
}

std::string ScanCommand(const SHostBounds& bounds)
{
    // An lshw that is not an executable file (say, hidden by an empty one) is
    // a missing lshw. /usr/local/sbin, where a system-wide deployment puts
    // it, is not on a login's PATH everywhere.
    return GuardPrologue(bounds) + " " +
           BuildRemoteCommand({"PATH=\"$PATH:/usr/local/sbin\";"
                               " p=$(command -v lshw 2>/dev/null) && [ -f \"$p\" ] && [ -x \"$p\" ] || exit 127;"}) +
           " " + GuardSetup() + " " + GuardRun("run \"$p\" -xml") + " " +
           BuildRemoteCommand({"[ \"$s\" = 0 ] || exit \"$s\"; cat \"$d/x\" || exit 1"});
}

std::string ScanCommand() { return ScanCommand(CurrentHostBounds()); }
