#include "platform/screen_guard.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::atomic<void (*)()> g_restore{nullptr};
struct sigaction g_previous[std::size(kSignals)];
bool g_atexitRegistered = false;

void RunRestore()
{
    if (void (*restore)() = g_restore.exchange(nullptr)) restore();
}

void OnSignal(int signal)
{
    RunRestore();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

CStderrToFile::CStderrToFile(const std::string& path)
{
    // What the libraries say may name hosts and logins: owner-only, and
    // never written through a symbolic link.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || ::fchmod(fd, 0600) != 0) {
        ::close(fd);
        return;
    }
    std::fflush(stderr);
    m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_saved < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
        if (m_saved >= 0) ::close(m_saved);
        m_saved = -1;
    }
    ::close(fd);
}

CStderrToFile::~CStderrToFile()
{
    if (m_saved < 0) return;
    std::fflush(stderr);
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
}

bool StdioIsTerminal() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1; }

bool UseUserLocaleIsUtf8()
{
    // Only the character type: numbers and messages stay as the program
    // formats them.
    std::setlocale(LC_CTYPE, "");
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

CTerminalRestoreHook::CTerminalRestoreHook(void (*restore)())
{
    g_restore.store(restore);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
    if (!g_atexitRegistered) {
        g_atexitRegistered = true;
        std::atexit(RunRestore);
    }
}

CTerminalRestoreHook::~CTerminalRestoreHook()
{
    g_restore.store(nullptr);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}
