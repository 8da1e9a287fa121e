// The program's text side, on every platform: whether it has a standard error to report on, the
// progress line a terminal may show on it, and what a window shows for presentations that cannot
// show pixels (the terminal presentation of the POSIX layer; on Windows every window is drawn,
// so the calls about it do nothing there).
#pragma once
#include "platform/win32.h"

// Whether the windows are drawn on a screen (a display or the Windows desktop), as opposed to
// presented as text in a terminal.
bool WindowsOnScreen();

// Whether standard error reaches someone: always on POSIX; on Windows, a windowed program has one
// only when it was redirected or the console it was started from lends it one.
bool StandardErrorAvailable();

// Ends a progress line or button row that the terminal presentation left open, so that the next
// line written to standard error starts on a line of its own; a progress line is cleared.
void EndTerminalLine();
// Draws the progress line that EndTerminalLine cleared again, below what was written since.
void ResumeTerminalLine();

// What a window shows, for presentations that cannot show pixels, its texts in UTF-16. The
// windows call this after each paint. `progress` is negative when there is no bar.
struct TWindowContent {
  const WCHAR* caption;
  const WCHAR* const* lines;
  int lineCount;
  const WCHAR* const* buttons;
  int buttonCount;
  int focused;   // index of the focused button, or buttonCount and above for none
  bool pressed;  // the focused button is drawn pressed
  float progress;
  const WCHAR* status;  // a progress window's note of where the job is (may be null); shortened,
                       // it keeps its first word
};
void PresentWindowContent(HWND window, const TWindowContent* content);
