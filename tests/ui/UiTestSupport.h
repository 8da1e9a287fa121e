// Shared by the user-interface tests: restarting the Kernel unit elsewhere, and small helpers for
// strings, the thread's queue and the window font.
#pragma once
#include <cstring>
#include <string>

#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "tests/TestMain.h"
#include "tests/platform/PlatformTestSupport.h"
#include "ui/Kernel.h"

// Restarts the Kernel unit as if the program file were `programPath` (POSIX path), started by the
// name `startedAs` (the path itself when null) with the given further argument; the code-page
// tables are loaded from or made in the program file's folder.
inline void RestartKernelAs(const std::string& programPath, const char* argument = nullptr,
                            const char* startedAs = nullptr) {
  KernelShutdown();
  SetTestProgram(programPath, argument, startedAs);
  KernelStartup();
}
// Restarts the Kernel unit from the scratch folder again, with the test program's arguments.
inline void RestartKernelInTestFolder() {
  RestartKernelAs(TestScratchFolder() + "/test");
  RestoreProgramArguments();
}

inline std::string Text(const TAnsiString& s) { return s.Data() ? std::string(s.Data(), s.Length()) : std::string(); }
// A UTF-16 text as UTF-8, and back.
inline std::string Text(const TWideName& s) {
  if (s.empty()) return std::string();
  std::string utf8(s.size() * 4, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), int(s.size()), &utf8[0], int(utf8.size()), nullptr, nullptr);
  utf8.resize(n > 0 ? size_t(n) : 0);
  return utf8;
}
inline TWideName Wide(const std::string& utf8) {
  if (utf8.empty()) return TWideName();
  TWideName wide(utf8.size(), WCHAR(0));
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], int(wide.size()));
  wide.resize(n > 0 ? size_t(n) : 0);
  return wide;
}

// Takes every thread message that is queued (WM_QUIT above all), dispatching it when asked to, as
// a program loop would.
inline void DrainThreadMessages(bool dispatch) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    if (dispatch) DispatchMessageA(&message);
}

