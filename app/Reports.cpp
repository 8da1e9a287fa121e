// Report lines on standard error (and, on Windows without one, a notice at the end): names as
// UTF-8 with control characters escaped, the system's reasons, and whether anything failed.
#include "app/Reports.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Console.h"
#include "ui/Kernel.h"
#include "ui/Toknosoobzheniy.h"

namespace {

bool failureReported = false;
bool skipReported = false;

}  // namespace

// Control characters are written visibly as \xNN, so a stored name cannot move the cursor,
// retitle the terminal or overwrite the lines above; the rest is the system's UTF-8 conversion
// (an unpaired surrogate becomes U+FFFD). What does not fit is cut at a whole character.
void UnitsAsUtf8(const WCHAR* units, uint32_t count, char* out, uint32_t capacity) {
  if (capacity == 0) return;
  std::basic_string<WCHAR> visible;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t c = units[i];
    const bool paired = (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) ||
                        (c >= 0xDC00 && c <= 0xDFFF && i > 0 && units[i - 1] >= 0xD800 && units[i - 1] <= 0xDBFF);
    const bool lone = c >= 0xD800 && c <= 0xDFFF && !paired;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || lone) {
      // A lone 0xDC00 + b stands for the byte b of a system name that was not UTF-8.
      char escape[8];
      if (lone && c >= 0xDC00 && c <= 0xDCFF)
        std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(c - 0xDC00));
      else
        std::snprintf(escape, sizeof escape, lone ? "\\u%04X" : "\\x%02X", unsigned(c));
      for (const char* e = escape; *e != 0; ++e) visible.push_back(WCHAR(*e));
    } else {
      visible.push_back(WCHAR(c));
    }
  }
  // Three bytes at most for a unit, four for a pair of them.
  size_t fit = (capacity - 1) / 3;
  if (visible.size() > fit) {
    if (fit > 0 && visible[fit - 1] >= 0xD800 && visible[fit - 1] < 0xDC00) --fit;
    visible.resize(fit);
  }
  const int length = visible.empty() ? 0
                                     : WideCharToMultiByte(CP_UTF8, 0, visible.data(), int(visible.size()), out,
                                                           int(capacity - 1), nullptr, nullptr);
  out[length > 0 ? length : 0] = 0;
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

namespace {

// Report lines of a run without a standard error, shown together when the run ends.
std::string heldReport;

// One line on `stream`, below the progress line that a terminal may show, which is drawn again
// after it.
void WriteLine(FILE* stream, const char* prefix, const char* text) {
  EndTerminalLine();
  std::fprintf(stream, "%s%s\n", prefix, text);
  std::fflush(stream);
  ResumeTerminalLine();
}

}  // namespace

void ReportLine(const char* text) {
  if (!StandardErrorAvailable()) {
    if (heldReport.size() < 4000) heldReport.append(text).append("\n");
    return;
  }
  WriteLine(stderr, "velmora: ", text);
}

void PrintResult(const char* text) { WriteLine(stdout, "", text); }

void ReportConsoleLine(const char* text) {
  if (StandardErrorAvailable()) ReportLine(text);
}

void ShowHeldReport(bool hidden) {
  if (!heldReport.empty() && !hidden) {
    std::basic_string<WCHAR> wide(heldReport.size() + 1, WCHAR(0));
    const int units = MultiByteToWideChar(CP_UTF8, 0, heldReport.c_str(), -1, &wide[0], int(wide.size()));
    if (units > 0) ShowNoticeW(wide.c_str(), WIDE_TEXT("Velmora"));
  }
  heldReport.clear();
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

void UnopenedReason(const WCHAR* name, DWORD error, char* reason, uint32_t capacity) {
  const DWORD attributes = GetFileAttributesW(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE))
    std::snprintf(reason, capacity, "not a regular file (a device, a pipe or a socket)");
  else
    SystemReason(error, reason, capacity);
}

namespace {

std::string Utf8Of(const char* name) {
  char utf8[4096];
  NameAsUtf8(name, utf8, sizeof utf8);
  return utf8;
}

std::string Utf8Of(const WCHAR* name) {
  char utf8[4096];
  uint32_t n = 0;
  while (name != nullptr && name[n] != 0) ++n;
  UnitsAsUtf8(name, n, utf8, sizeof utf8);
  return utf8;
}

// "NAME: reason" for a name in code page 1251 or in UTF-16; `flag` records a failure or a skip.
template <typename TChar>
void NameLine(const TChar* name, const char* reason, bool* flag) {
  if (flag != nullptr) *flag = true;
  ReportLine((Utf8Of(name) + ": " + reason).c_str());
}

template <typename TChar>
void SystemFailureLine(const TChar* name, DWORD error) {
  char reason[1024];
  SystemReason(error, reason, sizeof reason);
  NameLine(name, reason, &failureReported);
}

}  // namespace

void ReportNote(const char* name, const char* reason) { NameLine(name, reason, nullptr); }
void ReportNote(const WCHAR* name, const char* reason) { NameLine(name, reason, nullptr); }
void ReportFailure(const char* name, const char* reason) { NameLine(name, reason, &failureReported); }
void ReportFailure(const WCHAR* name, const char* reason) { NameLine(name, reason, &failureReported); }
void ReportSkipped(const char* name, const char* reason) { NameLine(name, reason, &skipReported); }
void ReportSkipped(const WCHAR* name, const char* reason) { NameLine(name, reason, &skipReported); }
void ReportSystemFailure(const char* name, DWORD error) { SystemFailureLine(name, error); }
void ReportSystemFailure(const WCHAR* name, DWORD error) { SystemFailureLine(name, error); }

bool FailureReported() { return failureReported; }
bool SkipReported() { return skipReported; }
void ResetFailures() {
  failureReported = false;
  skipReported = false;
}

