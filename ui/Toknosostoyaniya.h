// The progress window: a small modeless custom-drawn window with a coloured title band, one line
// naming the job and a progress bar. It lives on the job's thread: the job posts
// WM_PROGRESS_UPDATE with the position as float bit patterns and then drains the window's
// messages with PumpProgressMessages after every block of work.
#pragma once
#include <cstdint>

#include "foundation/Tstring.h"
#include "platform/win32.h"

// wParam: bit pattern of the new progress (32-bit float, 0 to 1); lParam: bit pattern of the new
// base (32-bit float; the bar is dark up to it and grey from it to the progress; negative: none).
#define WM_PROGRESS_UPDATE (WM_USER + 1)
// Runs the closing animation up to 100 % (the thread is blocked meanwhile).
#define WM_PROGRESS_FINISH (WM_USER + 2)
// From now on Escape in the window cancels the job (posts WM_QUIT to the thread).
#define WM_PROGRESS_ALLOW_CANCEL (WM_USER + 3)

// Created through the memory manager and deleted with delete inside the manager's lock. The
// window handle is the first field: holders post to obj->window.
class TOknoSostoyaniya {
 public:
  TOknoSostoyaniya(const char* caption, const char* text, UINT flags);
  ~TOknoSostoyaniya();
  TOknoSostoyaniya(const TOknoSostoyaniya&) = delete;
  TOknoSostoyaniya& operator=(const TOknoSostoyaniya&) = delete;

  // Draws the whole window (into dc, or into a window context fetched here when dc is null),
  // unless the bar moved by less than one pixel since the last full paint.
  void Paint(HDC dc);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  // Fills the bar up to 100 % in steps, pausing between them.
  void Finish();

  HWND window;
  HINSTANCE instance;
  HFONT font;
  TAnsiString className;
  TWideName caption;  // the texts in UTF-16, converted from code page 1251
  TWideName text;
  TWideName status;  // where the job is; shown by presentations without pixels, not painted
  TAnsiString buttonLabels[4];
  float progress;
  float lastPainted;
  float base;
  int32_t buttonCodes[4];
  uint32_t count;
  uint32_t selected;
  bool mousePressed;
  bool keyPressed;
  bool cancelArmed;

 private:
  friend void SetProgressStatus(TOknoSostoyaniya* obj, const WCHAR* status);
  void Repaint() { Paint(nullptr); }
  void Present();
};

// A short note of where the job is (for example "3/5881 photos.jpg"), which a presentation that
// cannot show the window's pixels shows beside the bar (the terminal's progress line); the window
// itself paints what it always paints. UTF-16: the names in it keep every character.
void SetProgressStatus(TOknoSostoyaniya* obj, const WCHAR* status);

// OpenProgressWindow(text, no caption).
TOknoSostoyaniya* CreateProgressWindow(TAnsiString text);
// A new shown progress window for the zero-terminated cp1251 texts (null = empty; an empty caption
// becomes "Progress indicator"); null when the object cannot be made.
TOknoSostoyaniya* OpenProgressWindow(const char* text, const char* caption);
// Makes the object in *slot when the slot is empty and shows it (a filled slot is only shown
// again). The owner is not used. Always returns 2.
int32_t OpenProgressWindowEx(TOknoSostoyaniya** slot, HWND owner, const char* text, const char* caption,
                             UINT flags);
// Takes the window's queued messages and dispatches them; stops at a WM_CLOSE for the window
// (which is dropped) and clears obj->window when the window turns out to be gone. Thread
// messages (WM_QUIT, timers) stay queued for the job.
void PumpProgressMessages(TOknoSostoyaniya* obj);

void ToknosostoyaniyaStartup();
void ToknosostoyaniyaShutdown();
