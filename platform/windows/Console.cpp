// The text side of the Windows program: a standard error only where one was given or lent; the
// windows are always drawn, so nothing is presented as text.
#include <csignal>
#include <cstdio>

#include "platform/Console.h"
#include "platform/Process.h"

bool StandardErrorAvailable() {
  static int known = -1;
  if (known < 0) {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    known = handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
    if (!known && AttachConsole(ATTACH_PARENT_PROCESS)) known = std::freopen("CONOUT$", "w", stderr) != nullptr;
  }
  return known != 0;
}

bool WindowsOnScreen() { return true; }

void EndTerminalLine() {}
void ResumeTerminalLine() {}
void PresentWindowContent(HWND, const TWindowContent*) {}

namespace {

void (*quitCallback)() = nullptr;

extern "C" void OnQuitSignal(int signal) {
  std::signal(signal, OnQuitSignal);  // the runtime resets the handler before calling it
  if (quitCallback != nullptr) quitCallback();
}

}  // namespace

// Windows builds the command line itself, wakes its loops on its own and changes no terminal.
void TakeProcessArguments(int, char**) {}
void RestoreTerminal() {}

void CatchQuitSignals(void (*onQuit)()) {
  quitCallback = onQuit;
  std::signal(SIGINT, OnQuitSignal);
  std::signal(SIGTERM, OnQuitSignal);
  std::signal(SIGBREAK, OnQuitSignal);
}

// The console's control handler runs on a thread of its own; nothing to keep away.
void KeepQuitSignalsAway() {}
