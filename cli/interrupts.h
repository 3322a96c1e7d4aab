// Ctrl+C handling. The platform's watcher (cli/terminal.h) takes the key
// outside any signal handler, so a board read in progress is never cut short
// and the reaction may print like any other code.
#pragma once

// Call first thing in main, before any other thread exists: on POSIX the
// signals are blocked in every thread but the watcher.
void StartInterruptWatch();

// While on, the first Ctrl+C asks the running job to stop (TakeAbortRequest)
// and a second one ends the program with status 130. While off, the first
// one ends it.
void SetAbortable(bool on);

// Takes the pending abort request, if there is one.
bool TakeAbortRequest();

// Called on the watcher thread: notice() when an abort is requested,
// beforeExit() just before the program ends on a signal.
void SetInterruptHooks(void (*notice)(), void (*beforeExit)());

// For the platform's watcher. A Ctrl+C, or a request to end (hangup,
// termination): true when it became an abort request (and notice() ran),
// false when the program is to end.
bool OnInterruptKey();
// Runs beforeExit(), if set.
void BeforeInterruptExit();
