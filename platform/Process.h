// The process's start and end, on every platform: the arguments as the C runtime hands them (the
// POSIX layer builds the Windows command line from them; Windows has its own), a quit asked for by
// a signal, and the terminal left as it was found.
#pragma once

// Hands the process's arguments to the platform, before anything asks for the command line.
void TakeProcessArguments(int argc, char** argv);
// Called from a signal handler (so only async-signal-safe work): wakes the thread's message loop
// so that the quit the handler noted is seen.
void WakeForQuit();
// Puts back what the run changed of the terminal, before the process ends.
void RestoreTerminal();
