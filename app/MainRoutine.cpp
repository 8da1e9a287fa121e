// The run from the command line to the exit code: the output's checks and its temporary, the
// working buffer and the work area asked for before anything is written, the progress window, one
// job, the archive's time and name, the summary line.
#include "app/MainRoutine.h"

#include <cstdio>

#include "app/ArchiveFormat.h"
#include "app/CommandLine.h"
#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "app/RunState.h"
#include "app/TemporaryFile.h"
#include "app/ArchiveWalk.h"
#include "app/FolderArchive.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "engine/Compression.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Tstring.h"
#include "platform/Beneath.h"
#include "platform/win32.h"
#include "ui/Toknosoobzheniy.h"
#include "ui/Toknosostoyaniya.h"

namespace {

bool memoryAvailable = true;

// Whether the existing output (in the current directory, as the source is) is the source itself:
// X.PCK compressed into X.pck on a file system that ignores case, however it numbers its files.
bool OutputIsSource(const TWideName& sourceName, const TWideName& outputName) {
  TFilePlace source;
  source.file = CreateFileW(sourceName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source.file == INVALID_HANDLE_VALUE) return false;
  source.folder = OpenFolderW(WIDE_TEXT(""));
  source.leaf = sourceName;
  HANDLE output = CreateFileW(outputName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool same = IsSamePlace(source, source.folder, outputName.c_str(), output);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (source.folder != nullptr) CloseHandle(source.folder);
  CloseHandle(source.file);
  return same;
}

// Whether the archive just written reads back from its file system, opened afresh, as a chain of
// `entries` entries that ends at the end of the file: a file system that lost a write (a
// back-patched offset) is found out before the run says it succeeded.
bool ReadsBackWhole(HANDLE written, uint32_t entries) {
  HANDLE again = ReOpenFile(written, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (again == INVALID_HANDLE_VALUE) return false;
  bool whole;
  {
    TArchiveReader reader(again);
    whole = ChainIsWhole(reader, entries);
  }
  CloseHandle(again);
  return whole;
}

// One line for an existing compressed file the run kept: "NAME exists and was kept; ...".
void ReportKeptOutput(const TWideName& name, const char* how) {
  ReportLine((ShownName(name) + " " + how + " and was kept; -o replaces it").c_str());
}

const char* ProgressText(const TRunRequest& request) {
  // Testing and listing have texts of their own beside the four of compressing and decompressing.
  if (request.test) return "Testing...";
  if (request.list) return "Listing...";
  const bool compress = request.mode != RunDecompress;
  if (request.isFolder) return compress ? "Compressing folder..." : "Decompressing folder...";
  return compress ? "Compressing file..." : "Decompressing file...";
}

}  // namespace

void MemoryProbe() {
  uint8_t* probe = nullptr;
  Create(probe, 10);
  if (probe == nullptr) {
    MessageBoxA(nullptr, "Not enough RAM to run application", "Error", MB_OK);
    memoryAvailable = false;
    return;
  }
  Free(probe);
}

int MainRoutine() {
  if (!memoryAvailable) return ExitNoMemory;
  ResetFailures();

  TRunRequest request;
  const int early = ReadCommandLine(request);
  if (early == CommandLinePrinted) return ExitDone;
  if (early != 0) return early;
  const bool compress = request.mode != RunDecompress;

  HANDLE output = INVALID_HANDLE_VALUE;
  HANDLE outputFolder = nullptr;
  TTemporaryFile temporary;
  bool replaceOutput = false;
  if (compress) {
    TWideName stored = request.sourceName;
    if (request.isFolder) stored.pop_back();
    if (const char* why = UnstorableReason(stored.c_str())) {
      char reason[160];
      std::snprintf(reason, sizeof reason, "%s; nothing was compressed", why);
      ReportFailure(stored.c_str(), reason);
      return ExitIncomplete;
    }
    // Decided before the work from what the folder holds, not from what this process may open:
    // an existing file is replaced only after a Yes or with -o, and anything but a regular file
    // never.
    const WCHAR* outputName = request.outputName.c_str();
    const DWORD outputAttributes = GetFileAttributesW(outputName);
    const bool outputExists = outputAttributes != INVALID_FILE_ATTRIBUTES;
    if (outputExists && (outputAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ReportFailure(outputName, "a folder has the compressed file's name; nothing was compressed");
      return ExitOutputRefused;
    }
    if (outputExists && (outputAttributes & FILE_ATTRIBUTE_DEVICE)) {
      ReportFailure(outputName, "a pipe, device or socket has the compressed file's name; nothing was compressed");
      return ExitOutputRefused;
    }
    if (outputExists && !request.isFolder && OutputIsSource(request.sourceName, request.outputName)) {
      ReportFailure(outputName, "the compressed file would replace its own source; refused");
      return ExitOutputRefused;
    }
    if (outputExists && request.askBeforeOverwrite) {
      if (ShowMessageWindowW(nullptr, OverwriteQuestion(request.outputName).c_str(), nullptr, MB_YESNO) == IDNO) {
        ReportKeptOutput(request.outputName, "exists");
        return ExitOutputRefused;
      }
    }
    replaceOutput = outputExists;
    // Written into a temporary of the output's folder, which takes the output's name only once it
    // is complete, so a failed or cancelled run leaves an older archive as it was.
    outputFolder = OpenFolderW(WIDE_TEXT(""));
    if (outputFolder == nullptr || !temporary.Create(outputFolder)) {
      ReportSystemFailure(outputName, GetLastError());
      if (outputFolder != nullptr) CloseHandle(outputFolder);
      return ExitOutputRefused;
    }
    output = temporary.Handle();
  }

  BlockSize = RoundToInt(request.windowSize);
  if (BlockSize <= 0 || uint32_t(BlockSize) > kLargestWindow ||
      !AllocateBlockBuffer(BlockSize, compress ? BlockCompress : BlockRestore)) {
    char line[128];
    std::snprintf(line, sizeof line, "a window of %.0f bytes cannot be used (-w takes 1 to %u)", request.windowSize,
                  kLargestWindow);
    ReportLine(line);
    temporary.Discard();
    if (outputFolder != nullptr) CloseHandle(outputFolder);
    return ExitUsageOrBuffer;
  }

  if (compress && CompressionEnabled() && !WorkAreaObtainable(uint32_t(BlockSize))) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "a window of %d bytes needs a work area of %llu bytes, more than can be had here; a smaller -w works",
                  int(BlockSize), static_cast<unsigned long long>(CompressWorkAreaSize(uint32_t(BlockSize))));
    ReportLine(line);
    ReleaseBlockBuffer();
    temporary.Discard();
    CloseHandle(outputFolder);
    return ExitUsageOrBuffer;
  }

  TOknoSostoyaniya* window = nullptr;
  if (!request.hidden) {
    window = CreateProgressWindow(TAnsiString(ProgressText(request)));
    if (window != nullptr) {
      PostMessageA(window->window, WM_PROGRESS_ALLOW_CANCEL, 0, 0);
      PumpProgressMessages(window);
    }
  }

  bool ok = false;
  const DWORD started = GetTickCount();
  TRunTotals totals;
  uint64_t latestTime = 0;
  if (compress && request.isFolder) {
    uint32_t counter = 0;
    const TWideName& folder = request.sourceName;
    uint32_t total = CountFolderFiles(folder);
    ok = CompressFolder(output, folder, counter, total, window, latestTime) != 0;
    if (!ok && !FailureReported()) ReportFailure(folder.c_str(), "the folder holds no file");
  } else if (compress) {
    const TWideName& file = request.sourceName;
    PostEntryProgress(window, 1, 1, file);
    ok = CompressFileEntry(output, file, 0.0f, window, latestTime) == EntryWritten;
  } else {
    bool complete = false;
    TArchiveUse use;
    use.test = request.test;
    use.list = request.list;
    use.folder = request.restoreFolder;
    use.selection = request.selection;
    use.totals = &totals;
    ok = RestoreArchive(request.sourceName, window, request.askBeforeOverwrite, complete, use) && complete;
  }
  if (compress && ok) {
    const FILETIME time = FileTimeOf(latestTime);
    SetFileTime(output, nullptr, nullptr, &time);
    totals = QueuedTotals();
    FileSize64(output, totals.archiveBytes);
    // A quit signal that came after the last cancel check still cancels the run.
    if (QuitSignalled()) {
      ReportFailure(request.sourceName.c_str(), "cancelled");
      ok = false;
    }
    if (ok && !ReadsBackWhole(output, totals.files)) {
      ReportFailure(request.outputName.c_str(),
                    "the file system did not keep the archive whole (its chain does not read back); nothing was "
                    "replaced");
      ok = false;
    }
  }
  ok = ok && !FailureReported();
  // Left out on purpose and reported (a folder that cannot be listed, a link to nothing): the
  // archive of everything else is kept, but the run was not complete.
  const bool skipped = SkipReported();

  if (ok && window != nullptr) {
    PostMessageA(window->window, WM_PROGRESS_FINISH, 0, 0);
    PumpProgressMessages(window);
  }
  if (window != nullptr) {
    TMemoryLock guard;
    delete window;
  }
  ReleaseBlockBuffer();

  int exitCode = ok && !skipped ? ExitDone : ExitIncomplete;
  if (compress) {
    if (ok && !temporary.Commit(request.outputName.c_str(), replaceOutput)) {
      const DWORD error = GetLastError();
      if (!replaceOutput && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
        ReportKeptOutput(request.outputName, "appeared while the run wrote its own");
        exitCode = ExitOutputRefused;
      } else {
        ReportSystemFailure(request.outputName.c_str(), error);
        exitCode = ExitIncomplete;
      }
    }
    temporary.Discard();
    CloseHandle(outputFolder);
  }
  if (totals.files > 0 && !request.list && exitCode != ExitOutputRefused) {
    char line[160];
    const double seconds = double(GetTickCount() - started) / 1000.0;
    SummaryText(totals, compress, seconds, line, sizeof line);
    ReportConsoleLine(line);
  }
  ShowHeldReport(request.hidden);
  return exitCode;
}
