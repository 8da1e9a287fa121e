// Internal shared state of the POSIX window system: window records with their canvases, the
// message queue's entry points used by the displays, and the two presentations (X11 and the
// terminal). Only platform/posix/ includes this header.
#pragma once
#include "platform/Console.h"
#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <vector>

namespace posixwin {

struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, row-major
  void Resize(int newWidth, int newHeight, uint32_t fill);
};

struct WindowRecord {
  uintptr_t id = 0;
  std::string className;
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  HBRUSH background = nullptr;
  std::string caption;
  DWORD style = 0;
  int x = 0, y = 0, width = 0, height = 0;  // outer rectangle in screen coordinates
  int border = 0;                           // pixels of WS_BORDER on each side
  bool visible = false;
  bool needsPaint = false;
  bool destroying = false;
  LONG_PTR userData = 0;
  Canvas canvas;  // the client area
  uint32_t paintCount = 0;
  unsigned long xWindow = 0;
  uint64_t escapedQuitRequest = 0;  // the quit request already answered with Escape here
  bool terminalAnswered = false;    // the terminal has answered this window (non-tty stdin)
  bool terminalAnswerDue = false;   // ... and gives that answer once the window's loop would wait
  std::string content;              // serialised last presented content (terminal)
};

// Window table (Windows.cpp).
WindowRecord* FindWindowRecord(HWND window);
HWND HandleOf(const WindowRecord* record);
void ForEachWindow(void (*visit)(WindowRecord*, void*), void* context);
void FillWithBackground(WindowRecord* record);
int ScreenWidth();
int ScreenHeight();

// Queue (Messages.cpp).
void PostInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DiscardWindowMessages(HWND window);
void KillWindowTimers(HWND window);

// Presentation after drawing into a window's canvas (Drawing.cpp calls it on ReleaseDC).
void PresentCanvas(WindowRecord* record);

// X11 (DisplayX11.cpp). All are no-ops while no display is open.
bool X11Active();
bool X11OpenIfAvailable();
void X11CreateWindow(WindowRecord* record);
void X11DestroyWindow(WindowRecord* record);
void X11ShowWindow(WindowRecord* record, bool show);
void X11Present(WindowRecord* record);
void X11MoveWindow(WindowRecord* record);
int X11ConnectionFd();
bool X11HasPendingEvents();
void X11ProcessEvents();
bool X11ScreenSize(int* width, int* height);

// Terminal (DisplayTerminal.cpp).
void TerminalWindowShown(WindowRecord* record, bool shown);
void TerminalWindowDestroyed(WindowRecord* record);
void TerminalPresent(WindowRecord* record, const TWindowContent* content);
int TerminalInputFd();  // -1 while no shown window takes terminal keys
void TerminalProcessInput();
// A loop about to wait for messages of `filter` (null: any window): a shown message window with
// no one at the terminal to answer it gets its Escape now. True when input was posted.
bool TerminalAnswerIdleWindow(HWND filter);

// Fonts (Font.cpp).
struct FontFace;
FontFace* OpenFont(const LOGFONTA& font);
void CloseFont(FontFace* face);
// Advance and cell height of one character (a code point; the face's box where it has none).
bool MeasureCode(FontFace* face, uint32_t code, int* advance, int* height);
// Draws one character with its cell's top-left at (x, y); returns the advance.
int DrawCode(FontFace* face, uint32_t code, Canvas* canvas, int x, int y, uint32_t color);
int FontAscent(FontFace* face);
// Unicode code point of a cp1251 byte; 0 for the one byte that has none.
uint32_t UnicodeOfByte(uint8_t byte);
// The character drawn for a cp1251 byte: U+FFFD for the byte that has none.
uint32_t DrawnCodeOfByte(uint8_t byte);

}  // namespace posixwin
