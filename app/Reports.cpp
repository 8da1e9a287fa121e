#include "app/Reports.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ui/Kernel.h"
#include "ui/Toknosoobzheniy.h"

namespace {

bool failureReported = false;
bool skipReported = false;

}  // namespace

// Writes UTF-16 units as UTF-8 into out (capacity bytes, zero-terminated); unpaired surrogates
// become U+FFFD. Control characters are written visibly as \xNN, so a stored name cannot move
// the cursor, retitle the terminal or overwrite the lines above.
void UnitsAsUtf8(const WCHAR* units, uint32_t count, char* out, uint32_t capacity) {
  uint32_t at = 0;
  auto put = [&](uint32_t c) {
    char bytes[5];
    uint32_t n;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      n = uint32_t(std::snprintf(bytes, sizeof bytes, "\\x%02X", unsigned(c)));
    } else if (c < 0x80) {
      bytes[0] = char(c);
      n = 1;
    } else if (c < 0x800) {
      bytes[0] = char(0xC0 | c >> 6);
      bytes[1] = char(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {
      bytes[0] = char(0xE0 | c >> 12);
      bytes[1] = char(0x80 | (c >> 6 & 0x3F));
      bytes[2] = char(0x80 | (c & 0x3F));
      n = 3;
    } else {
      bytes[0] = char(0xF0 | c >> 18);
      bytes[1] = char(0x80 | (c >> 12 & 0x3F));
      bytes[2] = char(0x80 | (c >> 6 & 0x3F));
      bytes[3] = char(0x80 | (c & 0x3F));
      n = 4;
    }
    if (at + n >= capacity) return;
    for (uint32_t i = 0; i < n; ++i) out[at++] = bytes[i];
  };
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    put(c);
  }
  out[at] = 0;
}


void NameAsUtf8(const char* name, char* out, uint32_t capacity) {
  WCHAR units[1024];
  uint32_t n = 0;
  while (name != nullptr && name[n] != 0 && n < 1023) ++n;
  if (n == 0 || Ansi1251ToWide(1251, 0, name, int(n), units, 1024) != int(n)) {
    for (uint32_t i = 0; i < n; ++i) units[i] = WCHAR(static_cast<unsigned char>(name[i]));
  }
  UnitsAsUtf8(units, n, out, capacity);
}


#ifdef _WIN32
namespace {

// A windowed program has a standard error only when it was redirected or when the console it was
// started from lends it one.
bool HasStandardError() {
  static int known = -1;
  if (known < 0) {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    known = handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
    if (!known && AttachConsole(ATTACH_PARENT_PROCESS)) known = std::freopen("CONOUT$", "w", stderr) != nullptr;
  }
  return known != 0;
}

// Report lines of a run without a standard error, shown together when the run ends.
std::string heldReport;

}  // namespace
#endif

void ReportLine(const char* text) {
#ifdef _WIN32
  if (!HasStandardError()) {
    if (heldReport.size() < 4000) heldReport.append(text).append("\n");
    return;
  }
#else
  PosixEndTerminalLine();
#endif
  std::fprintf(stderr, "velmora: %s\n", text);
  std::fflush(stderr);
}

void ShowHeldReport(bool hidden) {
#ifdef _WIN32
  if (!heldReport.empty() && !hidden) {
    std::wstring wide(heldReport.size() + 1, L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, heldReport.c_str(), -1, &wide[0], int(wide.size()));
    if (units > 0) ShowNoticeW(wide.c_str(), WIDE_TEXT("Velmora"));
  }
  heldReport.clear();
#else
  (void)hidden;
#endif
}

void ReportNote(const char* name, const char* reason) {
  char utf8[4096];
  NameAsUtf8(name, utf8, sizeof utf8);
  char line[4096 + 1024];
  std::snprintf(line, sizeof line, "%s: %s", utf8, reason);
  ReportLine(line);
}

void ReportFailure(const char* name, const char* reason) {
  failureReported = true;
  ReportNote(name, reason);
}

void ReportSkipped(const char* name, const char* reason) {
  skipReported = true;
  ReportNote(name, reason);
}

void SystemReason(DWORD error, char* reason, uint32_t capacity) {
  std::snprintf(reason, capacity, "system error %lu", static_cast<unsigned long>(error));
  WCHAR* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  if (n > 0 && text != nullptr) {
    uint32_t length = n;
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) --length;
    UnitsAsUtf8(text, length, reason, capacity);
  }
  if (text != nullptr) LocalFree(text);
}

void UnopenedReason(const char* name, DWORD error, char* reason, uint32_t capacity) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE))
    std::snprintf(reason, capacity, "not a regular file (a device, a pipe or a socket)");
  else
    SystemReason(error, reason, capacity);
}

void ReportSystemFailure(const char* name, DWORD error) {
  char reason[1024];
  SystemReason(error, reason, sizeof reason);
  ReportFailure(name, reason);
}

bool FailureReported() { return failureReported; }
bool SkipReported() { return skipReported; }
void ResetFailures() {
  failureReported = false;
  skipReported = false;
}

