// File and folder questions (does a folder exist, where does it resolve to, is a name taken, are
// two handles one file) and the creation of the folders a path names.
#include "app/Operaciisfaylamiipapkami.h"

#include <cstring>

#include "app/Sistemniesoobzheniya.h"
#include "foundation/Memdiag.h"
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

bool FolderExists(const TAnsiString& path) {
  if (path.Length() == 0) return false;
  char saved[MAX_PATH];
  const DWORD savedLength = GetCurrentDirectoryA(MAX_PATH, saved);
  // GetCurrentDirectoryA gives the size it needs when the buffer is too small, and 0 on failure:
  // only a length below the buffer size means the buffer holds the directory.
  if (savedLength == 0 || savedLength >= MAX_PATH) {
    // Entering the folder could not be undone, so ask for its attributes instead.
    const DWORD attributes = GetFileAttributesA(path.Data());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  const bool entered = SetCurrentDirectoryA(path.Data()) != FALSE;
  if (entered) {
    const DWORD error = GetLastError();
    SetCurrentDirectoryA(saved);
    SetLastError(error);
  }
  return entered;
}

TWideName ResolvedFolderName(const TWideName& folder) {
  TWideName result;
  const DWORD savedNeed = GetCurrentDirectoryW(0, nullptr);
  if (savedNeed == 0) return result;
  TWideName saved(savedNeed, WCHAR(0));
  const DWORD savedLength = GetCurrentDirectoryW(savedNeed, &saved[0]);
  if (savedLength == 0 || savedLength >= savedNeed || !SetCurrentDirectoryW(folder.c_str())) return result;
  const DWORD need = GetCurrentDirectoryW(0, nullptr);
  if (need > 0) {
    result.assign(need, WCHAR(0));
    const DWORD length = GetCurrentDirectoryW(need, &result[0]);
    result.resize(length > 0 && length < need ? length : 0);
  }
  SetCurrentDirectoryW(saved.c_str());
  return result;
}

TAnsiString ResolvedFolderName(const TAnsiString& folder) {
  const TWideString wide = FromNarrow(folder);
  const TWideName resolved = ResolvedFolderName(TWideName(wide.Data() != nullptr ? wide.Data() : WIDE_TEXT("")));
  return FromWide(TWideString(resolved.c_str()));
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  if (!GetFileInformationByHandle(a, &x) || !GetFileInformationByHandle(b, &y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool IsExistingFile(const TAnsiString& name) {
  if (name.Length() == 0) return false;
  const DWORD attributes = GetFileAttributesA(name.Data());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolderPath(const TAnsiString& path, bool showErrors) {
  int status = FolderPathMade;
  const char* text = TextOf(path);
  const int32_t length = static_cast<int32_t>(path.Length());
  int32_t position = 0;
  int32_t remaining = length;
  if (length <= 0) {
    status = FolderPathUnusable;
  } else {
    const char* colon = static_cast<const char*>(std::memchr(text, ':', static_cast<size_t>(length)));
    if (colon != nullptr) {
      position = static_cast<int32_t>(colon - text) + 2;
      remaining -= position;
      if (remaining < 0) status = FolderPathUnusable;
    }
  }
  while (status == FolderPathMade && remaining > 0) {
    const char* backslash = static_cast<const char*>(std::memchr(text + position, '\\', static_cast<size_t>(remaining)));
    if (backslash == nullptr) break;
    const int32_t end = static_cast<int32_t>(backslash - text);
    const TAnsiString folder = Substring(path, 1, end);
    if (!FolderExists(folder) && !CreateDirectoryA(TextOf(folder), nullptr)) {
      status = FolderPathFailed;
      break;
    }
    remaining -= end - position + 1;
    position = end + 1;
    if (remaining < 0) status = FolderPathUnusable;
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
