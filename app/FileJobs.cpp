#include "app/FileJobs.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "app/ArchiveFormat.h"
#include "app/MainRoutine.h"
#include "engine/Compression.h"
#include "foundation/Memdiag.h"
#include "platform/Beneath.h"
#include "ui/Kernel.h"
#include "ui/Toknosoobzheniy.h"

int8_t overwriteYesCount = 0;

namespace {

volatile std::sig_atomic_t quitSignal = 0;
bool failureReported = false;
bool skipReported = false;

// Writes UTF-16 units as UTF-8 into out (capacity bytes, zero-terminated); unpaired surrogates
// become U+FFFD. Control characters are written visibly as \xNN, so a stored name cannot move
// the cursor, retitle the terminal or overwrite the lines above.
void Utf8FromUnits(const WCHAR* units, uint32_t count, char* out, uint32_t capacity) {
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

// The cp1251 name as UTF-8 for standard error.
void Utf8FromNarrow(const char* name, char* out, uint32_t capacity) {
  WCHAR units[1024];
  uint32_t n = 0;
  while (name != nullptr && name[n] != 0 && n < 1023) ++n;
  if (n == 0 || Ansi1251ToWide(1251, 0, name, int(n), units, 1024) != int(n)) {
    for (uint32_t i = 0; i < n; ++i) units[i] = WCHAR(static_cast<unsigned char>(name[i]));
  }
  Utf8FromUnits(units, n, out, capacity);
}

const char* NameOf(const TAnsiString& name) {
  const char* text = name.Data();
  return text != nullptr ? text : "";
}

// The Escape/quit convention of the progress display: removed messages are dropped, not
// dispatched; the drain stops at the first quit.
bool DrainForCancel() {
  MSG message;
  UINT last = WM_USER;
  while (last != WM_QUIT && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    last = message.message;
    if (last == WM_KEYUP && message.wParam == VK_ESCAPE) last = WM_QUIT;
  }
  return last == WM_QUIT;
}

// Progress within one file: base + (done / total) x (end - base), in extended precision.
float PositionWithin(float base, float end, uint64_t done, uint64_t total) {
  if (total == 0) return base;
  const long double share = static_cast<long double>(done) / static_cast<long double>(total);
  return static_cast<float>(base + share * (static_cast<long double>(end) - base));
}

// True when both handles name the same file (so restoring must not overwrite the archive it reads).
bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  if (!GetFileInformationByHandle(a, &x) || !GetFileInformationByHandle(b, &y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool AskYesNo(const TAnsiString& text) { return ShowMessageWindow(nullptr, text.Data(), nullptr, MB_YESNO) == IDYES; }

TAnsiString OverwriteQuestion(const TAnsiString& name) {
  TAnsiString text("File \"");
  text = Concatenate(text, name);
  return Concatenate(text, TAnsiString("\" already exist. Overwrite?"));
}

}  // namespace

void NoteQuitSignal() {
  quitSignal = 1;
  TBlockPipeline::AbandonAll();
}
bool QuitSignalled() { return quitSignal != 0; }

bool CancelRequested() {
  const bool quit = DrainForCancel();
  return quit || QuitSignalled();
}

void PostProgress(TOknoSostoyaniya* window, float position, float base) {
  if (window == nullptr) return;
  uint32_t positionBits, baseBits;
  static_assert(sizeof(float) == 4, "progress values travel as 32-bit float bit patterns");
  std::memcpy(&positionBits, &position, 4);
  std::memcpy(&baseBits, &base, 4);
  PostMessageA(window->window, WM_PROGRESS_UPDATE, WPARAM(positionBits), LPARAM(baseBits));
  PumpProgressMessages(window);
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
  Utf8FromNarrow(name, utf8, sizeof utf8);
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
    Utf8FromUnits(text, length, reason, capacity);
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

namespace {

// The entries being compressed, in archive order: a header, the blocks, the back-patch. Each waits
// here until everything before it is written, so the blocks of one file are compressed while the
// next blocks, or the next files, are read. Only the run's thread uses it.
class TArchiveWriter {
 public:
  // EntryWritten while nothing has failed, else the first failure's result.
  int32_t State() const { return state_; }

  void QueueHeader(HANDLE archive, const TWideString& name, uint64_t time, const char* fileName) {
    TPending p;
    p.kind = PendingHeader;
    p.archive = archive;
    p.name = name;
    p.time = time;
    p.fileName = TAnsiString(fileName);
    pending_.push_back(p);
  }
  void QueueBlock(TBlockSlot* slot, uint32_t length, float position, float base) {
    TPending p;
    p.kind = PendingBlock;
    p.slot = slot;
    p.position = position;
    p.base = base;
    BlockPipeline.Submit(slot, BlockCompress, length);
    pending_.push_back(p);
  }
  void QueueFinish(float end) {
    TPending p;
    p.kind = PendingFinish;
    p.position = p.base = end;
    pending_.push_back(p);
  }

  // A slot to read the next block into: blocks are written, oldest first, until one is free.
  TBlockSlot* Slot(uint32_t length, TOknoSostoyaniya* window) {
    for (;;) {
      if (state_ != EntryWritten) return nullptr;
      if (TBlockSlot* slot = BlockPipeline.FreeSlot(length)) return slot;
      if (pending_.empty()) {  // no slot at all: the run has no working buffer
        Fail(EntryEngineFailed, fileName_.Data(), "no working buffer", 0);
        return nullptr;
      }
      WriteOldest(window);
    }
  }

  // Writes everything queued; false (with the failure reported) when something could not be.
  bool Drain(TOknoSostoyaniya* window) {
    while (state_ == EntryWritten && !pending_.empty()) WriteOldest(window);
    return state_ == EntryWritten;
  }

  // Ends the run's writing without writing what is queued (a failure or a cancel).
  void Abandon(int32_t result) {
    if (state_ == EntryWritten) state_ = result;
    BlockPipeline.Discard();
    pending_.clear();
  }

  // A failure ends what was queued with it; entries queued afterwards start afresh.
  void StartIfIdle() {
    if (pending_.empty()) state_ = EntryWritten;
  }

 private:
  enum TPendingKind : uint8_t { PendingHeader, PendingBlock, PendingFinish };
  struct TPending {
    TPendingKind kind;
    HANDLE archive = INVALID_HANDLE_VALUE;
    TWideString name;
    TAnsiString fileName;
    uint64_t time = 0;
    TBlockSlot* slot = nullptr;
    float position = 0, base = 0;
  };

  void Fail(int32_t result, const char* name, const char* reason, DWORD error) {
    if (reason != nullptr)
      ReportFailure(name, reason);
    else
      ReportSystemFailure(name, error);
    Abandon(result);
  }

  void WriteOldest(TOknoSostoyaniya* window) {
    TPending p = pending_.front();
    pending_.pop_front();
    switch (p.kind) {
      case PendingHeader:
        archive_ = p.archive;
        fileName_ = p.fileName;
        if (!WriteEntryHeader(archive_, p.name.Data(), p.name.Length(), p.time, entryStart_))
          return Fail(EntryInputOutputFailed, fileName_.Data(), nullptr, GetLastError());
        if (window != nullptr) PumpProgressMessages(window);
        return;
      case PendingBlock: {
        TBlockSlot* slot = BlockPipeline.Oldest();
        const bool compressed = slot->ok;
        const bool written = compressed && WriteEntryBlock(archive_, slot->output, slot->outputLength);
        const DWORD error = GetLastError();
        BlockPipeline.Release(slot);
        if (!compressed && QuitSignalled()) return Fail(EntryCancelled, fileName_.Data(), "cancelled", 0);
        if (!compressed)
          return Fail(EntryEngineFailed, fileName_.Data(), "the compression engine could not get its work area", 0);
        if (!written) return Fail(EntryInputOutputFailed, "compressed file", nullptr, error);
        PostProgress(window, p.position, p.base);
        return;
      }
      case PendingFinish:
        if (!FinishEntry(archive_, entryStart_)) return Fail(EntryInputOutputFailed, "compressed file", nullptr, GetLastError());
        PostProgress(window, p.position, p.base);
        return;
    }
  }

  std::deque<TPending> pending_;
  int32_t state_ = EntryWritten;
  HANDLE archive_ = INVALID_HANDLE_VALUE;
  TAnsiString fileName_;
  uint64_t entryStart_ = 0;
};

TArchiveWriter writer;

}  // namespace

int32_t QueueFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                       uint64_t& lastWriteTime, float end) {
  const char* narrow = NameOf(name);
  writer.StartIfIdle();
  const TWideString wide = FromNarrow(name);
  if (wide.Length() > kEntryNameLimit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return EntrySourceNotOpened;
  }
  HANDLE source = CreateFileA(narrow, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE) return EntrySourceNotOpened;
  FILETIME written = {0, 0};
  lastWriteTime = GetFileTime(source, nullptr, nullptr, &written)
                      ? uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime
                      : 0;
  auto fail = [&](int32_t result, const char* reason, bool systemReason) {
    const DWORD error = GetLastError();
    CloseHandle(source);
    if (systemReason)
      ReportSystemFailure(narrow, error);
    else if (reason != nullptr)
      ReportFailure(narrow, reason);
    writer.Abandon(result);
    return result;
  };

  // The size only paces the progress: the file is read to its end, so one that grows, or one that
  // says 0 but has bytes (a file of /proc), is stored whole. Every chunk but the last is full.
  uint64_t size = 0;
  if (!FileSize64(source, size)) return fail(EntryInputOutputFailed, nullptr, true);
  writer.QueueHeader(archive, wide, lastWriteTime, narrow);
  uint64_t done = 0;
  for (;;) {
    const uint64_t expected = size > done ? size - done : 1;
    TBlockSlot* slot = writer.Slot(uint32_t(expected < uint64_t(BlockSize) ? expected : BlockSize), window);
    if (slot == nullptr) return fail(writer.State(), nullptr, false);
    // A file that says it is empty is read without a cancel check, as it gives no block.
    if ((done < size || done > 0) && CancelRequested()) return fail(EntryCancelled, "cancelled", false);
    DWORD got = 0;
    if (!ReadFile(source, slot->input, DWORD(BlockSize), &got, nullptr)) return fail(EntryInputOutputFailed, nullptr, true);
    if (got == 0) break;
    done += got;
    writer.QueueBlock(slot, got, PositionWithin(base, end, done < size ? done : size, size), base);
    if (got < DWORD(BlockSize)) break;  // a read stops short only at the end of the file
  }
  writer.QueueFinish(end);
  CloseHandle(source);
  return EntryWritten;
}

bool FinishQueuedEntries(TOknoSostoyaniya* window) { return writer.Drain(window); }

int32_t CompressFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end) {
  const int32_t result = QueueFileEntry(archive, name, base, window, lastWriteTime, end);
  if (result == EntrySourceNotOpened) {
    char reason[1024];
    UnopenedReason(NameOf(name), GetLastError(), reason, sizeof reason);
    ReportFailure(NameOf(name), reason);
  }
  if (result != EntryWritten) return result;
  return FinishQueuedEntries(window) ? EntryWritten : writer.State();
}

namespace {

// The smallest window that restores a block this run's window refused, from the block itself: a
// stored block says its length; a compressed one is restored into scratch as large as its
// pre-pass length allows (the pre-pass expands a byte at most 85 times). 0 when no larger window
// restores it (the block is damaged).
uint32_t WindowNeeded(const uint8_t* payload, uint32_t length) {
  if (length < 8) return 0;
  if (GetU32(payload + 4) == 0) return length - 8;
  const uint64_t largest = uint64_t(1) << 30;
  uint64_t capacity = 85 * uint64_t(GetU32(payload));
  if (capacity > largest) capacity = largest;
  if (capacity <= 2 * uint64_t(BlockSize)) return 0;
  uint8_t* scratch = nullptr;
  Create(scratch, uint32_t(capacity));
  if (scratch == nullptr) return 0;
  uint32_t restored = uint32_t(capacity);
  const bool fits = DecompressBlock(scratch, restored, payload, length);
  Free(scratch);
  return fits ? restored : 0;
}

// The report of a block this run's window is too small for.
void WindowReason(uint32_t needed, char* reason, size_t capacity) {
  std::snprintf(reason, capacity, "made with a window of at least %u bytes: restore with -w=%u", needed, needed);
}

// Where a restore writes an entry before it takes the entry's name, and what it does with it.
struct TRestoreTarget {
  const char* name;         // the entry's name, for the reports
  HANDLE folder;            // the folder the file goes into
  const char* leaf;         // the file's name in that folder
  bool existed = false;     // a file of that name was there: it is replaced only by a whole entry
  char temporaryName[TRestoreFolders::kTemporaryNameSize] = "";
  HANDLE file = INVALID_HANDLE_VALUE;

  // A whole entry takes its name with the stored time; false (reported) when it cannot.
  bool Finish(uint64_t lastWriteTime) {
    if (lastWriteTime != 0) {
      FILETIME time;
      time.dwLowDateTime = static_cast<DWORD>(lastWriteTime);
      time.dwHighDateTime = static_cast<DWORD>(lastWriteTime >> 32);
      SetFileTime(file, nullptr, nullptr, &time);
    }
    const bool closed = CloseHandle(file) != FALSE;
    file = INVALID_HANDLE_VALUE;
    if (closed && MoveFileBeneath(folder, temporaryName, leaf, MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    DeleteFileBeneath(folder, temporaryName);
    char reason[960], line[1024];
    SystemReason(error, reason, sizeof reason);
    std::snprintf(line, sizeof line, "%s; nothing was kept", reason);
    ReportFailure(name, line);
    return false;
  }

  // Ends a failed entry with one line that says what became of the file. Only damage in the
  // archive keeps a part, and only where no file was: what could be restored is all there is.
  void Fail(const char* reason, bool damage) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    const bool kept = damage && !existed && MoveFileBeneath(folder, temporaryName, leaf, 0);
    if (!kept) DeleteFileBeneath(folder, temporaryName);
    char line[512];
    std::snprintf(line, sizeof line, "%s; %s", reason,
                  existed ? "the existing file was left as it was"
                          : kept ? "the file holds what could be restored" : "nothing was kept");
    ReportFailure(name, line);
  }
};

// The entry cannot be restored where its name leads; one line says why.
TRestoreOutcome Skipped(const char* name, DWORD error) {
  if (error == ERROR_CANT_RESOLVE_FILENAME) {
    ReportFailure(name, "a symbolic link lies in its path; skipped");
  } else {
    char reason[960], line[1024];
    SystemReason(error, reason, sizeof reason);
    std::snprintf(line, sizeof line, "%s; skipped", reason);
    ReportFailure(name, line);
  }
  return RestoreSkipped;
}

}  // namespace

TRestoreOutcome RestoreEntry(HANDLE archive, TRestoreFolders& folders, const TAnsiString& name,
                             uint64_t nextEntryOffset, uint64_t lastWriteTime, float base, TOknoSostoyaniya* window,
                             bool& askBeforeOverwrite, float end) {
  const char* narrow = NameOf(name);
  TRestoreTarget target;
  target.name = narrow;
  target.folder = folders.Reach(narrow, target.leaf);
  if (target.folder == nullptr) return Skipped(narrow, GetLastError());
  // Any item there counts as one to keep, also a file this process cannot read (the question is
  // asked, as always, only for a file that opens for reading).
  const DWORD attributes = GetFileAttributesBeneath(target.folder, target.leaf);
  target.existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (target.existed && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return Skipped(narrow, ERROR_CANT_RESOLVE_FILENAME);
  if (target.existed && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ReportFailure(narrow, "a folder of that name is in the way; skipped");
    return RestoreSkipped;
  }
  bool readable = false;
  if (target.existed) {
    HANDLE existing = CreateFileBeneath(target.folder, target.leaf, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    readable = existing != INVALID_HANDLE_VALUE;
    const bool archiveItself = readable && SameFile(archive, existing);
    if (readable) CloseHandle(existing);
    if (archiveItself) {
      ReportFailure(narrow, "the entry names the compressed file itself; skipped");
      return RestoreSkipped;
    }
  }
  if (askBeforeOverwrite && readable) {
    const bool yes = AskYesNo(OverwriteQuestion(name));
    if (QuitSignalled()) {
      ReportFailure(narrow, "cancelled; the existing file was left as it was");
      return RestoreCancelled;
    }
    if (!yes) return RestoreKept;
    overwriteYesCount = int8_t(uint8_t(overwriteYesCount) + 1);
    if (overwriteYesCount == 3 && AskYesNo(TAnsiString("Overwrite all files?"))) askBeforeOverwrite = false;
  }
  target.file = folders.CreateTemporary(target.folder, target.temporaryName);
  if (target.file == INVALID_HANDLE_VALUE) return Skipped(narrow, GetLastError());
  auto failed = [&](const char* reason, bool damage) {
    target.Fail(reason, damage);
    return RestoreDamaged;
  };

  uint64_t start = 0;
  if (!CurrentPosition(archive, start) || nextEntryOffset < start) return failed("entry cannot be read", true);
  if (!BlockPipeline.Started()) return failed("no working buffer", false);
  const uint64_t total = nextEntryOffset - start;
  const uint32_t limit = AcceptedBlockLength(BlockSize);
  // Blocks are read ahead into the workers' slots and written in order. Damage found while reading
  // is reported once the blocks before it are written, so a new file keeps all that was whole.
  char damage[160] = "";
  bool windowTooSmall = false;
  bool cancelled = false;
  std::deque<uint64_t> readAfter;  // bytes of the entry read up to the end of each block in flight
  uint64_t done = 0;
  for (;;) {
    TBlockSlot* slot = nullptr;
    while (damage[0] == 0 && !cancelled && done < total && (slot = BlockPipeline.FreeSlot(uint32_t(BlockSize))) != nullptr) {
      if (CancelRequested()) {
        cancelled = true;
        break;
      }
      uint8_t field[8];
      if (total - done < 4 || !ReadExact(archive, field, 4)) {
        std::snprintf(damage, sizeof damage, "damaged entry: a block length is cut off");
        break;
      }
      const uint32_t length = GetU32(field);
      if (length > total - done - 4) {
        std::snprintf(damage, sizeof damage, "damaged entry: a block runs past the end of its entry");
      } else if (length > limit) {
        // Too long to read here: its header still tells the stored form's length, or a lower bound.
        if (length < 8 || !ReadExact(archive, field, 8)) {
          std::snprintf(damage, sizeof damage, "damaged entry: a block is cut off");
        } else {
          WindowReason(GetU32(field + 4) == 0 ? length - 8 : length, damage, sizeof damage);
          windowTooSmall = true;
        }
      } else if (!ReadExact(archive, slot->input, length)) {
        std::snprintf(damage, sizeof damage, "damaged entry: a block is cut off");
      } else if (length > uint32_t(BlockSize) && length >= 8 && GetU32(slot->input + 4) != 0) {
        // A compressed-form payload longer than the window would run into the output, which the
        // engine writes while it still reads the payload; only the stored form may overlap.
        WindowReason(length, damage, sizeof damage);
        windowTooSmall = true;
      }
      if (damage[0] != 0) break;
      done += uint64_t(length) + 4;
      BlockPipeline.Submit(slot, BlockRestore, length);
      readAfter.push_back(done);
    }
    if (cancelled) {
      BlockPipeline.Discard();
      break;
    }
    TBlockSlot* oldest = BlockPipeline.Oldest();
    if (oldest == nullptr) break;
    char reason[160] = "";
    bool isDamage = true;
    if (!oldest->ok) {
      const uint32_t needed = WindowNeeded(oldest->input, oldest->inputLength);
      isDamage = needed <= uint32_t(BlockSize);
      if (!isDamage)
        WindowReason(needed, reason, sizeof reason);
      else
        std::snprintf(reason, sizeof reason, "damaged entry: a block cannot be restored");
    } else if (!WriteExact(target.file, oldest->output, oldest->outputLength)) {
      SystemReason(GetLastError(), reason, sizeof reason);
      isDamage = false;
    }
    BlockPipeline.Release(oldest);
    if (reason[0] != 0) {
      BlockPipeline.Discard();
      return failed(reason, isDamage);
    }
    PostProgress(window, PositionWithin(base, end, readAfter.front(), total), base);
    readAfter.pop_front();
  }
  if (cancelled) {
    target.Fail("cancelled", false);
    return RestoreCancelled;
  }
  if (damage[0] != 0) return failed(damage, !windowTooSmall);
  if (!target.Finish(lastWriteTime)) return RestoreSkipped;
  PostProgress(window, end, end);
  return RestoreComplete;
}
