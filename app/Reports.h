// What a run tells its user on standard error: one line per failure, skip or note, naming the
// file (its name as UTF-8, shown safely) and the reason. Reporting decides nothing: the exit code
// follows from what the jobs return.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/Tstring.h"
#include "platform/win32.h"

// One line "velmora: text" on standard error, on a line of its own below any progress line; the
// run keeps it for ShowRunReport (on Windows, a run without a standard error keeps them all).
void ReportLine(const char* text);
// A line of results on standard output (a listing, a test's count), below any progress line that
// shares the terminal with it.
void PrintResult(const char* text);
// A line only a console shows ("velmora: text" on standard error): the Windows program without a
// standard error drops it rather than keep it for the end.
void ReportConsoleLine(const char* text);
// At the end of a run that shows its windows (not hidden): a failed run shows its first report
// lines, and how many more there were, in one message window with an OK button, where a user on a
// desktop looks (a terminal presentation of the windows adds nothing: the lines are on standard
// error); otherwise a run without a standard error shows the lines it kept as one notice. Then
// the lines are forgotten.
void ShowRunReport(bool hidden, bool failed);
// One line on standard error naming the file (as ShownName shows it) and what became of it. It
// only prints: what the run did is what its jobs return.
void ReportName(const WCHAR* name, const char* reason);
// The same with the system's text for an error code as the reason.
void ReportSystemFailure(const WCHAR* name, DWORD error);
// The system's text for an error code, as UTF-8.
void SystemReason(DWORD error, char* reason, uint32_t capacity);
// Why a source file did not open (error from the open): what it is, when it is not a regular
// file, else the system's text.
void UnopenedReason(const WCHAR* name, DWORD error, char* reason, uint32_t capacity);
// A name as it is shown to the user, everywhere: its folders separated by the system's own
// separator ('/' on Linux, '\' on Windows; the archive keeps '\'); control characters and line
// breaks as \xNN, so that it cannot move the cursor, retitle the terminal or break a line; format
// characters (bidirectional overrides, zero-width characters, U+FEFF) and U+2028/U+2029 as
// \u{XXXX}, so that it cannot reorder or hide a part of itself; an unpaired surrogate as \uXXXX,
// and the lone unit 0xDC00 + b, which stands for a byte of a system name that is not UTF-8, as \xNN.
TWideName VisibleName(const WCHAR* units, uint32_t count);
// The visible name as UTF-8 for standard error or output, cut at a whole character to fit.
void UnitsAsUtf8(const WCHAR* units, uint32_t count, char* out, uint32_t capacity);
std::string ShownName(const TWideName& name);
// The question before an existing file is replaced: "File "NAME" already exist. Overwrite?", the
// name shown visibly and its own double quotes as \x22, so that no part of it passes for the
// program's text.
TWideName OverwriteQuestion(const TWideName& name);
