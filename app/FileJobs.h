// The two jobs that move the bytes of one file: CompressFileEntry appends a source file to the open
// compressed file as one entry, block by block through the engine; RestoreEntry writes the blocks
// of one entry back into a file of the entry's name, asking first when that file exists. Both post
// progress and look for a cancel request once per block.
#pragma once
#include <csignal>
#include <cstdint>

#include "app/RestoreFolders.h"
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

// What became of one entry on restore.
enum TRestoreOutcome {
  RestoreComplete,   // every block restored
  RestoreKept,       // the user kept the existing file; it was not touched
  RestoreDamaged,    // a block was cut, too long, refused by the engine, or could not be written
  RestoreCancelled,  // the user or a signal cancelled; nothing of the entry is left
  RestoreSkipped,    // its folders or file cannot be created where the name leads (a link on the
                     // way, a folder in the way, a name the system refuses): nothing was written
};

// Answers Yes to the per-file overwrite question during the run (8 bits, wraps).
extern int8_t overwriteYesCount;

// The progress of one file moves the bar from base to end (1 for a single file; the share of the
// files up to and including this one in a folder), so the bar only grows over a whole run.
int32_t CompressFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end = 1.0f);
// CompressFileEntry for a run of many files: the file is read and its blocks handed to the run's
// workers, and the call returns while they may still be compressed; everything is written in
// order, as the next blocks need slots, and at the latest by FinishQueuedEntries. A failure found
// while writing an earlier entry is reported and returned by the call that finds it. A file that
// cannot be opened gives EntrySourceNotOpened with the last error and no report: the caller says
// what becomes of it.
int32_t QueueFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                       uint64_t& lastWriteTime, float end);
bool FinishQueuedEntries(TOknoSostoyaniya* window);
// Restores an entry below the folders' target, never through a link, into a temporary of the
// entry's folder, which takes the entry's name with the stored time once the entry is whole. An
// entry damaged in the archive leaves what could be restored where no file was; a cancel, a
// window too small or a failed write leave nothing. Every failure is reported on one line.
TRestoreOutcome RestoreEntry(HANDLE archive, TRestoreFolders& folders, const TAnsiString& name,
                             uint64_t nextEntryOffset, uint64_t lastWriteTime, float base, TOknoSostoyaniya* window,
                             bool& askBeforeOverwrite, float end = 1.0f);

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

// One line "velmora: text" on standard error, on a line of its own below any progress line. On
// Windows, a run without a standard error keeps its lines for ShowHeldReport.
void ReportLine(const char* text);
// Shows the lines kept back (Windows, no standard error) in the message window as one notice,
// unless the run is hidden; then forgets them.
void ShowHeldReport(bool hidden);
// One line on standard error naming the file (control characters escaped) and a remark; the run
// goes on as it was.
void ReportNote(const char* name, const char* reason);
// The same for a failure: the run is then not a success.
void ReportFailure(const char* name, const char* reason);
// The same with the system's text for an error code as the reason.
void ReportSystemFailure(const char* name, DWORD error);
// The system's text for an error code, as UTF-8.
void SystemReason(DWORD error, char* reason, uint32_t capacity);
// Why a source file did not open (error from the open): what it is, when it is not a regular
// file, else the system's text.
void UnopenedReason(const char* name, DWORD error, char* reason, uint32_t capacity);
// One line naming something the job left out on purpose (a folder it cannot list, a link that
// points nowhere): what it wrote is kept, but the run ends with the exit code of an incomplete job.
void ReportSkipped(const char* name, const char* reason);
// Whether any failure, or any skip, was reported since the last reset (the exit code follows).
bool FailureReported();
bool SkipReported();
void ResetFailures();
