// Window classes and windows.
//
// A window is a record in a table keyed by its handle value; handles are never reused, so a
// handle of a destroyed window stays invalid. Each window owns a canvas of its client area (the
// window less its one-pixel WS_BORDER on each side), which the drawing calls paint and the active
// presentation shows: an X11 top-level window when a display is open, else the terminal.
#include "platform/Console.h"
#include "platform/posix/WindowSystem.h"

#include <strings.h>

#include <cstdio>
#include <map>
#include <memory>

namespace {

struct ClassRecord {
  std::string name;
  WNDPROC proc;
  HINSTANCE instance;
  HBRUSH background;
  UINT style;
};

std::vector<ClassRecord> classes;
std::map<uintptr_t, std::unique_ptr<posixwin::WindowRecord>> windows;
uintptr_t nextWindowId = 0x1000;

ClassRecord* FindClass(LPCSTR name) {
  if (name == nullptr) return nullptr;
  for (ClassRecord& entry : classes)
    if (strcasecmp(entry.name.c_str(), name) == 0) return &entry;
  return nullptr;
}

uint32_t ToPixel(COLORREF color) {
  return (static_cast<uint32_t>(GetRValue(color)) << 16) | (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

}  // namespace

namespace posixwin {

void Canvas::Resize(int newWidth, int newHeight, uint32_t fill) {
  width = newWidth > 0 ? newWidth : 0;
  height = newHeight > 0 ? newHeight : 0;
  pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
}

WindowRecord* FindWindowRecord(HWND window) {
  auto it = windows.find(reinterpret_cast<uintptr_t>(window));
  return it == windows.end() ? nullptr : it->second.get();
}

HWND HandleOf(const WindowRecord* record) { return reinterpret_cast<HWND>(record->id); }

void ForEachWindow(void (*visit)(WindowRecord*, void*), void* context) {
  for (auto& entry : windows) visit(entry.second.get(), context);
}

void FillWithBackground(WindowRecord* record) {
  uint32_t fill = ToPixel(GetSysColor(COLOR_BTNFACE));
  uintptr_t brush = reinterpret_cast<uintptr_t>(record->background);
  if (brush != 0 && brush <= COLOR_BTNHIGHLIGHT + 1)
    fill = ToPixel(GetSysColor(static_cast<int>(brush - 1)));
  record->canvas.Resize(record->canvas.width, record->canvas.height, fill);
}

// The display is opened here at the latest, so that the first window is centred on the real screen.
bool ScreenSize(int* width, int* height) {
  X11OpenIfAvailable();
  return X11ScreenSize(width, height);
}

int ScreenWidth() {
  int width = 0, height = 0;
  if (ScreenSize(&width, &height)) return width;
  return 1024;
}

int ScreenHeight() {
  int width = 0, height = 0;
  if (ScreenSize(&width, &height)) return height;
  return 768;
}

}  // namespace posixwin

using posixwin::WindowRecord;

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
  if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) || windowClass->lpszClassName == nullptr ||
      windowClass->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (FindClass(windowClass->lpszClassName) != nullptr) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  classes.push_back(ClassRecord{windowClass->lpszClassName, windowClass->lpfnWndProc, windowClass->hInstance,
                                windowClass->hbrBackground, windowClass->style});
  static ATOM nextAtom = 0xC000;
  return nextAtom++;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
  ClassRecord* entry = FindClass(className);
  if (entry == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (auto& window : windows) {
    if (strcasecmp(window.second->className.c_str(), entry->name.c_str()) == 0) {
      SetLastError(1412u);  // ERROR_CLASS_HAS_WINDOWS
      return FALSE;
    }
  }
  classes.erase(classes.begin() + (entry - classes.data()));
  return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR caption, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter) {
  ClassRecord* entry = FindClass(className);
  if (entry == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  posixwin::X11OpenIfAvailable();
  std::unique_ptr<WindowRecord> record(new WindowRecord);
  record->id = nextWindowId;
  nextWindowId += 4;
  record->className = entry->name;
  record->proc = entry->proc;
  record->instance = instance;
  record->background = entry->background;
  record->caption = caption != nullptr ? caption : "";
  record->style = style;
  record->x = x;
  record->y = y;
  record->width = width;
  record->height = height;
  record->border = (style & WS_BORDER) != 0 ? 1 : 0;
  record->canvas.Resize(width - 2 * record->border, height - 2 * record->border, 0);
  posixwin::FillWithBackground(record.get());
  record->needsPaint = true;
  WindowRecord* created = record.get();
  windows[created->id] = std::move(record);
  posixwin::X11CreateWindow(created);
  HWND handle = posixwin::HandleOf(created);
  if ((style & WS_VISIBLE) != 0) ShowWindow(handle, SW_SHOW);
  return handle;
}

BOOL DestroyWindow(HWND window) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (record->destroying) return TRUE;
  record->destroying = true;
  if (record->visible) {
    record->visible = false;
    posixwin::X11ShowWindow(record, false);
    posixwin::TerminalWindowShown(record, false);
  }
  SendMessageA(window, WM_DESTROY, 0, 0);
  SendMessageA(window, WM_NCDESTROY, 0, 0);
  posixwin::TerminalWindowDestroyed(record);
  posixwin::X11DestroyWindow(record);
  posixwin::DiscardWindowMessages(window);
  posixwin::KillWindowTimers(window);
  windows.erase(record->id);
  return TRUE;
}

BOOL IsWindow(HWND window) { return posixwin::FindWindowRecord(window) != nullptr ? TRUE : FALSE; }

BOOL IsWindowVisible(HWND window) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  return record != nullptr && record->visible ? TRUE : FALSE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr || record->proc == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return record->proc(window, message, wParam, lParam);
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (index != GWLP_USERDATA) {
    SetLastError(1413u);  // ERROR_INVALID_INDEX
    return 0;
  }
  LONG_PTR previous = record->userData;
  record->userData = value;
  SetLastError(ERROR_SUCCESS);
  return previous;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (index != GWLP_USERDATA) {
    SetLastError(1413u);
    return 0;
  }
  return record->userData;
}

