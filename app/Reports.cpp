// Report lines on standard error (and, on Windows without one, a notice at the end): names as
// UTF-8 with control characters escaped, the system's reasons, and whether anything failed.
#include "app/Reports.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Console.h"
#include "ui/Kernel.h"
#include "ui/Toknosoobzheniy.h"

namespace {

struct TCodeRange {
  uint32_t first, last;
};

// Unicode's format characters (category Cf: bidirectional overrides and isolates, zero-width
// characters, the byte order mark, tags), with the line and paragraph separators: invisible or
// reordering the text around them, so a name holding one could pass for another.
const TCodeRange kHiddenCharacters[] = {
    {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},     {0x70F, 0x70F},
    {0x890, 0x891},     {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x13438}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool IsHidden(uint32_t c) {
  for (const TCodeRange& range : kHiddenCharacters)
    if (c >= range.first && c <= range.last) return true;
  return false;
}

}  // namespace

// The archive's separator, '\', is shown as the system's own, so that a listed name can be typed
// back as it stands.
#if defined(_WIN32)
constexpr WCHAR kShownSeparator = '\\';
#else
constexpr WCHAR kShownSeparator = '/';
#endif

TWideName VisibleName(const WCHAR* units, uint32_t count) {
  TWideName visible;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = units[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
    if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
    char escape[16] = "";
    if (c >= 0xDC00 && c <= 0xDCFF)  // a lone 0xDC00 + b: the byte b of a system name that was not UTF-8
      std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(c - 0xDC00));
    else if (c >= 0xD800 && c <= 0xDFFF)
      std::snprintf(escape, sizeof escape, "\\u%04X", unsigned(c));
    else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
      std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(c));
    else if (IsHidden(c))
      std::snprintf(escape, sizeof escape, "\\u{%04X}", unsigned(c));
    if (escape[0] != 0) {
      for (const char* e = escape; *e != 0; ++e) visible.push_back(WCHAR(*e));
    } else if (c == '\\') {
      visible.push_back(kShownSeparator);
    } else {
      visible.push_back(units[i]);
      if (pair) visible.push_back(units[i + 1]);
    }
    if (pair) ++i;
  }
  return visible;
}

// What does not fit is cut at a whole character.
namespace {

// A visible name as UTF-8 in out (zero-terminated), cut at a whole character to fit capacity
// bytes: three bytes at most for a unit, four for a pair of them. Returns the bytes written.
size_t VisibleAsUtf8(TWideName visible, char* out, size_t capacity) {
  size_t fit = (capacity - 1) / 3;
  if (visible.size() > fit) {
    if (fit > 0 && visible[fit - 1] >= 0xD800 && visible[fit - 1] < 0xDC00) --fit;
    visible.resize(fit);
  }
  const int length = visible.empty() ? 0
                                     : WideCharToMultiByte(CP_UTF8, 0, visible.data(), int(visible.size()), out,
                                                           int(capacity - 1), nullptr, nullptr);
  out[length > 0 ? length : 0] = 0;
  return length > 0 ? size_t(length) : 0;
}

}  // namespace

void UnitsAsUtf8(const WCHAR* units, uint32_t count, char* out, uint32_t capacity) {
  if (capacity != 0) VisibleAsUtf8(VisibleName(units, count), out, capacity);
}

TWideName OverwriteQuestion(const TWideName& name) {
  TWideName shown;
  for (WCHAR c : VisibleName(name.data(), uint32_t(name.size()))) {
    if (c == '"')
      shown += WIDE_TEXT("\\x22");
    else
      shown.push_back(c);
  }
  return WIDE_TEXT("File \"") + shown + WIDE_TEXT("\" already exist. Overwrite?");
}

// Whole, however many of its characters are escaped: the buffer is sized from the visible name.
std::string ShownName(const TWideName& name) {
  const TWideName visible = VisibleName(name.data(), uint32_t(name.size()));
  std::string utf8(visible.size() * 3 + 1, '\0');
  utf8.resize(VisibleAsUtf8(visible, &utf8[0], utf8.size()));
  return utf8;
}

namespace {

// The run's report lines, kept for a window at its end: the first few of them, how many there
// were, and, for a run without a standard error, all of them (within 4,000 bytes).
constexpr uint32_t kWindowLines = 8;
struct TReportLines {
  std::vector<std::string> first;
  uint32_t count = 0;
  std::string held;
};
TReportLines lines;

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
  if (lines.count++ < kWindowLines) lines.first.emplace_back(text);
  if (!StandardErrorAvailable()) {
    if (lines.held.size() < 4000) lines.held.append(text).append("\n");
    return;
  }
  WriteLine(stderr, "velmora: ", text);
}

void PrintResult(const char* text) { WriteLine(stdout, "", text); }

void ReportConsoleLine(const char* text) {
  if (StandardErrorAvailable()) WriteLine(stderr, "velmora: ", text);
}

namespace {

TWideName WideOfUtf8(const std::string& utf8) {
  TWideName wide(utf8.size() + 1, WCHAR(0));
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], int(wide.size()));
  wide.resize(units > 0 ? size_t(units) - 1 : 0);
  return wide;
}

}  // namespace

void ShowRunReport(bool hidden, bool failed) {
  if (!hidden && failed && WindowsOnScreen() && lines.count > 0) {
    std::string text;
    for (const std::string& line : lines.first) text += line + "\r\n";
    if (lines.count > lines.first.size()) {
      char more[80];
      std::snprintf(more, sizeof more, "and %u more line%s", unsigned(lines.count - lines.first.size()),
                    lines.count - lines.first.size() == 1 ? "" : "s");
      text += more;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    ShowMessageWindowW(nullptr, WideOfUtf8(text).c_str(), WIDE_TEXT("Velmora"), MB_OK);
  } else if (!hidden && !lines.held.empty()) {
    ShowNoticeW(WideOfUtf8(lines.held).c_str(), WIDE_TEXT("Velmora"));
  }
  lines = TReportLines();
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

void ReportName(const WCHAR* name, const char* reason) {
  ReportLine((ShownName(TWideName(name != nullptr ? name : WIDE_TEXT(""))) + ": " + reason).c_str());
}

void ReportSystemFailure(const WCHAR* name, DWORD error) {
  char reason[1024];
  SystemReason(error, reason, sizeof reason);
  ReportName(name, reason);
}
