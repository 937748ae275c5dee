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
// cannot get back to its loop. Once the program has said that it acts on
// the request (AcknowledgeStopRequest), a second signal in the next
// kStopGraceSeconds joins the first instead: the program is keeping its
// work, and a shutdown's quick second signal must not lose it. The previous
// handlers come back on destruction.
inline constexpr int kStopGraceSeconds = 5;

class CStopRequestCatcher {
public:
    CStopRequestCatcher();
    ~CStopRequestCatcher();
    CStopRequestCatcher(const CStopRequestCatcher&) = delete;
    CStopRequestCatcher& operator=(const CStopRequestCatcher&) = delete;
};

// The pending request (the last signal that arrived), left pending.
EStopRequest PendingStopRequest();
// Takes the pending request, leaving None (and no longer acting on it).
EStopRequest TakeStopRequest();
// The program has seen the pending request and is ending its work (keeping
// what is done); see the catcher. Nothing without a pending request.
void AcknowledgeStopRequest();
// While `fd` is not -1, a terminal on it that went away (see InputGone in
// platform/terminal.h) is a hang-up request, seen by the next look at the
// pending request wherever it is made (a loop that waits for workers as much
// as one that reads keys): the kernel tells a program whose terminal closed
// by a failing read, and not always by SIGHUP.
void StopWhenInputGone(int fd);
// Makes a request as its signal would, from the program itself: a terminal
// that went away (end of input, an error reading it) is a hang-up. A request
// already pending stays.
void RequestStop(EStopRequest request);
// The signal number of a request (0 for None), for an exit status of
// 128 + N and for messages.
int StopSignalNumber(EStopRequest request);
// "SIGINT", "SIGTERM", "SIGHUP"; "" for None.
const char* StopSignalName(EStopRequest request);
// Ends the process as the request's signal would have, with its default
// action (so the parent sees the signal). Returns only for None or
// Interrupt.
void EndAsRequested(EStopRequest request);
