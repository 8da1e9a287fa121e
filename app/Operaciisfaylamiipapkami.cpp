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

TWideName ResolvedFolderName(const TWideName& folder) {
  TWideName result;
  HANDLE handle = OpenFolderW(folder.c_str());
  if (handle == nullptr) return result;
  const DWORD need = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (need > 0) {
    result.assign(need, WCHAR(0));
    const DWORD length = GetFinalPathNameByHandleW(handle, &result[0], need, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    result.resize(length > 0 && length < need ? length : 0);
  }
  CloseHandle(handle);
  // "\\?\UNC\server\share" is "\\server\share", "\\?\D:\x" is "D:\x".
  const WCHAR kLong[] = {'\\', '\\', '?', '\\', 0};
  const WCHAR kUnc[] = {'U', 'N', 'C', '\\', 0};
  if (result.compare(0, 4, kLong) == 0) {
    result.erase(0, 4);
    if (result.compare(0, 4, kUnc) == 0) result.replace(0, 3, TWideName(1, WCHAR('\\')));
  }
  return result;
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  if (!GetFileInformationByHandle(a, &x) || !GetFileInformationByHandle(b, &y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
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
