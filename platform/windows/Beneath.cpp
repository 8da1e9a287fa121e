// The calls below a folder handle over kernel32. A folder handle is the folder opened with
// FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT and without FILE_SHARE_DELETE: a
// reparse point (a symbolic link, a junction) is seen as itself and refused, and while the handle
// is open nobody can rename, remove or replace the folder, so the full path of a name below it
// (taken from the handle itself) keeps leading to what was checked.
#include <string>

#include "platform/Beneath.h"
#include "platform/Upcase.h"

namespace {

bool ComponentToWide(LPCWSTR component, std::wstring& wide) {
  if (component == nullptr || component[0] == 0 || (component[0] == L'.' && component[1] == 0) ||
      (component[0] == L'.' && component[1] == L'.' && component[2] == 0)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  for (LPCWSTR p = component; *p != 0; ++p)
    if (*p == L'\\' || *p == L'/' || *p == L':') {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
  wide = component;
  return true;
}

// The final path of an open item, as the system resolves it.
bool FinalPath(HANDLE item, std::wstring& path) {
  const DWORD need = GetFinalPathNameByHandleW(item, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (need == 0) return false;
  path.assign(need, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(item, &path[0], need, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= need) return false;
  path.resize(length);
  return true;
}

// The full path of the item `component` in `folder`, from the folder's handle.
bool ChildPath(HANDLE folder, LPCWSTR component, std::wstring& path) {
  std::wstring leaf;
  if (!ComponentToWide(component, leaf)) return false;
  if (!FinalPath(folder, path)) return false;
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += leaf;
  return true;
}

// Whether the item opened for `asked` (a parent's final path and a component) is where it was
// asked for: a link that a file system shows as a plain folder (a Unix link under Wine) leads
// elsewhere, and its final path says so. Names compare by the program's upper-casing.
bool IsWhereAsked(HANDLE item, const std::wstring& asked) {
  std::wstring resolved;
  if (!FinalPath(item, resolved) || resolved.size() != asked.size()) return false;
  for (size_t i = 0; i < resolved.size(); ++i)
    if (UpcaseUnit(resolved[i]) != UpcaseUnit(asked[i])) return false;
  return true;
}

HANDLE PinFolder(const std::wstring& path, bool refuseReparsePoint) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (refuseReparsePoint ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE folder = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = ERROR_SUCCESS;
  if (!GetFileInformationByHandle(folder, &info))
    error = GetLastError();
  else if (refuseReparsePoint && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    error = ERROR_CANT_RESOLVE_FILENAME;
  else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    error = ERROR_DIRECTORY;
  else if (refuseReparsePoint && !IsWhereAsked(folder, path))
    error = ERROR_CANT_RESOLVE_FILENAME;
  if (error == ERROR_SUCCESS) return folder;
  CloseHandle(folder);
  SetLastError(error);
  return nullptr;
}

}  // namespace

HANDLE OpenFolderW(LPCWSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return PinFolder(path[0] != 0 ? std::wstring(path) : std::wstring(L"."), false);
}

HANDLE OpenFolderBeneath(HANDLE folder, LPCWSTR component, BOOL create) {
  std::wstring path;
  if (!ChildPath(folder, component, path)) return nullptr;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && create && !CreateDirectoryW(path.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS)
    return nullptr;
  return PinFolder(path, true);
}

HANDLE CreateFileBeneath(HANDLE folder, LPCWSTR component, DWORD access, DWORD share, DWORD disposition) {
  std::wstring path;
  if (!ChildPath(folder, component, path)) return INVALID_HANDLE_VALUE;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return INVALID_HANDLE_VALUE;
  }
  // A reparse point that appears after the test is opened as itself, never followed.
  HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    CloseHandle(file);
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

DWORD GetFileAttributesBeneath(HANDLE folder, LPCWSTR component) {
  std::wstring path;
  if (!ChildPath(folder, component, path)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(path.c_str());
}

BOOL MoveFileBeneath(HANDLE folder, LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::wstring source, target;
  if (!ChildPath(folder, from, source) || !ChildPath(folder, to, target)) return FALSE;
  return MoveFileExW(source.c_str(), target.c_str(), flags);
}

BOOL DeleteFileBeneath(HANDLE folder, LPCWSTR component) {
  std::wstring path;
  if (!ChildPath(folder, component, path)) return FALSE;
  return DeleteFileW(path.c_str());
}

HANDLE CreateUnnamedFileBeneath(HANDLE) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return INVALID_HANDLE_VALUE;
}

BOOL LinkFileBeneath(HANDLE, HANDLE, LPCWSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL ReplaceWithFileBeneath(HANDLE, HANDLE, LPCWSTR, LPCWSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
