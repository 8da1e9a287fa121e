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
#include "app/Run.h"
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

// Whether the existing output `outputPath` (`outputName` in the folder `outputFolder`) is the source
// itself (in the current directory): X.PCK compressed into X.pck on a file system that ignores
// case, however it numbers its files.
bool OutputIsSource(const TWideName& sourceName, HANDLE outputFolder, const TWideName& outputName,
                    const TWideName& outputPath) {
  TFilePlace source;
  source.file = CreateFileW(sourceName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source.file == INVALID_HANDLE_VALUE) return false;
  source.folder = OpenFolderW(WIDE_TEXT(""));
  source.leaf = sourceName;
  HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool same = IsSamePlace(source, outputFolder, outputName.c_str(), output);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (source.folder != nullptr) CloseHandle(source.folder);
  CloseHandle(source.file);
  return same;
}

// The compressed file as the user names it: its name, in -d's folder when one was given.
TWideName OutputPath(const TRunRequest& request) {
  if (request.folder.empty()) return request.outputName;
  TWideName path = request.folder;
  if (path.back() != '\\') path.push_back('\\');
  return path + request.outputName;
}

TWideName Folded(const TWideName& name) { return FoldedName(name.data(), name.size()); }

// Where a folder is, or would be once made: the resolved name of its deepest part that exists,
// followed by the rest as written.
TWideName WhereFolderIs(TWideName path) {
  TWideName rest;
  while (!path.empty()) {
    const TWideName resolved = ResolvedFolderName(path);
    if (!resolved.empty()) return rest.empty() ? resolved : resolved + WCHAR('\\') + rest;
    const size_t cut = path.find_last_of(WIDE_TEXT("\\/"));
    if (cut == TWideName::npos) break;
    rest = rest.empty() ? path.substr(cut + 1) : path.substr(cut + 1) + WCHAR('\\') + rest;
    path.resize(cut);
  }
  return TWideName();
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

namespace {

// The compressed file a compress writes: a temporary of the current directory (the source's
// folder) that takes the output's name only when the job has succeeded. Whatever way the run
// ends, what is left of the temporary goes with this object.
struct TOutput {
  HANDLE folder = nullptr;
  TTemporaryFile temporary;
  bool replace = false;  // an existing archive is replaced (the user's Yes, or -o)
  ~TOutput() {
    temporary.Discard();
    if (folder != nullptr) CloseHandle(folder);
  }
};

// The output's checks, the question and the temporary; ExitDone when the work may begin.
int PrepareOutput(const TRunRequest& request, TOutput& output) {
  TWideName stored = request.sourceName;
  if (request.isFolder) stored.pop_back();
  if (const char* why = UnstorableReason(stored.c_str())) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "%s; nothing was compressed", why);
    ReportName(stored.c_str(), reason);
    return ExitIncomplete;
  }
  // The archive goes into -d's folder (made when missing) or beside the source, never into the
  // folder it archives.
  const TWideName outputPath = OutputPath(request);
  const WCHAR* shown = outputPath.c_str();
  if (request.isFolder && !request.folder.empty() &&
      IsSameOrBelow(Folded(WhereFolderIs(request.folder)), Folded(ResolvedFolderName(request.sourceName)))) {
    ReportName(request.folder.c_str(), "the archive would be written inside the folder it archives; refused");
    return ExitOutputRefused;
  }
  output.folder = OpenOrMakeFolder(request.folder);
  if (output.folder == nullptr) {
    ReportSystemFailure(request.folder.c_str(), GetLastError());
    return ExitOutputRefused;
  }
  // Decided before the work from what the folder holds, not from what this process may open: an
  // existing file is replaced only after a Yes or with -o, and anything but a regular file never.
  const DWORD outputAttributes = GetFileAttributesW(shown);
  const bool outputExists = outputAttributes != INVALID_FILE_ATTRIBUTES;
  if (outputExists && (outputAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ReportName(shown, "a folder has the compressed file's name; nothing was compressed");
    return ExitOutputRefused;
  }
  if (outputExists && (outputAttributes & FILE_ATTRIBUTE_DEVICE)) {
    ReportName(shown, "a pipe, device or socket has the compressed file's name; nothing was compressed");
    return ExitOutputRefused;
  }
  if (outputExists && !request.isFolder && OutputIsSource(request.sourceName, output.folder, request.outputName, outputPath)) {
    ReportName(shown, "the compressed file would replace its own source; refused");
    return ExitOutputRefused;
  }
  if (outputExists && request.askBeforeOverwrite &&
      ShowMessageWindowW(nullptr, OverwriteQuestion(outputPath).c_str(), nullptr, MB_YESNO) == IDNO) {
    ReportKeptOutput(outputPath, "exists");
    return ExitOutputRefused;
  }
  output.replace = outputExists;
  if (!output.temporary.Create(output.folder)) {
    ReportSystemFailure(shown, GetLastError());
    return ExitOutputRefused;
  }
  return ExitDone;
}

// The working buffer, its workers and (compressing) the engine's work area, asked for before
// anything is written; false (one line said why) when they cannot be had.
bool PrepareBuffers(TRun& run, const TRunRequest& request, bool compress) {
  const int32_t blockSize = RoundToInt(request.windowSize);
  if (blockSize <= 0 || uint32_t(blockSize) > kLargestWindow ||
      !run.AllocateBlockBuffer(blockSize, compress ? BlockCompress : BlockRestore)) {
    char line[128];
    std::snprintf(line, sizeof line, "a window of %.0f bytes cannot be used (-w takes 1 to %u)", request.windowSize,
                  kLargestWindow);
    ReportLine(line);
    return false;
  }
  if (compress && run.compression && !WorkAreaObtainable(uint32_t(blockSize))) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "a window of %d bytes needs a work area of %llu bytes, more than can be had here; a smaller -w works",
                  int(blockSize), static_cast<unsigned long long>(CompressWorkAreaSize(uint32_t(blockSize))));
    ReportLine(line);
    return false;
  }
  return true;
}