// The 32-bit forms keep the whole pointer-sized value, so 32-bit Win32 code that stores an object
// address with them keeps working where pointers are wider.
LONG SetWindowLongA(HWND window, int index, LONG value) {
  return static_cast<LONG>(SetWindowLongPtrA(window, index, static_cast<LONG_PTR>(value)));
}

LONG GetWindowLongA(HWND window, int index) { return static_cast<LONG>(GetWindowLongPtrA(window, index)); }

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) return 0;
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_PAINT:
      record->needsPaint = false;
      return 0;
    case WM_NCHITTEST:
      return HTCLIENT;
    case WM_SYSKEYDOWN:
      // Alt+F4 asks to close the window, as the system menu would.
      if (wParam == VK_F4 && (static_cast<uintptr_t>(lParam) & (1u << 29)) != 0)
        return SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) return SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr || rect == nullptr) {
    SetLastError(record == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  rect->left = 0;
  rect->top = 0;
  rect->right = record->canvas.width;
  rect->bottom = record->canvas.height;
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr || rect == nullptr) {
    SetLastError(record == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  rect->left = record->x;
  rect->top = record->y;
  rect->right = record->x + record->width;
  rect->bottom = record->y + record->height;
  return TRUE;
}

BOOL ScreenToClient(HWND window, LPPOINT point) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr || point == nullptr) return FALSE;
  point->x -= record->x + record->border;
  point->y -= record->y + record->border;
  return TRUE;
}

BOOL ClientToScreen(HWND window, LPPOINT point) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr || point == nullptr) return FALSE;
  point->x += record->x + record->border;
  point->y += record->y + record->border;
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) return FALSE;
  record->x = x;
  record->y = y;
  if (width != record->width || height != record->height) {
    record->width = width < 0 ? 0 : width;
    record->height = height < 0 ? 0 : height;
    record->canvas.Resize(record->width - 2 * record->border, record->height - 2 * record->border, 0);
    posixwin::FillWithBackground(record);
    record->needsPaint = true;
  }
  posixwin::X11MoveWindow(record);
  if (repaint) record->needsPaint = true;
  return TRUE;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return posixwin::ScreenWidth();
    case SM_CYSCREEN:
      return posixwin::ScreenHeight();
    default:
      return 0;
  }
}

BOOL UpdateWindow(HWND window) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) return FALSE;
  if (record->needsPaint) SendMessageA(window, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) return FALSE;
  bool wasVisible = record->visible;
  bool show = command != SW_HIDE;
  if (show == wasVisible) return wasVisible ? TRUE : FALSE;
  record->visible = show;
  if (show) {
    // Showing erases the client with the class background at once; the paint follows as WM_PAINT.
    posixwin::FillWithBackground(record);
    record->needsPaint = true;
  }
  posixwin::X11ShowWindow(record, show);
  posixwin::TerminalWindowShown(record, show);
  return wasVisible ? TRUE : FALSE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) return FALSE;
  record->needsPaint = true;
  return TRUE;
}

BOOL SetMenu(HWND window, HMENU menu) {
  if (posixwin::FindWindowRecord(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return menu == nullptr ? TRUE : FALSE;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  // Only the standard arrow exists; the displays show their default pointer for it.
  if (instance == nullptr && name == IDC_ARROW) return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(32512));
  SetLastError(1813u);  // ERROR_RESOURCE_TYPE_NOT_FOUND
  return nullptr;
}

// The system message box is used only where the program's own windows cannot be, so it needs no
// display: the text goes to standard error and the answer is the one Escape gives (nothing is
// agreed to without the user).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
  std::fflush(stderr);
  switch (flags & 15u) {
    case MB_OK:
      return IDOK;
    case MB_YESNO:
      return IDNO;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    default:
      return IDCANCEL;
  }
}

bool PosixWindowCanvas(HWND window, const uint32_t** pixels, int* width, int* height) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr) return false;
  if (pixels != nullptr) *pixels = record->canvas.pixels.data();
  if (width != nullptr) *width = record->canvas.width;
  if (height != nullptr) *height = record->canvas.height;
  return true;
}

uint32_t PosixWindowPaintCount(HWND window) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  return record == nullptr ? 0 : record->paintCount;
}

void PresentWindowContent(HWND window, const TWindowContent* content) {
  WindowRecord* record = posixwin::FindWindowRecord(window);
  if (record == nullptr || content == nullptr) return;
  posixwin::TerminalPresent(record, content);
}

char PosixDisplayKind() { return posixwin::X11Active() ? 'x' : 't'; }
