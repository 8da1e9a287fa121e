// The folder walk of a compress: count, then depth first in listing order, names checked before
// anything is opened.
#include "app/FolderArchive.h"

#include <cstdio>

#include "app/Operaciisfaylamiipapkami.h"
#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/Run.h"
#include "app/RunControl.h"

namespace {

// One folder of the walk in progress, with the place the system resolves it to; the chain of
// levels is the path from the top folder down to the folder being listed.
struct TWalkLevel {
  TWideName resolved;
  const TWalkLevel* parent;
};

// A folder that is one on the walk or above one (a link to the tree's own folders, to its top
// or to a folder that holds it) would lead the walk back over what it is walking, and out of the
// source into the folder where the compressed file is being written.
bool LeadsBack(const TWideName& resolved, const TWalkLevel* level) {
  if (resolved.empty()) return false;
  for (; level != nullptr; level = level->parent)
    if (IsSameOrBelow(level->resolved, resolved)) return true;
  return false;
}

void LeaveOut(TTreeWalk& walk, const TWideName& name, const char* why) {
  char reason[1024];
  std::snprintf(reason, sizeof reason, "%s; left out", why);
  ReportName(name.c_str(), reason);
  ++walk.leftOut;
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

bool CompressTree(TRun& run, HANDLE archive, const TWideName& folder, const TWalkLevel* parent,
                  TOknoSostoyaniya* window, TTreeWalk& walk) {
  const TWalkLevel level{ResolvedFolderName(folder), parent};
  WIN32_FIND_DATAW item;
  HANDLE search = FindFirstFileW(Joined(folder, kEveryName).c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) {
    // It contributes nothing and the walk goes on; the report and the exit code say the archive
    // lacks it.
    char system[960], reason[1024];
    SystemReason(GetLastError(), system, sizeof system);
    std::snprintf(reason, sizeof reason, "%s; the folder is left out", system);
    ReportName(folder.c_str(), reason);
    ++walk.leftOut;
    return true;
  }
  bool failed = false;
  do {
    const bool isFolder = (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && IsDotName(item.cFileName)) continue;
    const TWideName name = Joined(folder, item.cFileName);
    if (const char* why = UnstorableReason(item.cFileName)) {
      LeaveOut(walk, name, why);
      continue;
    }
    if (isFolder) {
      const TWideName sub = Joined(name, kSeparator);
      if (LeadsBack(ResolvedFolderName(sub), &level)) {
        ReportName(name.c_str(), "a folder link that leads back into the tree or above it; not walked");
        continue;
      }
      if (!CompressTree(run, archive, sub, &level, window, walk)) {
        failed = true;
        break;
      }
    } else {
      if ((item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && PointsNowhere(name)) {
        LeaveOut(walk, name, "a link that points nowhere");
        continue;
      }
      const float base = ShareOf(walk.counter, walk.total);
      const float end = ShareOf(walk.counter + 1, walk.total);
      PostEntryProgress(window, walk.counter + 1, walk.total, name);
      uint64_t time = 0;
      const int32_t result = QueueFileEntry(run, archive, name, base, window, time, end);
      ++walk.counter;
      if (result == EntrySourceNotOpened) {
        char why[960];
        UnopenedReason(name.c_str(), GetLastError(), why, sizeof why);
        LeaveOut(walk, name, why);
        continue;
      }
      if (result != EntryWritten) {
        failed = true;
        break;
      }
      if (time > walk.latestTime) walk.latestTime = time;
    }
  } while (FindNextFileW(search, &item));
  FindClose(search);
  return !failed;
}

}  // namespace

uint32_t CountFolderFiles(const TWideName& folder) { return CountTree(folder, nullptr); }

bool CompressFolder(TRun& run, HANDLE archive, const TWideName& folder, TOknoSostoyaniya* window, TTreeWalk& walk) {
  const bool walked = CompressTree(run, archive, folder, nullptr, window, walk);
  return FinishQueuedEntries(run, window) && walked;
}
