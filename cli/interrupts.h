// Ctrl+C and the requests to end. The platform's watcher (cli/terminal.h)
// takes them outside any signal handler, so a board read in progress is never
// cut short and the reaction may print like any other code. What each one
// does is decided here, the same on every platform.
#pragma once

#include <chrono>

// Call first thing in main, before any other thread exists: on POSIX the
// signals are blocked in every thread but the watcher.
void StartInterruptWatch();

// What reaches the program from outside.
enum class Interrupt {
    kCtrlC,       // SIGINT; Ctrl+C or Ctrl+Break in a Windows console
    kEndRequest,  // SIGTERM, SIGHUP: a session's end sends both, maybe more than once
    kClose,       // the Windows console closed, or the system shutting down
    kLogoff,      // a Windows user logging off: sent to every console program, services included
};

enum class InterruptAction {
    kGoOn,     // the running job was asked to stop after its record, or nothing is to be done
    kHold,     // the job was asked to stop; the caller must not let the program end before it has
    kEndNow,   // the program is to end at once
};

// While on, Ctrl+C and the requests to end ask the running job to stop after
// the record in progress (TakeAbortRequest); only a second Ctrl+C ends the
// program at once. While off, each of them ends it; the logoff never does.
// Turning it on starts counting afresh.
void SetAbortable(bool on);

// Decides what the interrupt does now; when it asks the job to stop, the
// notice has been shown.
InterruptAction OnInterrupt(Interrupt what);

// Returns once the program is no longer abortable.
void WaitWhileAbortable();

// Whether a stop was asked since the program last became abortable, waiting
// up to `wait` for one: for a run that goes on from job to job.
bool StopAsked(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

// Takes the pending abort request, if there is one.
bool TakeAbortRequest();

// Called on the watcher thread: notice(ctrlC) when a stop is asked (by
// Ctrl+C, or by a request to end when none was asked before), beforeExit()
// just before the program ends on an interrupt.
void SetInterruptHooks(void (*notice)(bool ctrlC), void (*beforeExit)());

// Runs beforeExit(), if set.
void BeforeInterruptExit();
