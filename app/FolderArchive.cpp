// The folder walk of a compress (count, then depth first in listing order, names checked before
// anything is opened) and the walk of an archive's chain that restores, tests or lists it entry by
// entry, with the selection of entries, the listing's lines and the run's totals.
#include "app/FolderArchive.h"

#include <cstdio>
#include <cstring>

#include "app/ArchiveFormat.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "app/CompressEntry.h"
#include "app/RunState.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "foundation/Memdiag.h"

namespace {

// One folder of the walk in progress, with the place the system resolves it to; the chain of
// levels is the path from the top folder down to the folder being listed.
struct TWalkLevel {
  TWideName resolved;
  const TWalkLevel* parent;
};

// Whether folder is `inner` itself or one of the folders above it (both resolved locations).
bool IsSameOrAncestor(const TWideName& folder, const TWideName& inner) {
  const size_t n = folder.size();
  if (n == 0 || inner.size() < n || inner.compare(0, n, folder) != 0) return false;
  return inner.size() == n || folder[n - 1] == '\\' || inner[n] == '\\';
}

// A folder that is one on the walk or above one (a link to the tree's own folders, to its top
// or to a folder that holds it) would lead the walk back over what it is walking, and out of the
// source into the folder where the compressed file is being written.
bool LeadsBack(const TWideName& resolved, const TWalkLevel* level) {
  if (resolved.empty()) return false;
  for (; level != nullptr; level = level->parent)
    if (IsSameOrAncestor(resolved, level->resolved)) return true;
  return false;
}

void LeaveOut(const TWideName& name, const char* why) {
  char reason[1024];
  std::snprintf(reason, sizeof reason, "%s; left out", why);
  ReportSkipped(name.c_str(), reason);
}

bool IsDotName(const WCHAR* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

TWideName Joined(const TWideName& a, const WCHAR* b) { return a + b; }

const WCHAR kEveryName[] = {'*', '.', '*', 0};
const WCHAR kSeparator[] = {'\\', 0};

uint32_t CountTree(const TWideName& folder, const TWalkLevel* parent) {
  const TWalkLevel level{ResolvedFolderName(folder), parent};
  WIN32_FIND_DATAW item;
  HANDLE search = FindFirstFileW(Joined(folder, kEveryName).c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) return 0;
  uint32_t count = 0;
  do {
    if (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (IsDotName(item.cFileName)) continue;
      const TWideName sub = Joined(Joined(folder, item.cFileName), kSeparator);
      if (LeadsBack(ResolvedFolderName(sub), &level)) continue;
      count += CountTree(sub, &level);
    } else {
      ++count;
    }
  } while (FindNextFileW(search, &item));
  FindClose(search);
  return count;
}

// A link whose target does not exist (as opposed to a file that exists and cannot be read).
bool PointsNowhere(const TWideName& name) {
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return false;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The share of the bar that `done` of `total` items fill.
float ShareOf(uint32_t done, uint32_t total) {
  if (total == 0 || done >= total) return 1.0f;
  return static_cast<float>(double(done) / double(total));
}

bool CompressTree(HANDLE archive, const TWideName& folder, const TWalkLevel* parent, uint32_t& counter,
                  uint32_t& total, TOknoSostoyaniya* window, uint64_t& latestTime) {
  const TWalkLevel level{ResolvedFolderName(folder), parent};
  WIN32_FIND_DATAW item;
  HANDLE search = FindFirstFileW(Joined(folder, kEveryName).c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) {
    // It contributes nothing and the walk goes on; the report and the exit code say the archive
    // lacks it.
    char system[960], reason[1024];
    SystemReason(GetLastError(), system, sizeof system);
    std::snprintf(reason, sizeof reason, "%s; the folder is left out", system);
    ReportSkipped(folder.c_str(), reason);
    return true;
  }
  bool failed = false;
  do {
    const bool isFolder = (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && IsDotName(item.cFileName)) continue;
    const TWideName name = Joined(folder, item.cFileName);
    if (const char* why = UnstorableReason(item.cFileName)) {
      LeaveOut(name, why);
      continue;
    }
    if (isFolder) {
      const TWideName sub = Joined(name, kSeparator);
      if (LeadsBack(ResolvedFolderName(sub), &level)) {
        ReportNote(name.c_str(), "a folder link that leads back into the tree or above it; not walked");
        continue;
      }
      if (!CompressTree(archive, sub, &level, counter, total, window, latestTime)) {
        failed = true;
        break;
      }
    } else {
      if ((item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && PointsNowhere(name)) {
        ReportSkipped(name.c_str(), "a link that points nowhere; left out");
        continue;
      }
      const float base = ShareOf(counter, total);
      const float end = ShareOf(counter + 1, total);
      PostEntryProgress(window, counter + 1, total, name);
      uint64_t time = 0;
      const int32_t result = QueueFileEntry(archive, name, base, window, time, end);
      ++counter;
      if (result == EntrySourceNotOpened) {
        char why[960];
        UnopenedReason(name.c_str(), GetLastError(), why, sizeof why);
        LeaveOut(name, why);
        continue;
      }
      if (result != EntryWritten) {
        failed = true;
        break;
      }
      if (time > latestTime) latestTime = time;
    }
  } while (FindNextFileW(search, &item));
  FindClose(search);
  return !failed;
}

}  // namespace

uint32_t CountFolderFiles(const TWideName& folder) { return CountTree(folder, nullptr); }

uint32_t CompressFolder(HANDLE archive, const TWideName& folder, uint32_t& counter, uint32_t& total,
                        TOknoSostoyaniya* window, uint64_t& latestTime) {
  const bool walked = CompressTree(archive, folder, nullptr, counter, total, window, latestTime);
  return FinishQueuedEntries(window) && walked ? counter : 0;
}

namespace {

// One line of a listing on standard output: size, packed size, local time, name.
void ListLine(const TEntryHeader& header, bool sizeKnown, uint64_t entrySize) {
  char size[24] = "?";
  if (sizeKnown) std::snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(entrySize));
  char when[48] = "                   ";
  const FILETIME utc = FileTimeOf(header.lastWriteTime);
  FILETIME local;
  SYSTEMTIME date;
  if (header.lastWriteTime != 0 && FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &date))
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", date.wYear, date.wMonth, date.wDay, date.wHour,
                  date.wMinute, date.wSecond);
  char name[4096];
  UnitsAsUtf8(header.name, header.nameUnits, name, sizeof name);
  std::printf("%12s  %12llu  %s  %s\n", size, static_cast<unsigned long long>(header.nextEntryOffset - header.start),
              when, name);
}

// The listing's last line: the exact sums (scripts read them) and the same as people read them.
void ListTotals(uint32_t entries, bool sizesKnown, uint64_t bytes, uint64_t packed) {
  char sum[24] = "?", human[32] = "?", humanPacked[32];
  if (sizesKnown) {
    std::snprintf(sum, sizeof sum, "%llu", static_cast<unsigned long long>(bytes));
    HumanSize(bytes, human, sizeof human);
  }
  HumanSize(packed, humanPacked, sizeof humanPacked);
  std::printf("%12s  %12llu  %u %s: %s in %s\n", sum, static_cast<unsigned long long>(packed), entries,
              entries == 1 ? "entry" : "entries", human, humanPacked);
}

}  // namespace

