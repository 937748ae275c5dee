// Windows: the snap-in runs inside the management console, which takes no
// signals; a stop is requested only by the program itself.
#include "platform/stop_request.h"

#include <atomic>

namespace {

std::atomic<EStopRequest> g_pending{EStopRequest::None};

}  // namespace

CStopRequestCatcher::CStopRequestCatcher() { g_pending = EStopRequest::None; }

CStopRequestCatcher::~CStopRequestCatcher() = default;

EStopRequest PendingStopRequest() { return g_pending.load(); }

EStopRequest TakeStopRequest() { return g_pending.exchange(EStopRequest::None); }

void AcknowledgeStopRequest() {}

void StopWhenInputGone(int) {}

void RequestStop(EStopRequest request)
{
    EStopRequest none = EStopRequest::None;
    g_pending.compare_exchange_strong(none, request);
}

int StopSignalNumber(EStopRequest request)
{
    // The POSIX numbers, for exit statuses alike on both systems.
    switch (request) {
    case EStopRequest::Interrupt: return 2;
    case EStopRequest::Terminate: return 15;
    case EStopRequest::HangUp: return 1;
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

void EndAsRequested(EStopRequest) {}
