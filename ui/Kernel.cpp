// Code-page tables, program path, splitters, per-character text drawing, pause and file test.
//
// The cp1251 <-> UTF-16 conversion is two plain lookups: a 256-entry table from byte to code
// unit and a 65536-entry table back, 0 where no byte gives that code unit. The byte table lives
// in "Ansi1251.wcs" next to the program (256 little-endian code units, no header); the reverse
// table is derived from it, a later byte winning when two bytes share a code unit. A missing or
// damaged file is rebuilt from the system's code page 1251.
//
// The splitters scan for a separator outside double quotes; both halves come back trimmed of
// bytes up to 32, so a command line splits into its words with their quotes removed.
#include "ui/Kernel.h"

#include <cstring>

#include "foundation/Memdiag.h"

namespace {

const uint32_t kTableFileSize = 512;

TAnsi1251 codePageTables;  // plain data: zero until KernelStartup
TAnsiString programPath;
TAnsiString programFolder;
TAnsiString commandTail;
int kernelStarts = 0;

// Outside-quote separator at position p of d[0..n)? Returns the position found or -1. forward
// scans from the start, treating a run of separators as its last one; backward scans from the
// end and stops at the first separator met.
template <typename TChar>
int32_t FindSeparator(const TChar* d, uint32_t n, TChar separator, bool forward) {
  bool inQuotes = false;
  if (forward) {
    for (uint32_t i = 0; i < n; ++i) {
      if (!inQuotes && d[i] == separator) {
        if (i + 1 < n && d[i + 1] == separator) continue;
        return static_cast<int32_t>(i);
      }
      if (d[i] == '"') inQuotes = !inQuotes;
    }
  } else {
    for (uint32_t k = n; k-- > 0;) {
      if (!inQuotes && d[k] == separator) return static_cast<int32_t>(k);
      if (d[k] == '"') inQuotes = !inQuotes;
    }
  }
  return -1;
}

// Cuts text around position p into trimmed halves.
void CutAt(TAnsiString& first, TAnsiString& rest, const TAnsiString& text, int32_t p) {
  const int32_t n = static_cast<int32_t>(text.Length());
  first = Trim(Substring(text, 1, p));
  rest = Trim(Substring(text, p + 2, n - p - 1));
}

// The wide text without leading and trailing units up to 32.
TWideName Trimmed(const TWideName& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] <= 32) ++begin;
  while (end > begin && text[end - 1] <= 32) --end;
  return text.substr(begin, end - begin);
}

void CutAt(TWideName& first, TWideName& rest, const TWideName& text, int32_t p) {
  first = Trimmed(text.substr(0, size_t(p)));
  rest = Trimmed(text.substr(size_t(p) + 1));
}

// Cuts text (its units at d, n of them; d null for the empty text) at the separator.
template <typename TText, typename TChar>
bool SplitAt(TText& first, TText& rest, const TText& text, const TChar* d, uint32_t n, TChar separator, bool forward) {
  if (d == nullptr) return false;
  const int32_t p = FindSeparator(d, n, separator, forward);
  if (p >= 0) CutAt(first, rest, text, p);
  Unquote(forward ? first : rest);
  return p >= 0;
}

// The module's file name; empty when the system cannot tell or the name is longer than the
// longest path Windows allows (it cuts such a name and returns the buffer's size).
TAnsiString ModulePath() {
  static char buffer[32768];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return TAnsiString(length > 0 && length < sizeof buffer ? buffer : "");
}

}  // namespace

