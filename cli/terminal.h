// What the front end needs from the platform's terminal and process: one
// implementation per platform (terminal_posix.cpp, terminal_win32.cpp).
#pragma once

#include <cstddef>
#include <string>

// Makes argv the program's arguments in UTF-8, as the core takes file names,
// and has a console show the program's UTF-8 output as such. POSIX systems
// pass arguments as they are; there it does nothing.
void UseUtf8(int& argc, char**& argv);

bool StdoutIsTerminal();
bool StderrIsTerminal();

// Columns of the terminal on stderr; 80 when it cannot be told.
size_t TerminalWidth();

// Readies stderr for the self-redrawing progress line. False when the
// terminal does not take the erase-line code; the line is then redrawn
// over itself with plain \r and spaces.
bool PrepareProgressLine();

// Writes text to stderr at once, bypassing stdio's buffer; safe on the
// thread that reacts to Ctrl+C.
void WriteStderrNow(const char* text);

// Starts reacting to Ctrl+C and to the requests to end that come with
// closing the terminal: each goes to OnInterrupt (cli/interrupts.h). When that
// says to end, a password prompt's terminal settings are put back,
// BeforeInterruptExit runs and the program ends at once (130 for Ctrl+C,
// 128 + the signal on POSIX, 129 for a Windows console's close). On POSIX a
// broken pipe never ends the program.
void StartPlatformInterruptWatch();

// One byte of standard input; false at its end or on an error.
bool ReadStdinByte(char& c);

// The user's terminal, even with stdin redirected, for a password entry
// without echo. Open fails with a one-line reason when there is none.
// Close puts the echo back; so does a Ctrl+C in between.
bool OpenHiddenEntry(std::string& error);
bool ReadHiddenEntryByte(char& c);
void CloseHiddenEntry();
