#include "platform/terminal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

// Turns terminal echo off for its lifetime.
class EchoOff {
public:
    explicit EchoOff(int fd) : m_fd(fd)
    {
        if (::tcgetattr(m_fd, &m_saved) != 0) return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        m_active = ::tcsetattr(m_fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (m_active) ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

}  // namespace

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool InputGone(int fd)
{
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, 0);
    if (ready < 0) return false;  // interrupted: asked again by the next read
    // A hung-up terminal, a pipe whose writers are gone, a descriptor that
    // is no more.
    return (wait.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int TerminalColumns()
{
    constexpr long kMostColumns = 10000;
    if (StdoutIsTerminal()) {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    }
    const char* columns = std::getenv("COLUMNS");
    if (columns == nullptr || *columns == '\0') return 0;
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    return *end == '\0' && value > 0 && value <= kMostColumns ? static_cast<int>(value) : 0;
}

bool ReadInputLine(std::string& line)
{
    WipeString(line);
    line.reserve(1024);  // a secret rarely outgrows it, so no stray copies are left
    bool any = false;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF) return any;
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool ReadSecretLine(const std::string& prompt, std::string& secret)
{
    if (!StdinIsTerminal()) return ReadInputLine(secret);
    // Echo goes off (flushing pending input) before the prompt shows, so
    // that nothing typed after the prompt is discarded.
    EchoOff quiet(STDIN_FILENO);
    std::fputs(TerminalText(prompt).c_str(), stderr);
    std::fflush(stderr);
    return ReadInputLine(secret);
}