void TAnsi1251::Load(const TAnsiString& tablePath) {
  wideTable = nullptr;
  narrowTable = nullptr;
  ready = false;
  Create(wideTable, 256);
  Create(narrowTable, 65536);
  if (wideTable == nullptr || narrowTable == nullptr) return;
  for (uint32_t b = 0; b < 256; ++b) wideTable[b] = 0;
  for (uint32_t u = 0; u < 65536; ++u) narrowTable[u] = 0;

  const char* path = tablePath.Data() != nullptr ? tablePath.Data() : "";
  if (FileExists(path)) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD high = 0;
      uint8_t bytes[kTableFileSize];
      DWORD got = 0;
      // The high half of the size is asked for too: a file of 4 GiB + 512 bytes is damaged.
      if (GetFileSize(file, &high) == kTableFileSize && high == 0 &&
          ReadFile(file, bytes, kTableFileSize, &got, nullptr) && got == kTableFileSize) {
        for (uint32_t b = 0; b < 256; ++b) {
          wideTable[b] = static_cast<WCHAR>(bytes[2 * b] | (bytes[2 * b + 1] << 8));
          if (wideTable[b] != 0) narrowTable[wideTable[b]] = static_cast<uint8_t>(b);
        }
        ready = true;
      }
      CloseHandle(file);
      if (ready) return;
    }
  }

  // Rebuild from the system's code page; a failed or partial read above left nothing behind.
  for (uint32_t b = 0; b < 256; ++b) wideTable[b] = 0;
  bool asciiConverted = true;
  for (uint32_t b = 0; b < 256; ++b) {
    const char single = static_cast<char>(b);
    if (MultiByteToWideChar(1251, 0, &single, 1, &wideTable[b], 1) > 0) {
      narrowTable[wideTable[b]] = static_cast<uint8_t>(b);
    } else {
      wideTable[b] = 0;
      if (b < 0x80) asciiConverted = false;
    }
  }
  // Tables made from the system are good whether or not they can be saved: a folder the program
  // may not write to must not turn every name into its low bytes.
  ready = asciiConverted;

  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  uint8_t bytes[kTableFileSize];
  for (uint32_t b = 0; b < 256; ++b) {
    bytes[2 * b] = static_cast<uint8_t>(wideTable[b] & 0xFF);
    bytes[2 * b + 1] = static_cast<uint8_t>(wideTable[b] >> 8);
  }
  DWORD written = 0;
  const bool saved = WriteFile(file, bytes, kTableFileSize, &written, nullptr) && written == kTableFileSize;
  CloseHandle(file);
  if (!saved) DeleteFileA(path);  // a short table file would only be found damaged next time
}

void TAnsi1251::Release() {
  if (MemoryManagerActive()) {
    Free(wideTable);
    Free(narrowTable);
  }
  wideTable = nullptr;
  narrowTable = nullptr;
  ready = false;
}

int Ansi1251ToWide(UINT, DWORD, const char* src, int srcLen, WCHAR* dst, int dstCap) {
  const TAnsi1251& t = codePageTables;
  if (!t.ready || srcLen < 0 || dstCap < srcLen || (srcLen > 0 && (src == nullptr || dst == nullptr))) return 0;
  for (int i = 0; i < srcLen; ++i) dst[i] = t.wideTable[static_cast<uint8_t>(src[i])];
  return srcLen;
}

int WideToAnsi1251(UINT, DWORD, const WCHAR* src, int srcLen, char* dst, int dstCap, const char*, BOOL*) {
  const TAnsi1251& t = codePageTables;
  if (!t.ready || srcLen < 0 || dstCap < srcLen || (srcLen > 0 && (src == nullptr || dst == nullptr))) return 0;
  // As Win32 does, a unit the code page cannot spell becomes '?', so a text never ends early.
  for (int i = 0; i < srcLen; ++i) {
    const uint16_t unit = static_cast<uint16_t>(src[i]);
    const uint8_t narrow = t.narrowTable[unit];
    dst[i] = narrow != 0 || unit == 0 ? static_cast<char>(narrow) : '?';
  }
  return srcLen;
}

namespace {

BOOL CharExtent(HDC dc, const char* text, int units, SIZE* size) { return GetTextExtentPoint32A(dc, text, units, size); }
BOOL CharExtent(HDC dc, const WCHAR* text, int units, SIZE* size) { return GetTextExtentPoint32W(dc, text, units, size); }
BOOL CharOut(HDC dc, int x, int y, const char* text, int units) { return TextOutA(dc, x, y, text, units); }
BOOL CharOut(HDC dc, int x, int y, const WCHAR* text, int units) { return TextOutW(dc, x, y, text, units); }

// The units of the character at text[i]: a byte, or a UTF-16 unit, two for a surrogate pair.
int CharUnits(const char*, int, int) { return 1; }
int CharUnits(const WCHAR* text, int i, int length) {
  return text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF
             ? 2
             : 1;
}

template <typename TChar>
bool MeasureChars(HDC dc, const TChar* text, int length, SIZE* size) {
  if (size == nullptr) return false;
  size->cx = 0;
  size->cy = 0;
  for (int i = 0; i < length && text != nullptr;) {
    const int units = CharUnits(text, i, length);
    SIZE one = {0, 0};
    if (CharExtent(dc, text + i, units, &one)) {
      size->cx += one.cx;
      if (one.cy > size->cy) size->cy = one.cy;
    }
    i += units;
  }
  return true;
}

template <typename TChar>
bool DrawChars(HDC dc, int x, int y, const TChar* text, int length) {
  for (int i = 0; i < length && text != nullptr;) {
    const int units = CharUnits(text, i, length);
    CharOut(dc, x, y, text + i, units);
    SIZE one = {0, 0};
    if (CharExtent(dc, text + i, units, &one)) x += one.cx;
    i += units;
  }
  return true;
}

}  // namespace

