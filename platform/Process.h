// The process's start and end, on every platform: the arguments as the C runtime hands them (the
// POSIX layer builds the Windows command line from them; Windows has its own), a quit asked for by
// a signal, and the terminal left as it was found.
#pragma once

// Hands the process's arguments to the platform, before anything asks for the command line.
void TakeProcessArguments(int argc, char** argv);
// Makes SIGINT, SIGTERM and SIGHUP (Ctrl+C and Ctrl+Break on Windows) call `onQuit` (which must
// do only async-signal-safe work) and then wake the thread's message loop. A system call that a
// quit signal interrupts is not restarted: a read or write that blocks ends, failing with
// ERROR_OPERATION_ABORTED once a quit was asked for.
void CatchQuitSignals(void (*onQuit)());
// Keeps the quit signals off the calling thread (a worker of the run), so that they reach the
// thread that reads and writes the files.
void KeepQuitSignalsAway();
// Puts back what the run changed of the terminal, before the process ends.
void RestoreTerminal();
