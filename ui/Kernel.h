// Small services the rest of the program leans on: the code-page 1251 <-> UTF-16 tables (kept in
// the file "Ansi1251.wcs" next to the program), the program's path, the splitting of a text at
// the first or last separator outside double quotes, per-character text measuring and drawing,
// a blocking pause and a file-existence test.
#pragma once
#include <cstdint>

#include "foundation/Tstring.h"
#include "platform/win32.h"

// Converts between code page 1251 and UTF-16 through two lookup tables taken from the memory
// manager. Every conversion fails while `ready` is clear. The one instance is a plain global that
// Kernel start-up fills (Load) and shut-down empties (Release).
class TAnsi1251 {
 public:
  // Allocates the tables and reads them from tablePath, or makes them from the system's code
  // page 1251 and writes them there when the file is missing or damaged.
  void Load(const TAnsiString& tablePath);
  void Release();

  WCHAR* wideTable;     // 256 entries: the UTF-16 code unit of cp1251 byte b
  uint8_t* narrowTable; // 65536 entries: the cp1251 byte of code unit u, 0 where there is none
  bool ready;
};

// MultiByteToWideChar's argument list; code page and flags are ignored. Returns 0 and writes
// nothing when dstCap < srcLen or the tables are not ready, otherwise srcLen. No terminator.
int Ansi1251ToWide(UINT codePage, DWORD flags, const char* src, int srcLen, WCHAR* dst, int dstCap);
// WideCharToMultiByte's argument list; code page, flags and the last two are ignored. Every code
// unit becomes one byte ('?' for a unit no cp1251 byte produces, as Win32 gives).
int WideToAnsi1251(UINT codePage, DWORD flags, const WCHAR* src, int srcLen, char* dst, int dstCap,
                   const char* defaultChar, BOOL* usedDefault);

// Sum of the single-character widths and the tallest character's height; (0, 0) for an empty
// text. False only when size is null.
bool MeasureText(HDC dc, const char* text, int length, SIZE* size);
// Draws the characters one by one from (x, y), advancing by each character's width, so drawing
// agrees with MeasureText to the pixel. Needs TA_LEFT | TA_TOP alignment.
bool DrawTextChars(HDC dc, int x, int y, const char* text, int length);
// The same two over UTF-16, a surrogate pair being one character.
bool MeasureText(HDC dc, const WCHAR* text, int length, SIZE* size);
bool DrawTextChars(HDC dc, int x, int y, const WCHAR* text, int length);

// Blocks the thread for the given time on a waitable timer (no messages are handled meanwhile).
// False only when no timer could be created.
bool Pause(uint32_t milliseconds);
// True when the path opens for reading without sharing (a folder counts as absent).
bool FileExists(const char* path);

// The two custom windows share their look: the 15-pixel "MS Sans Serif" window font, and a window
// class on the button-face background with the arrow cursor, redrawn whole on every resize.
HFONT CreateWindowFont();
void RegisterWindowClass(const char* className, WNDPROC procedure, HINSTANCE instance);

// Cuts text at the first separator outside double quotes (in a run of separators, the last one
// of the run); first and rest are trimmed and first is unquoted. When no separator is found both
// keep their old values (first is still unquoted). Returns whether one was found.
bool SplitAtFirst(TAnsiString& first, TAnsiString& rest, TAnsiString text, char separator);
// The same, cutting at the last separator outside quotes; rest (not first) is unquoted.
bool SplitAtLast(TAnsiString& first, TAnsiString& rest, TAnsiString text, char separator);
// Removes a pair of enclosing double quotes from a text of at least two characters.
void Unquote(TAnsiString& text);
// The same three over UTF-16 texts (the command line and the names typed on it), trimming units
// up to 32.
bool SplitAtFirst(TWideName& first, TWideName& rest, TWideName text, WCHAR separator);
bool SplitAtLast(TWideName& first, TWideName& rest, TWideName text, WCHAR separator);
void Unquote(TWideName& text);
// A code page 1251 text (the program's own texts) in UTF-16, through the tables; null is empty.
TWideName WidenedText(const char* text);

// The program's own file (its module's path), its folder up to and including the last backslash
// (empty when there is none), and the command line after its first word.
const TAnsiString& ProgramPath();
const TAnsiString& ProgramFolder();
const TAnsiString& CommandTail();

// The code-page tables in use (for inspection).
const TAnsi1251& CodePageTables();

void KernelStartup();
void KernelShutdown();