bool MeasureText(HDC dc, const char* text, int length, SIZE* size) { return MeasureChars(dc, text, length, size); }
bool MeasureText(HDC dc, const WCHAR* text, int length, SIZE* size) { return MeasureChars(dc, text, length, size); }
bool DrawTextChars(HDC dc, int x, int y, const char* text, int length) { return DrawChars(dc, x, y, text, length); }
bool DrawTextChars(HDC dc, int x, int y, const WCHAR* text, int length) { return DrawChars(dc, x, y, text, length); }

bool Pause(uint32_t milliseconds) {
  HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
  if (timer == nullptr) return false;
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(static_cast<uint64_t>(milliseconds) * 10000u);
  if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(timer, INFINITE);
    while (!CancelWaitableTimer(timer)) {
    }
  }
  CloseHandle(timer);
  return true;
}

HFONT CreateWindowFont() {
  LOGFONTA logFont;
  std::memset(&logFont, 0, sizeof logFont);
  logFont.lfHeight = 15;
  logFont.lfWeight = FW_NORMAL;
  logFont.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(logFont.lfFaceName, "MS Sans Serif");
  return CreateFontIndirectA(&logFont);
}

void RegisterWindowClass(const char* className, WNDPROC procedure, HINSTANCE instance) {
  WNDCLASSEXA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_BYTEALIGNWINDOW | CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = className;
  RegisterClassExA(&windowClass);
}

bool FileExists(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool SplitAtFirst(TAnsiString& first, TAnsiString& rest, TAnsiString text, char separator) {
  return SplitAt(first, rest, text, text.Data(), text.Length(), separator, true);
}

bool SplitAtLast(TAnsiString& first, TAnsiString& rest, TAnsiString text, char separator) {
  return SplitAt(first, rest, text, text.Data(), text.Length(), separator, false);
}

bool SplitAtFirst(TWideName& first, TWideName& rest, TWideName text, WCHAR separator) {
  return SplitAt(first, rest, text, text.empty() ? nullptr : text.data(), uint32_t(text.size()), separator, true);
}

bool SplitAtLast(TWideName& first, TWideName& rest, TWideName text, WCHAR separator) {
  return SplitAt(first, rest, text, text.empty() ? nullptr : text.data(), uint32_t(text.size()), separator, false);
}

void Unquote(TAnsiString& text) {
  const uint32_t n = text.Length();
  if (n < 2 || text.Data()[0] != '"' || text.Data()[n - 1] != '"') return;
  text.Erase(static_cast<int32_t>(n), 1);
  text.Erase(1, 1);
}

TWideName WidenedText(const char* text) {
  const TWideString wide = FromNarrow(TAnsiString(text));
  return wide.Data() != nullptr ? TWideName(wide.Data(), wide.Length()) : TWideName();
}

void Unquote(TWideName& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return;
  text = text.substr(1, text.size() - 2);
}

const TAnsiString& ProgramPath() { return programPath; }
const TAnsiString& ProgramFolder() { return programFolder; }
const TAnsiString& CommandTail() { return commandTail; }
const TAnsi1251& CodePageTables() { return codePageTables; }

void KernelStartup() {
  if (kernelStarts++ > 0) return;
  programPath = TAnsiString();
  programFolder = TAnsiString();
  commandTail = TAnsiString();

  // The tail is what follows the command line's first word; a command line with no space
  // outside quotes is the program's name alone.
  TAnsiString firstWord;
  SplitAtFirst(firstWord, commandTail, TAnsiString(GetCommandLineA()), ' ');
  // The program's path is its module's own file, not the first word: started through a search
  // path, that word holds no folder, and the table file would land in whatever folder is current.
  programPath = ModulePath();
  const char* d = programPath.Data();
  for (uint32_t n = programPath.Length(); n > 0; --n) {
    if (d[n - 1] == '\\') {
      programFolder = Substring(programPath, 1, static_cast<int32_t>(n));
      break;
    }
  }

  codePageTables.Load(programFolder + TAnsiString("Ansi1251.wcs"));
  SetCodePageConverters(Ansi1251ToWide, WideToAnsi1251);
}

void KernelShutdown() {
  if (kernelStarts == 0 || --kernelStarts > 0) return;
  SetCodePageConverters(nullptr, nullptr);
  codePageTables.Release();
  programPath = TAnsiString();
  programFolder = TAnsiString();
  commandTail = TAnsiString();
}
