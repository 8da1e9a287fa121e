// Shared by the user-interface tests: the scratch folder the test program runs "from", and small
// helpers for strings, the thread's queue and the window font.
#pragma once
#include <cstring>
#include <string>

#include "foundation/Tstring.h"
#include "platform/win32.h"

// A private temporary folder (POSIX path, no trailing slash). The test program's module is a
// program inside it, so the code-page table file is made there and not in the tree.
const std::string& UiTestFolder();

// Restarts the Kernel unit as if the program file were `programPath` (POSIX path), started by the
// name `startedAs` (the path itself when null) with the given further argument; the code-page
// tables are loaded from or made in the program file's folder.
void RestartKernelAs(const std::string& programPath, const char* argument = nullptr,
                     const char* startedAs = nullptr);
// Restarts the Kernel unit from the scratch folder again.
void RestartKernelInTestFolder();

inline std::string Text(const TAnsiString& s) { return s.Data() ? std::string(s.Data(), s.Length()) : std::string(); }

// Takes every thread message that is queued (WM_QUIT above all), dispatching it when asked to, as
// a program loop would.
inline void DrainThreadMessages(bool dispatch) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    if (dispatch) DispatchMessageA(&message);
}

// The windows' font: 15 pixels of "MS Sans Serif".
inline HFONT CreateWindowFont() {
  LOGFONTA lf = {};
  lf.lfHeight = 15;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(lf.lfFaceName, "MS Sans Serif");
  return CreateFontIndirectA(&lf);
}
