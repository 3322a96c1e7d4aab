// Ctrl+C handling. Signals are taken by a thread of their own rather than a
// handler, so a board read in progress is never cut short with EINTR and the
// reaction may print like any other code.
#pragma once

struct termios;

// Call first thing in main, before any other thread exists: the signals are
// blocked in every thread but the watcher.
void StartInterruptWatch();

// While on, the first Ctrl+C asks the running job to stop (TakeAbortRequest)
// and a second one ends the program with status 130. While off, the first
// one ends it.
void SetAbortable(bool on);

// Takes the pending abort request, if there is one.
bool TakeAbortRequest();

// A terminal whose settings must be put back if the program is ended while
// they are changed (the password prompt). nullptr forgets it.
void SetTerminalToRestore(int fd, const termios* saved);

// Called on the watcher thread: notice() when an abort is requested,
// beforeExit() just before the program ends on a signal.
void SetInterruptHooks(void (*notice)(), void (*beforeExit)());
