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

// Writes UTF-16 units as UTF-8 into out (capacity bytes, zero-terminated); unpaired surrogates
// become U+FFFD.
void Utf8FromUnits(const WCHAR* units, uint32_t count, char* out, uint32_t capacity) {
  uint32_t at = 0;
  auto put = [&](uint32_t c) {
    char bytes[4];
    uint32_t n;
    if (c < 0x80) {
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

// Progress within one file: base + (done / total) x (1 - base), in extended precision.
float PositionWithin(float base, uint64_t done, uint64_t total) {
  if (total == 0) return base;
  const long double share = static_cast<long double>(done) / static_cast<long double>(total);
  return static_cast<float>(base + share * (1.0L - base));
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

void ReportFailure(const char* name, const char* reason) {
  failureReported = true;
  char utf8[4096];
  Utf8FromNarrow(name, utf8, sizeof utf8);
  std::fprintf(stderr, "velmora: %s: %s\n", utf8, reason);
  std::fflush(stderr);
}

void ReportSystemFailure(const char* name, DWORD error) {
  char reason[1024] = "system error";
  WCHAR* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  if (n > 0 && text != nullptr) {
    uint32_t length = n;
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) --length;
    Utf8FromUnits(text, length, reason, sizeof reason);
  }
  if (text != nullptr) LocalFree(text);
  ReportFailure(name, reason);
}

bool FailureReported() { return failureReported; }
void ResetFailures() { failureReported = false; }

int32_t CompressFileEntry(HANDLE archive, const TAnsiString& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime) {
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
    PostProgress(window, PositionWithin(base, done, size), base);
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
  PostProgress(window, 1.0f, 1.0f);
  CloseHandle(source);
  return EntryWritten;
}

bool RestoreEntry(HANDLE archive, const TAnsiString& name, uint64_t nextEntryOffset, float base,
                  TOknoSostoyaniya* window, bool& askBeforeOverwrite, TRestoreOutcome& outcome) {
  const char* narrow = NameOf(name);
  if (NamesArchive(archive, narrow)) {
    ReportFailure(narrow, "the entry names the compressed file itself; skipped");
    outcome = RestoreDamaged;
    return true;
  }
  if (askBeforeOverwrite && IsExistingFile(name)) {
    if (!AskYesNo(OverwriteQuestion(name))) {
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
  HANDLE target = CreateFileA(narrow, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    ReportSystemFailure(narrow, GetLastError());
    outcome = RestoreStopped;
    return false;
  }
  auto damaged = [&](const char* reason) {
    CloseHandle(target);
    ReportFailure(narrow, reason);
    outcome = RestoreDamaged;
    return true;
  };

  uint64_t start = 0;
  if (!CurrentPosition(archive, start) || nextEntryOffset < start) return damaged("entry cannot be read");
  const uint64_t total = nextEntryOffset - start;
  const uint32_t limit = AcceptedBlockLength(BlockSize);
  uint64_t done = 0;
  while (done < total) {
    PostProgress(window, PositionWithin(base, done, total), base);
    if (CancelRequested()) {
      CloseHandle(target);
      ReportFailure(narrow, "cancelled; the file holds what was restored so far");
      outcome = RestoreCancelled;
      return true;
    }
    uint8_t field[4];
    if (total - done < 4 || !ReadExact(archive, field, 4)) return damaged("damaged entry: a block length is cut off");
    const uint32_t length = GetU32(field);
    if (length > limit) return damaged("damaged entry, or made with a larger window: a block is too long");
    if (length > total - done - 4) return damaged("damaged entry: a block runs past the end of its entry");
    if (!ReadExact(archive, InputArea, length)) return damaged("damaged entry: a block is cut off");
    // A compressed-form payload longer than InputArea would run into OutputArea, which the engine
    // writes while it still reads the payload; only the stored form may overlap (it is moved).
    if (length > uint32_t(BlockSize) && length >= 8 && GetU32(InputArea + 4) != 0)
      return damaged("made with a larger window: a compressed block does not fit this window");
    uint32_t restored = 2 * uint32_t(BlockSize);
    if (!DecompressBlock(OutputArea, restored, InputArea, length))
      return damaged("damaged entry, or made with a larger window: a block cannot be restored");
    if (!WriteExact(target, OutputArea, restored)) {
      const DWORD error = GetLastError();
      CloseHandle(target);
      ReportSystemFailure(narrow, error);
      outcome = RestoreDamaged;
      return true;
    }
    done += uint64_t(length) + 4;
  }
  CloseHandle(target);
  outcome = RestoreComplete;
  return true;
}
