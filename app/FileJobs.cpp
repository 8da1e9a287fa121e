#include "app/FileJobs.h"

#include <cstdio>
#include <cstring>

#include "app/ArchiveFormat.h"
#include "app/MainRoutine.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "engine/Compression.h"
#include "foundation/Memdiag.h"
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

// The archive being read is itself the file the entry names.
bool NamesArchive(HANDLE archive, const char* name) {
  HANDLE existing = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing == INVALID_HANDLE_VALUE) return false;
  const bool same = SameFile(archive, existing);
  CloseHandle(existing);
  return same;
}

bool AskYesNo(const TAnsiString& text) { return ShowMessageWindow(nullptr, text.Data(), nullptr, MB_YESNO) == IDYES; }

TAnsiString OverwriteQuestion(const TAnsiString& name) {
  TAnsiString text("File \"");
  text = Concatenate(text, name);
  return Concatenate(text, TAnsiString("\" already exist. Overwrite?"));
}

}  // namespace

void NoteQuitSignal() { quitSignal = 1; }
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

void ReportLine(const char* text) {
#ifndef _WIN32
  PosixEndTerminalLine();
#endif
  std::fprintf(stderr, "velmora: %s\n", text);
  std::fflush(stderr);
}

void ReportNamed(const char* name, const char* reason) {
  char utf8[4096];
  Utf8FromNarrow(name, utf8, sizeof utf8);
  char line[4096 + 1024];
  std::snprintf(line, sizeof line, "%s: %s", utf8, reason);
  ReportLine(line);
}

void ReportFailure(const char* name, const char* reason) {
  failureReported = true;
  ReportNamed(name, reason);
}

void ReportSkipped(const char* name, const char* reason) {
  skipReported = true;
  ReportNamed(name, reason);
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

int32_t CompressFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end) {
  const char* narrow = NameOf(name);
  const TWideString wide = FromNarrow(name);
  if (wide.Length() > kEntryNameLimit) {
    ReportFailure(narrow, "name longer than 999 UTF-16 units");
    return EntrySourceNotOpened;
  }
  HANDLE source = CreateFileA(narrow, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE) {
    ReportSystemFailure(narrow, GetLastError());
    return EntrySourceNotOpened;
  }
  FILETIME written = {0, 0};
  lastWriteTime = GetFileTime(source, nullptr, nullptr, &written)
                      ? uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime
                      : 0;

  auto fail = [&](int32_t result, const char* reason, bool systemReason) {
    const DWORD error = GetLastError();
    CloseHandle(source);
    if (systemReason)
      ReportSystemFailure(narrow, error);
    else
      ReportFailure(narrow, reason);
    return result;
  };

  uint64_t entryStart = 0;
  if (!WriteEntryHeader(archive, wide.Data(), wide.Length(), lastWriteTime, entryStart))
    return fail(EntryInputOutputFailed, nullptr, true);
  if (window != nullptr) PumpProgressMessages(window);

  uint64_t size = 0;
  if (!FileSize64(source, size)) return fail(EntryInputOutputFailed, nullptr, true);
  uint64_t done = 0;
  while (done < size) {
    PostProgress(window, PositionWithin(base, end, done, size), base);
    if (CancelRequested()) return fail(EntryCancelled, "cancelled", false);
    uint32_t chunk = uint32_t(BlockSize);
    if (size - done < chunk) chunk = uint32_t(size - done);
    DWORD got = 0;
    if (!ReadFile(source, InputArea, chunk, &got, nullptr)) return fail(EntryInputOutputFailed, nullptr, true);
    // A file that shrank while it was read: bytes that were never read are not compressed.
    if (got != chunk) return fail(EntryInputOutputFailed, "the file delivered fewer bytes than its size", false);
    uint32_t length = 0;
    if (!CompressBlock(OutputArea, length, InputArea, chunk))
      return fail(EntryEngineFailed, "the compression engine could not get its work area", false);
    if (!WriteEntryBlock(archive, OutputArea, length)) {
      const DWORD error = GetLastError();
      CloseHandle(source);
      ReportSystemFailure("compressed file", error);
      return EntryInputOutputFailed;
    }
    done += chunk;
  }
  if (!FinishEntry(archive, entryStart)) {
    const DWORD error = GetLastError();
    CloseHandle(source);
    ReportSystemFailure("compressed file", error);
    return EntryInputOutputFailed;
  }
  PostProgress(window, end, end);
  CloseHandle(source);
  return EntryWritten;
}

namespace {

// A symbolic link (or another reparse point) at the name or at any folder on its way: restoring
// through it would write outside the archive's folder or into a file elsewhere.
bool PathCrossesLink(const char* name) {
  char prefix[MAX_PATH * 4];
  for (uint32_t i = 0;; ++i) {
    if (name[i] == '\\' || name[i] == 0) {
      if (i >= sizeof prefix) return true;
      std::memcpy(prefix, name, i);
      prefix[i] = 0;
      const DWORD attributes = GetFileAttributesA(prefix);
      if (attributes == INVALID_FILE_ATTRIBUTES) return false;  // nothing there yet: nothing beyond either
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
      if (name[i] == 0) return false;
    }
  }
}

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

// Where a restore writes an entry before it takes the entry's name, and what it does with it.
struct TRestoreTarget {
  const char* name;
  bool existed;               // a file of that name was there: it is replaced only by a whole entry
  TAnsiString temporaryName;
  HANDLE file = INVALID_HANDLE_VALUE;

