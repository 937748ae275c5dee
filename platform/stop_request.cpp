#include "platform/stop_request.h"

#include <time.h>

#include <atomic>
#include <csignal>
#include <iterator>

#include "platform/terminal.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_pending = 0;
// When the program said it acts on the pending request, in seconds of the
// monotonic clock plus one (0: it has not said so).
volatile std::sig_atomic_t g_actingSince = 0;
std::atomic<int> g_watchedInput{-1};
// The pending request came from a signal (not from the program itself).
volatile std::sig_atomic_t g_signalled = 0;
struct sigaction g_previous[std::size(kSignals)];

// Seconds of the monotonic clock (clock_gettime may be called from a
// signal handler).
std::sig_atomic_t MonotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::sig_atomic_t>(now.tv_sec);
}

// A second SIGTERM or SIGHUP while one waits (the main loop may be stuck,
// say on the network) takes the course it had before: the program ends.
// Not while the program keeps its work on the first one, for a while.
void OnStopSignal(int signal)
{
    // A request the program made itself (its terminal gone) is no first
    // signal: the signal that follows it is one.
    const bool ending = (g_pending == SIGTERM || g_pending == SIGHUP) && g_signalled != 0;
    if (!ending || signal == SIGINT) {
        if (g_pending == 0 || (!ending && signal != SIGINT && g_pending == SIGINT)) g_pending = signal;
        if (signal != SIGINT) g_signalled = 1;
        return;
    }
    const std::sig_atomic_t acting = g_actingSince;
    if (acting != 0 && MonotonicSeconds() + 1 - acting <= kStopGraceSeconds) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (kSignals[i] != signal) continue;
        const struct sigaction& previous = g_previous[i];
        if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
            previous.sa_handler != SIG_IGN) {
            previous.sa_handler(signal);
            return;
        }
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

EStopRequest RequestOf(int signal)
{
    switch (signal) {
    case SIGINT: return EStopRequest::Interrupt;
    case SIGTERM: return EStopRequest::Terminate;
    case SIGHUP: return EStopRequest::HangUp;
    default: return EStopRequest::None;
    }
}

}  // namespace

CStopRequestCatcher::CStopRequestCatcher()
{
    g_pending = 0;
    g_actingSince = 0;
    g_signalled = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read returns, so the loop sees the request.
    action.sa_flags = 0;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

CStopRequestCatcher::~CStopRequestCatcher()
{
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

EStopRequest PendingStopRequest()
{
    if (g_pending == 0) {
        const int fd = g_watchedInput.load();
        if (fd >= 0 && InputGone(fd)) RequestStop(EStopRequest::HangUp);
    }
    return RequestOf(g_pending);
}

void StopWhenInputGone(int fd) { g_watchedInput = fd; }

void RequestStop(EStopRequest request)
{
    const int signal = StopSignalNumber(request);
    if (signal == 0 || g_pending != 0) return;
    g_pending = signal;
}

void AcknowledgeStopRequest()
{
    if (g_pending != 0 && g_actingSince == 0) g_actingSince = MonotonicSeconds() + 1;
}

int StopSignalNumber(EStopRequest request)
{
    switch (request) {
    case EStopRequest::Interrupt: return SIGINT;
    case EStopRequest::Terminate: return SIGTERM;
    case EStopRequest::HangUp: return SIGHUP;
    case EStopRequest::None: break;
    }
    return 0;
}

const char* StopSignalName(EStopRequest request)
{
    switch (request) {
    case EStopRequest::Interrupt: return "SIGINT";
    case EStopRequest::Terminate: return "SIGTERM";
    case EStopRequest::HangUp: return "SIGHUP";
    case EStopRequest::None: break;
    }
    return "";
}

EStopRequest TakeStopRequest()
{
    const EStopRequest request = RequestOf(g_pending);
    g_pending = 0;
    g_actingSince = 0;
    g_signalled = 0;
    return request;
}

void EndAsRequested(EStopRequest request)
{
    if (request == EStopRequest::Interrupt) return;
    const int signal = StopSignalNumber(request);
    if (signal == 0) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
}
