// The program's own modal message window: a coloured title band, the message text and a row of
// flat-drawn push buttons. Its call has the argument order, flag values and result values of the
// Win32 message box (MB_ flags in, ID codes out).
#pragma once
#include <cstdint>

#include "foundation/Tstring.h"
#include "platform/win32.h"

// One window for the duration of one call: constructed hidden, run by RunModal, destroyed.
class TOknoSoobzheniy {
 public:
  // The texts are UTF-16; every character the font has is drawn.
  TOknoSoobzheniy(const TWideName& caption, const TWideName& text, UINT flags);
  ~TOknoSoobzheniy();
  TOknoSoobzheniy(const TOknoSoobzheniy&) = delete;
  TOknoSoobzheniy& operator=(const TOknoSoobzheniy&) = delete;

  // Shows the window and serves its messages until it closes; returns the chosen button's code.
  int32_t RunModal();
  // Draws the whole window into dc, or into a window context of its own when dc is null.
  void Paint(HDC dc);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Width of the button row: 104 per button less the last gap.
  int32_t ButtonRowWidth() const;

  HINSTANCE instance;
  HWND window;
  HFONT font;
  TAnsiString className;
  TWideName caption;
  TWideName text;
  TAnsiString buttonLabels[4];
  int32_t buttonCodes[4];
  uint32_t count;
  uint32_t selected;  // == count: no button (Escape, right click, closed from outside)
  bool mousePressed;
  bool keyPressed;

 private:
  int32_t Result() const;
};

// owner is accepted and ignored. Null text or caption counts as empty; an empty caption is shown
// as "Error". The narrow texts are code page 1251, converted through the code-page table.
int32_t ShowMessageWindow(HWND owner, const char* text, const char* caption, UINT flags);
// The same with UTF-16 texts, shown as they are.
int32_t ShowMessageWindowW(HWND owner, const WCHAR* text, const WCHAR* caption, UINT flags);

// A notice with OK and Cancel. Cancel snoozes further notices for ten seconds (until a message
// loop of the thread dispatches the snooze timer); a snoozed notice shows nothing and returns
// false. Otherwise true, after Cancel too.
bool ShowNotice(const char* text, const char* caption);
bool ShowNoticeW(const WCHAR* text, const WCHAR* caption);
// Whether notices are snoozed now (for inspection).
bool NoticesSnoozed();

void ToknosoobzheniyStartup();
void ToknosoobzheniyShutdown();