  // The file takes the entry's name: a whole entry always, a part only where no file was there.
  bool Finish(bool whole) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    if (!whole && existed) {
      DeleteFileA(temporaryName.Data());
      return false;
    }
    if (MoveFileExA(temporaryName.Data(), name, MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    DeleteFileA(temporaryName.Data());
    ReportSystemFailure(name, error);
    return false;
  }

  // Ends a failed entry with one line that says what became of the file.
  void Fail(const char* reason) {
    const bool kept = Finish(false);
    char line[512];
    std::snprintf(line, sizeof line, "%s; %s", reason,
                  existed ? "the existing file was left as it was"
                          : kept ? "the file holds what could be restored" : "nothing was kept");
    ReportFailure(name, line);
  }
};

}  // namespace

bool RestoreEntry(HANDLE archive, const TAnsiString& name, uint64_t nextEntryOffset, float base,
                  TOknoSostoyaniya* window, bool& askBeforeOverwrite, TRestoreOutcome& outcome, float end) {
  const char* narrow = NameOf(name);
  if (NamesArchive(archive, narrow)) {
    ReportFailure(narrow, "the entry names the compressed file itself; skipped");
    outcome = RestoreDamaged;
    return true;
  }
  if (PathCrossesLink(narrow)) {
    ReportFailure(narrow, "a symbolic link lies in its path; skipped");
    outcome = RestoreDamaged;
    return true;
  }
  TRestoreTarget target;
  target.name = narrow;
  target.existed = IsExistingFile(name);
  if (askBeforeOverwrite && target.existed) {
    const bool yes = AskYesNo(OverwriteQuestion(name));
    if (QuitSignalled()) {
      ReportFailure(narrow, "cancelled; the existing file was left as it was");
      outcome = RestoreCancelled;
      return true;
    }
    if (!yes) {
      outcome = RestoreKept;
      return true;
    }
    overwriteYesCount = int8_t(uint8_t(overwriteYesCount) + 1);
    if (overwriteYesCount == 3 && AskYesNo(TAnsiString("Overwrite all files?"))) askBeforeOverwrite = false;
  }
  if (!CreateFolderPath(name, true)) {
    ReportFailure(narrow, "its folders cannot be created");
    outcome = RestoreStopped;
    return false;
  }
  const DWORD attributes = GetFileAttributesA(narrow);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ReportSystemFailure(narrow, ERROR_ACCESS_DENIED);
    outcome = RestoreStopped;
    return false;
  }
  target.file = CreateTemporaryBeside(name, ".velmora-part", target.temporaryName);
  if (target.file == INVALID_HANDLE_VALUE) {
    ReportSystemFailure(narrow, GetLastError());
    outcome = RestoreStopped;
    return false;
  }
  auto damaged = [&](const char* reason) {
    target.Fail(reason);
    outcome = RestoreDamaged;
    return true;
  };

  uint64_t start = 0;
  if (!CurrentPosition(archive, start) || nextEntryOffset < start) return damaged("entry cannot be read");
  const uint64_t total = nextEntryOffset - start;
  const uint32_t limit = AcceptedBlockLength(BlockSize);
  char reason[160];
  auto tooSmallWindow = [&](uint32_t needed) {
    std::snprintf(reason, sizeof reason, "made with a window of at least %u bytes: restore with -w=%u", needed, needed);
    return damaged(reason);
  };
  uint64_t done = 0;
  while (done < total) {
    PostProgress(window, PositionWithin(base, end, done, total), base);
    if (CancelRequested()) {
      target.Fail("cancelled");
      outcome = RestoreCancelled;
      return true;
    }
    uint8_t field[8];
    if (total - done < 4 || !ReadExact(archive, field, 4)) return damaged("damaged entry: a block length is cut off");
    const uint32_t length = GetU32(field);
    if (length > total - done - 4) return damaged("damaged entry: a block runs past the end of its entry");
    if (length > limit) {
      // Too long to read here: its header still tells the stored form's length, or a lower bound.
      if (length < 8 || !ReadExact(archive, field, 8)) return damaged("damaged entry: a block is cut off");
      return tooSmallWindow(GetU32(field + 4) == 0 ? length - 8 : length);
    }
    if (!ReadExact(archive, InputArea, length)) return damaged("damaged entry: a block is cut off");
    // A compressed-form payload longer than InputArea would run into OutputArea, which the engine
    // writes while it still reads the payload; only the stored form may overlap (it is moved).
    if (length > uint32_t(BlockSize) && length >= 8 && GetU32(InputArea + 4) != 0) return tooSmallWindow(length);
    uint32_t restored = 2 * uint32_t(BlockSize);
    if (!DecompressBlock(OutputArea, restored, InputArea, length)) {
      const uint32_t needed = WindowNeeded(InputArea, length);
      if (needed > uint32_t(BlockSize)) return tooSmallWindow(needed);
      return damaged("damaged entry: a block cannot be restored");
    }
    if (!WriteExact(target.file, OutputArea, restored)) {
      SystemReason(GetLastError(), reason, sizeof reason);
      return damaged(reason);
    }
    done += uint64_t(length) + 4;
  }
  if (!target.Finish(true)) {
    outcome = RestoreStopped;
    return false;
  }
  PostProgress(window, end, end);
  outcome = RestoreComplete;
  return true;
}
