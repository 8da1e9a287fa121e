// File and folder questions (does a folder exist, where does it resolve to, is a name taken, are
// two handles one file) and the creation of the folders a path names.
#include "app/Operaciisfaylamiipapkami.h"

#include "app/Sistemniesoobzheniya.h"
#include "platform/Beneath.h"
#include "platform/win32.h"
#include "ui/Toknosoobzheniy.h"

namespace {

int startupCounter = 1;

enum : int {
  FolderPathMade = 0,
  FolderPathUnusable = -1,
  FolderPathFailed = -2,
};

}  // namespace

bool FolderExists(const TWideName& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The absolute path the system gives for an open folder; empty when it gives none.
TWideName FinalPathOf(HANDLE folder) {
  const DWORD need = GetFinalPathNameByHandleW(folder, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (need == 0) return TWideName();
  TWideName path(need, WCHAR(0));
  const DWORD length = GetFinalPathNameByHandleW(folder, &path[0], need, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  path.resize(length > 0 && length < need ? length : 0);
  return path;
}

}  // namespace

TWideName ResolvedFolderName(const TWideName& folder) {
  HANDLE handle = OpenFolderW(folder.c_str());
  if (handle == nullptr) return TWideName();
  TWideName result = FinalPathOf(handle);
  CloseHandle(handle);
  // "\\?\UNC\server\share" is "\\server\share", "\\?\D:\x" is "D:\x".
  const WCHAR kLong[] = {'\\', '\\', '?', '\\', 0};
  const WCHAR kUnc[] = {'U', 'N', 'C', '\\', 0};
  if (result.compare(0, 4, kLong) == 0) {
    result.erase(0, 4);
    if (result.compare(0, 4, kUnc) == 0) {
      result.erase(0, 2);
      result[0] = '\\';
    }
  }
  return result;
}

HANDLE OpenOrMakeFolder(const TWideName& path) {
  HANDLE folder = OpenFolderW(path.c_str());
  if (folder != nullptr || path.empty()) return folder;
  // Made from the outside in; a prefix that exists, or a drive, fails and is passed over.
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '\\' || path[i] == '/') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  return OpenFolderW(path.c_str());
}

bool IsSameOrBelow(const TWideName& inner, const TWideName& folder) {
  const size_t n = folder.size();
  if (n == 0 || inner.size() < n || inner.compare(0, n, folder) != 0) return false;
  return inner.size() == n || folder[n - 1] == '\\' || inner[n] == '\\';
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  if (!GetFileInformationByHandle(a, &x) || !GetFileInformationByHandle(b, &y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

namespace {

bool SameFolder(HANDLE a, HANDLE b) {
  if (a == nullptr || b == nullptr) return false;
  if (SameFile(a, b)) return true;
  const TWideName x = FinalPathOf(a), y = FinalPathOf(b);
  return !x.empty() && FoldedName(x.data(), x.size()) == FoldedName(y.data(), y.size());
}

}  // namespace

bool IsSamePlace(const TFilePlace& place, HANDLE folder, const WCHAR* leaf, HANDLE item) {
  if (place.file == INVALID_HANDLE_VALUE) return false;
  if (item != INVALID_HANDLE_VALUE && SameFile(place.file, item)) return true;
  TWideName name(leaf);
  return FoldedName(name.data(), name.size()) == FoldedName(place.leaf.data(), place.leaf.size()) &&
         SameFolder(place.folder, folder);
}

bool IsExistingFile(const TWideName& name) {
  if (name.empty()) return false;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderPath(const TWideName& path, bool showErrors) {
  int status = FolderPathMade;
  size_t position = 0;
  if (path.empty()) {
    status = FolderPathUnusable;
  } else {
    const size_t colon = path.find(':');
    if (colon != TWideName::npos) {
      position = colon + 2;
      if (position > path.size()) status = FolderPathUnusable;
    }
  }
  while (status == FolderPathMade && position < path.size()) {
    const size_t backslash = path.find('\\', position);
    if (backslash == TWideName::npos) break;
    const TWideName folder = path.substr(0, backslash);
    if (!FolderExists(folder) && !CreateDirectoryW(folder.c_str(), nullptr)) {
      status = FolderPathFailed;
      break;
    }
    position = backslash + 1;
  }
  if (status != FolderPathMade && showErrors) {
    if (status == FolderPathUnusable)
      ShowNoticeW(WIDE_TEXT("Не удаётся создать папку.\n Имя неправильное."), WIDE_TEXT("Ошибка"));
    else
      ShowSystemError();
  }
  return status == FolderPathMade;
}

void OperaciisfaylamiipapkamiStartup() { --startupCounter; }
void OperaciisfaylamiipapkamiShutdown() { ++startupCounter; }