// What a job came to.
struct TJobResult {
  bool done = false;     // it did all it was asked (each failure was reported where it happened)
  bool leftOut = false;  // files a compress left out on purpose, each named
  TRunTotals totals;
};

TJobResult RunJob(TRun& run, const TRunRequest& request, HANDLE output, TOknoSostoyaniya* window) {
  TJobResult job;
  const bool compress = request.mode != RunDecompress;
  uint64_t latestTime = 0;
  if (compress && request.isFolder) {
    TTreeWalk walk;
    walk.total = CountFolderFiles(request.sourceName);
    job.done = CompressFolder(run, output, request.sourceName, window, walk);
    job.leftOut = walk.leftOut > 0;
    latestTime = walk.latestTime;
    if (job.done && walk.counter == 0) {
      ReportName(request.sourceName.c_str(), "the folder holds no file");
      job.done = false;
    }
  } else if (compress) {
    PostEntryProgress(window, 1, 1, request.sourceName);
    job.done = CompressFileEntry(run, output, request.sourceName, 0.0f, window, latestTime) == EntryWritten;
  } else {
    TArchiveUse use;
    use.test = request.test;
    use.folder = request.folder;
    use.selection = request.selection;
    use.totals = &job.totals;
    job.done = request.list   ? ListArchive(run, request.sourceName, window, use)
               : request.test ? TestArchive(run, request.sourceName, window, use)
                              : RestoreArchive(run, request.sourceName, window, use);
  }
  if (compress && job.done) {
    const FILETIME time = FileTimeOf(latestTime);
    SetFileTime(output, nullptr, nullptr, &time);
    job.totals = run.queued;
    FileSize64(output, job.totals.archiveBytes);
    // A quit signal that came after the last cancel check still cancels the run.
    if (QuitSignalled()) {
      ReportName(request.sourceName.c_str(), "cancelled");
      job.done = false;
    } else if (!ReadsBackWhole(output, job.totals.files)) {
      ReportName(OutputPath(request).c_str(),
                    "the file system did not keep the archive whole (its chain does not read back); nothing was "
                    "replaced");
      job.done = false;
    }
  }
  return job;
}

// The archive takes its name; the exit code of a run whose job was done.
int CommitOutput(const TRunRequest& request, TOutput& output) {
  if (output.temporary.Commit(request.outputName.c_str(), output.replace)) return ExitDone;
  const DWORD error = GetLastError();
  if (!output.replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
    ReportKeptOutput(OutputPath(request), "appeared while the run wrote its own");
    return ExitOutputRefused;
  }
  ReportSystemFailure(OutputPath(request).c_str(), error);
  return ExitIncomplete;
}

}  // namespace

namespace {

// The run of a command line that was read; its exit code.
int Run(const TRunRequest& request) {
  const bool compress = request.mode != RunDecompress;

  TRun run;
  run.SetCompression(request.compression);
  run.askBeforeOverwrite = request.askBeforeOverwrite;
  run.writer.Name(OutputPath(request));
  TOutput output;
  if (compress) {
    const int refused = PrepareOutput(request, output);
    if (refused != ExitDone) return refused;
  }
  if (!PrepareBuffers(run, request, compress)) return ExitUsageOrBuffer;

  TOknoSostoyaniya* window = request.hidden ? nullptr : CreateProgressWindow(TAnsiString(ProgressText(request)));
  if (window != nullptr) {
    PostMessageA(window->window, WM_PROGRESS_ALLOW_CANCEL, 0, 0);
    PumpProgressMessages(window);
  }
  const DWORD started = GetTickCount();
  const TJobResult job = RunJob(run, request, output.temporary.Handle(), window);
  if (window != nullptr) {
    if (job.done) {
      PostMessageA(window->window, WM_PROGRESS_FINISH, 0, 0);
      PumpProgressMessages(window);
    }
    Destroy(window);
  }
  run.ReleaseBlockBuffer();

  // The exit code, from what the job returned: 4 for anything it did not do or left out.
  int exitCode = job.done && !job.leftOut ? ExitDone : ExitIncomplete;
  if (compress && job.done) {
    const int committed = CommitOutput(request, output);
    if (committed != ExitDone) exitCode = committed;
  }
  if (job.totals.files > 0 && !request.list && exitCode != ExitOutputRefused) {
    char line[160];
    SummaryText(job.totals, compress, double(GetTickCount() - started) / 1000.0, line, sizeof line);
    ReportConsoleLine(line);
  }
  return exitCode;
}

}  // namespace

int MainRoutine() {
  if (!memoryAvailable) return ExitNoMemory;
  TRunRequest request;
  const int early = ReadCommandLine(request);
  if (early == CommandLinePrinted) return ExitDone;
  const int exitCode = early != CommandLineRun ? early : Run(request);
  // A run that shows its windows shows a failure in one too, where the user is looking.
  ShowRunReport(request.hidden, exitCode == ExitFolderMissing || exitCode == ExitOutputRefused ||
                                    exitCode == ExitIncomplete);
  return exitCode;
}
