// A scratch folder per test, named both ways: the system's name and the program's cp1251 name.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#if !defined(_WIN32)
#include <unistd.h>
#endif

// A folder as the program names it: backslashes, one at the end.
inline std::string NarrowFolder(std::string folder) {
  for (char& c : folder)
    if (c == '/') c = '\\';
  return folder + "\\";
}

class TScratchFolder {
 public:
  TScratchFolder() {
#if defined(_WIN32)
    static unsigned serial = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && system.empty(); ++attempt) {
      const std::filesystem::path path =
          base / ("velmora-platform-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
      std::error_code error;
      if (std::filesystem::create_directory(path, error)) system = path.string();
    }
#else
    char pattern[] = "/tmp/velmora-platform-XXXXXX";
    system = mkdtemp(pattern) ? pattern : "";
#endif
    narrow = NarrowFolder(system);
  }
  ~TScratchFolder() {
    if (system.empty()) return;
#if defined(_WIN32)
    std::error_code ignored;
    std::filesystem::remove_all(system, ignored);
#else
    std::system(("chmod -R u+w '" + system + "' 2>/dev/null; rm -rf '" + system + "'").c_str());
#endif
  }
  std::string system;  // /tmp/velmora-platform-XXXXXX (on Windows, a folder of the user's temp folder)
  std::string narrow;  // \tmp\velmora-platform-XXXXXX\ (ends in a backslash)
};

// The file calls as the tests use them.
struct TListedItem {
  std::string name;
  DWORD attributes;
};

inline std::vector<TListedItem> List(const std::string& folderNarrow) {
  std::vector<TListedItem> items;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folderNarrow + "*.*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return items;
  do items.push_back({data.cFileName, data.dwFileAttributes});
  while (FindNextFileA(search, &data));
  EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_TRUE(FindClose(search));
  return items;
}

inline std::string ReadWhole(HANDLE file) {
  std::string content;
  char buffer[100];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  return content;
}

inline HANDLE OpenForReading(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline HANDLE CreateForWriting(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The last error of a failed open; a handle that opened after all is closed and gives 0.
inline DWORD ErrorOf(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

// Whether windows can be made here: always on the POSIX layer, whose windows need no display; on
// Windows only with a display (Wine without one makes none).
inline bool WindowsCanBeMade() {
#if defined(_WIN32)
  static const bool can = [] {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe != nullptr) DestroyWindow(probe);
    return probe != nullptr;
  }();
  return can;
#else
  return true;
#endif
}

// Lets `milliseconds` pass for the thread's timers: the POSIX layer's timer clock is moved on at
// once; on Windows the time is waited for.
inline void AdvanceTimerClock(DWORD milliseconds) {
#if defined(_WIN32)
  Sleep(milliseconds + 50);
#else
  PosixAdvanceTimerClock(milliseconds);
#endif
}

// A system colour as a canvas pixel, 0xRRGGBB.
inline uint32_t SysPixel(int index) {
  const COLORREF c = GetSysColor(index);
  return (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}

// A window's client area as it is drawn, 0xRRGGBB pixels; At gives 0xFFFFFFFF outside it. The
// POSIX layer hands its canvas over; on Windows the window erases and paints itself into a bitmap
// (the program's windows take a WM_PAINT's device context from wParam).
struct TCanvas {
  std::vector<uint32_t> storage;
  const uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  uint32_t At(int x, int y) const {
    return pixels != nullptr && x >= 0 && y >= 0 && x < width && y < height ? pixels[y * width + x] : 0xFFFFFFFF;
  }
  // Pixels of colour c inside [left, right) x [top, bottom).
  int Count(int left, int top, int right, int bottom, uint32_t c) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) n += At(x, y) == c;
    return n;
  }
};

inline TCanvas CanvasOf(HWND window) {
  TCanvas c;
#if defined(_WIN32)
  RECT client;
  if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return c;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = client.right;
  info.bmiHeader.biHeight = -client.bottom;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);  // the class background
    SendMessageA(window, WM_PAINT, reinterpret_cast<WPARAM>(memory), 0);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    c.storage.assign(p, p + size_t(client.right) * size_t(client.bottom));
    for (uint32_t& pixel : c.storage) pixel &= 0xFFFFFF;
    c.pixels = c.storage.data();
    c.width = client.right;
    c.height = client.bottom;
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
#else
  if (!PosixWindowCanvas(window, &c.pixels, &c.width, &c.height)) c = TCanvas();
#endif
  return c;
}
