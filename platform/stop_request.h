// The signals a user sends to end an interactive program (SIGINT, SIGTERM,
// SIGHUP) turned into requests that its main loop polls: the handler only
// records the signal, and the program acts on it where it is safe to, for
// instance by keeping unsaved work before it ends.
#pragma once

enum class EStopRequest {
    None,
    Interrupt,  // SIGINT: ask as quitting does
    Terminate,  // SIGTERM
    HangUp,     // SIGHUP: the terminal went away
};

// While installed, the three signals set the pending request instead of
// ending the process; a second SIGTERM or SIGHUP while one is pending is
// passed to the previous handler (or ends the process), for a program that
// cannot get back to its loop. The previous handlers come back on
// destruction.
class CStopRequestCatcher {
public:
    CStopRequestCatcher();
    ~CStopRequestCatcher();
    CStopRequestCatcher(const CStopRequestCatcher&) = delete;
    CStopRequestCatcher& operator=(const CStopRequestCatcher&) = delete;
};

// The pending request (the last signal that arrived), left pending.
EStopRequest PendingStopRequest();
// Takes the pending request, leaving None.
EStopRequest TakeStopRequest();
// Ends the process as the request's signal would have, with its default
// action (so the parent sees the signal). Returns only for None or
// Interrupt.
void EndAsRequested(EStopRequest request);
