// The two jobs that move the bytes of one file: CompressFileEntry appends a source file to the open
// compressed file as one entry, block by block through the engine; RestoreEntry writes the blocks
// of one entry back into a file of the entry's name, asking first when that file exists. Both post
// progress and look for a cancel request once per block.
#pragma once
#include <csignal>
#include <cstdint>

#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

// Results of CompressFileEntry; callers treat every value but EntryWritten as failure.
enum : int32_t {
  EntrySourceNotOpened = 0,
  EntryWritten = 1,
  EntryInputOutputFailed = 4,
  EntryEngineFailed = 5,
  EntryCancelled = 6,
};

// What became of one entry on restore. RestoreEntry returns false only for RestoreStopped.
enum TRestoreOutcome {
  RestoreComplete,   // every block restored
  RestoreKept,       // the user kept the existing file; it was not touched
  RestoreDamaged,    // a block was cut, too long, refused by the engine, or could not be written
  RestoreCancelled,  // the user or a signal cancelled; the file keeps what was written
  RestoreStopped,    // the entry's folders or file could not be created
};

// Answers Yes to the per-file overwrite question during the run (8 bits, wraps).
extern int8_t overwriteYesCount;

int32_t CompressFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime);
bool RestoreEntry(HANDLE archive, const TAnsiString& name, uint64_t nextEntryOffset, float base,
                  TOknoSostoyaniya* window, bool& askBeforeOverwrite, TRestoreOutcome& outcome);

// Once per block: drains every pending message of the thread and reports whether it held a
// cancel (WM_QUIT, or an Escape key release); a quit signal also counts.
bool CancelRequested();

// Async-signal-safe: records that SIGINT/SIGTERM/SIGHUP asked the run to stop. The platform's
// quit request makes the next cancel check see WM_QUIT; this flag tells a restore to stop after
// the entry in progress instead of going on with the next one.
void NoteQuitSignal();
bool QuitSignalled();

// Posts a progress position and pumps the window (nothing without a window).
void PostProgress(TOknoSostoyaniya* window, float position, float base);

// One line on standard error naming the file and the reason; the run is then not a success.
void ReportFailure(const char* name, const char* reason);
// The same with the system's text for an error code as the reason.
void ReportSystemFailure(const char* name, DWORD error);
// Whether any failure was reported since the last reset (the exit code follows it).
bool FailureReported();
void ResetFailures();