bool RestoreArchive(const TAnsiString& archiveName, TOknoSostoyaniya* window, bool& askBeforeOverwrite,
                    bool& complete, TArchiveUse use) {
  complete = false;
  HANDLE archive = CreateFileA(archiveName.Data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (archive == INVALID_HANDLE_VALUE) {
    ReportSystemFailure(archiveName.Data(), GetLastError());
    return false;
  }
  uint64_t size = 0;
  if (!FileSize64(archive, size)) {
    ReportSystemFailure(archiveName.Data(), GetLastError());
    CloseHandle(archive);
    return false;
  }
  TArchiveReader reader(archive);
  const uint32_t total = CountEntries(reader);
  const bool restoring = !use.test && !use.list;
  TRestoreFolders folders;
  if (restoring) {
    const char* target = use.folder.Length() > 0 ? use.folder.Data() : "";
    if (!folders.Open(target)) {
      ReportSystemFailure(target[0] != 0 ? target : ".", GetLastError());
      CloseHandle(archive);
      return false;
    }
  }
  TEntryHeader* header = nullptr;
  Create(header, 1);
  if (header == nullptr) {
    ReportFailure(archiveName.Data(), "not enough memory");
    CloseHandle(archive);
    return false;
  }
  bool whole = true;
  uint32_t restored = 0;
  uint32_t uncheckable = 0;
  uint32_t kept = 0;  // existing files an answer No kept
  uint64_t at = 0;
  uint64_t bytes = 0;
  bool sizesKnown = true;
  uint32_t completed = 0;  // entries restored or checked whole
  uint64_t packedBytes = 0;  // of the entries walked
  if (use.list) std::printf("%12s  %12s  %-19s  %s\n", "size", "packed", "modified", "name");
  if (size == 0) {
    ReportFailure(archiveName.Data(), "the archive is empty: it holds nothing");
    whole = false;
  }
  while (at < size) {
    const float share = ShareOf(restored, total);
    PostProgress(window, share, share);
    if (QuitSignalled()) {
      ReportFailure(archiveName.Data(), "cancelled");
      whole = false;
      break;
    }
    if (!ReadEntryHeader(reader, at, *header)) {
      char reason[160];
      if (at == 0)
        std::snprintf(reason, sizeof reason, "not a Velmora archive (its first entry cannot be valid)");
      else
        std::snprintf(reason, sizeof reason,
                      "damaged: the chain of entries breaks at offset %llu; %u %s %s %s, the rest of the archive "
                      "cannot be read from there",
                      static_cast<unsigned long long>(at), restored, restored == 1 ? "entry" : "entries",
                      restored == 1 ? "was" : "were", restoring ? "restored" : use.test ? "checked" : "listed");
      ReportFailure(archiveName.Data(), reason);
      whole = false;
      break;
    }
    const TWideName name = header->nameUnits > 0 ? TWideName(header->name, header->nameUnits) : TWideName(WIDE_TEXT("(entry)"));
    const bool restorable = IsRestorableName(header->name, header->nameUnits);
    if (!use.selection.Selects(header->name, header->nameUnits)) {
      at = header->nextEntryOffset;
      continue;
    }
    PostEntryProgress(window, restored + 1, total, name);
    if (!restorable) {
      ReportFailure(name.c_str(), "stored name is absolute, leaves the folder or cannot be restored as it is; skipped");
      whole = false;
    }
    // Only 0 and 1 are defined; any other value would leave open whether the entry is checked.
    const bool marked = header->reserved <= kCheckedEntry;
    if (!marked) {
      char reason[96];
      std::snprintf(reason, sizeof reason, "damaged entry: its reserved byte is %u, not 0 or 1; skipped",
                    unsigned(header->reserved));
      ReportFailure(name.c_str(), reason);
      whole = false;
    }
    header->checked = marked && WrittenChecked(reader, *header, AcceptedBlockLength(BlockSize));
    const bool checked = header->checked;
    uint64_t entrySize = 0;
    bool sizeKnown = false;
    if (marked && (use.test || (restorable && restoring))) {
      const uint64_t before = bytes;
      const TRestoreOutcome outcome =
          RestoreEntry(reader, *header, restoring ? &folders : nullptr, askBeforeOverwrite, bytes, share, window,
                       ShareOf(restored + 1, total));
      if (outcome != RestoreComplete && outcome != RestoreKept) whole = false;
      if (outcome == RestoreComplete) ++completed;
      if (outcome == RestoreKept) ++kept;
      if ((outcome == RestoreCancelled && QuitSignalled()) || outcome == RestoreHalted) break;
      entrySize = bytes - before;
      sizeKnown = outcome == RestoreComplete;
      if (!checked) ++uncheckable;
    } else if (use.list && marked && checked) {
      sizeKnown = DeclaredEntrySize(reader, *header, entrySize);
      if (!sizeKnown) {
        ReportFailure(name.c_str(), "damaged entry: its blocks do not chain");
        whole = false;
      }
    }
    if (use.list) ListLine(*header, sizeKnown, entrySize);
    packedBytes += header->nextEntryOffset - header->start;
    if (use.list && !use.test && sizeKnown) bytes += entrySize;  // a test counted what it decoded
    sizesKnown = sizesKnown && sizeKnown;
    ++restored;
    at = header->nextEntryOffset;
  }
  Free(header);
  if (!use.selection.ReportUnused()) whole = false;
  if (use.totals != nullptr) {
    use.totals->files = completed;
    use.totals->fileBytes = bytes;
    use.totals->archiveBytes = at < size ? at : size;
  }
  if (use.list) ListTotals(restored, sizesKnown, bytes, packedBytes);
  if (kept > 0) {
    char line[96];
    std::snprintf(line, sizeof line, "%u existing %s kept; -o replaces them", kept,
                  kept == 1 ? "file was" : "files were");
    ReportLine(line);
  }
  if (use.test) {
    char line[160];
    std::snprintf(line, sizeof line, "%u entries, %llu bytes checked; %u not checkable (made before check values)",
                  restored, static_cast<unsigned long long>(bytes), uncheckable);
    PrintResult(line);
  }
  std::fflush(stdout);
  if (whole) PostProgress(window, 1.0f, 1.0f);
  CloseHandle(archive);
  complete = whole;
  return true;
}
