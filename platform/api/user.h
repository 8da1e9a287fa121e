// user32 subset: the thread's message queue, thread timers, window classes and windows, and the
// user32 drawing helpers (window contexts, system colours, rectangle fills).
#pragma once
#include "platform/api/base.h"
#include "platform/api/gdi.h"

struct HWND__;
typedef HWND__* HWND;
struct HMENU__;
typedef HMENU__* HMENU;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
typedef WORD ATOM;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};

#define LOWORD(l) (static_cast<WORD>(static_cast<uintptr_t>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<uintptr_t>(l) >> 16) & 0xFFFF))
#define MAKELPARAM(lo, hi) (static_cast<LPARAM>(static_cast<DWORD>((static_cast<WORD>(lo)) | (static_cast<DWORD>(static_cast<WORD>(hi)) << 16))))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))

// Messages
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCDESTROY 0x0082
#define WM_NCHITTEST 0x0084
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_USER 0x0400

#define SC_CLOSE 0xF060

// Virtual keys
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_F4 0x73

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define HTERROR (-2)
#define HTNOWHERE 0
#define HTCLIENT 1
#define HTCAPTION 2

#define WS_POPUP 0x80000000u
#define WS_VISIBLE 0x10000000u
#define WS_BORDER 0x00800000u

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_BYTEALIGNWINDOW 0x2000

#define GWL_USERDATA (-21)
#define GWLP_USERDATA (-21)

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

#define IDC_ARROW MAKEINTRESOURCEA(32512)

// Message box flags and answers
#define MB_OK 0x0000u
#define MB_OKCANCEL 0x0001u
#define MB_ABORTRETRYIGNORE 0x0002u
#define MB_YESNOCANCEL 0x0003u
#define MB_YESNO 0x0004u
#define MB_RETRYCANCEL 0x0005u
#define MB_ICONHAND 0x0010u
#define MB_ICONERROR 0x0010u
#define MB_ICONQUESTION 0x0020u
#define MB_ICONEXCLAMATION 0x0030u
#define MB_ICONINFORMATION 0x0040u
#define MB_DEFBUTTON1 0x0000u
#define MB_DEFBUTTON2 0x0100u
#define MB_DEFBUTTON3 0x0200u
#define MB_DEFBUTTON4 0x0300u
#define MB_SYSTEMMODAL 0x1000u
#define MB_TASKMODAL 0x2000u

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// System colours (classic scheme)
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20

// Messages and timers
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
void PostQuitMessage(int exitCode);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC callback);
BOOL KillTimer(HWND window, UINT_PTR id);
DWORD GetTickCount();

// Classes and windows
ATOM RegisterClassExA(const WNDCLASSEXA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR caption, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
LONG GetWindowLongA(HWND window, int index);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL ScreenToClient(HWND window, LPPOINT point);
BOOL ClientToScreen(HWND window, LPPOINT point);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
int GetSystemMetrics(int index);
BOOL UpdateWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL SetMenu(HWND window, HMENU menu);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags);

// user32 drawing helpers
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);
DWORD GetSysColor(int index);
HBRUSH GetSysColorBrush(int index);

#ifndef _WIN32
// POSIX-only services of this layer.

// Async-signal-safe: only sets a flag. The next PeekMessageA/GetMessageA of the thread that may
// return thread messages delivers WM_QUIT; a loop filtered to one window meanwhile receives an
// Escape key press and release for that window once, so a question on screen is answered the way
// Escape answers it instead of blocking the quit.
void PosixRequestQuit();
// Puts a terminal that the terminal presentation switched to raw mode back as it was. Safe at
// any time and from a signal handler (only restores the saved settings, idempotent).
void PosixRestoreTerminal();

// Read-back of a window's client canvas: pixels are 0x00RRGGBB, rows top to bottom, `width`
// pixels per row. The pointer stays valid until the window is destroyed or resized.
bool PosixWindowCanvas(HWND window, const uint32_t** pixels, int* width, int* height);

// Number of times the window's canvas was presented (a window context released after drawing,
// i.e. one paint), for tests that count frames.
uint32_t PosixWindowPaintCount(HWND window);

// Moves the clock that thread timers run on forward by `milliseconds`, so that tests can make a
// timer due without waiting for it.
void PosixAdvanceTimerClock(DWORD milliseconds);

// Which presentation serves the windows now: 'x' for X11, 't' for the terminal and canvases.
char PosixDisplayKind();
#endif
