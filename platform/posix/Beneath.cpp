// The calls below a folder handle over openat and its relatives: a folder handle holds a
// descriptor of the folder, every name is opened relative to it with O_NOFOLLOW, and a folder is
// entered with O_DIRECTORY | O_NOFOLLOW, so no component is ever resolved through a link, also
// one that appeared after an earlier check. A descriptor keeps naming its folder when the folder
// is renamed, so what was checked stays what is used.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Beneath.h"
#include "platform/posix/PosixInternal.h"

namespace {

int DescriptorOf(HANDLE folder) {
  const int* descriptor = static_cast<const int*>(LookupHandle(folder, HandleKindFolder));
  if (descriptor == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return descriptor != nullptr ? *descriptor : -1;
}

// The system form of one name component; false (ERROR_INVALID_NAME) for anything but one name.
bool ComponentToSystem(LPCWSTR component, std::string& name) {
  const WCHAR dot[] = {'.', 0}, dots[] = {'.', '.', 0};
  if (component == nullptr || component[0] == 0 || std::char_traits<WCHAR>::compare(component, dot, 2) == 0 ||
      std::char_traits<WCHAR>::compare(component, dots, 3) == 0) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  for (LPCWSTR p = component; *p != 0; ++p)
    if (*p == '\\' || *p == '/') {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
  return WideNameToSystem(component, name);
}

HANDLE FolderHandle(int descriptor) {
  int* object = new int(descriptor);
  return RegisterHandle(HandleKindFolder, object);
}

bool IsLink(int directory, const std::string& name) {
  struct stat st;
  return fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

HANDLE OpenFolderW(LPCWSTR path) {
  std::string name;
  if (path == nullptr || !WideNameToSystem(path, name)) return nullptr;
  if (name.empty()) name = ".";
  const int descriptor = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    const int e = errno;
    SetLastErrorWithErrno(e == ENOENT || e == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(e), e);
    return nullptr;
  }
  return FolderHandle(descriptor);
}

DWORD GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath, DWORD) {
  const int descriptor = DescriptorOf(hFile);
  if (descriptor < 0) return 0;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = readlink(link, &target[0], target.size());
    if (length < 0) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
    if (size_t(length) < target.size()) {
      target.resize(size_t(length));
      break;
    }
    target.resize(target.size() * 2);
  }
  const std::basic_string<WCHAR> path = SystemNameToWide(target.c_str());
  if (lpszFilePath == nullptr || cchFilePath < path.size() + 1) return DWORD(path.size() + 1);
  std::copy(path.begin(), path.end(), lpszFilePath);
  lpszFilePath[path.size()] = 0;
  return DWORD(path.size());
}

HANDLE OpenFolderBeneath(HANDLE folder, LPCWSTR component, BOOL create) {
  const int directory = DescriptorOf(folder);
  std::string name;
  if (directory < 0 || !ComponentToSystem(component, name)) return nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int descriptor = openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor >= 0) return FolderHandle(descriptor);
    const int e = errno;
    if (e == ELOOP || ((e == ENOTDIR) && IsLink(directory, name))) {
      SetLastErrorWithErrno(ERROR_CANT_RESOLVE_FILENAME, ELOOP);
      return nullptr;
    }
    if (e != ENOENT || !create) {
      SetLastErrorWithErrno(e == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(e), e);
      return nullptr;
    }
    // Made here, then opened like any other: what is entered is whatever the name holds now.
    if (mkdirat(directory, name.c_str(), 0777) != 0 && errno != EEXIST) {
      SetLastErrorFromErrno(errno);
      return nullptr;
    }
  }
  SetLastErrorWithErrno(ERROR_PATH_NOT_FOUND, ENOENT);
  return nullptr;
}

HANDLE CreateFileBeneath(HANDLE folder, LPCWSTR component, DWORD access, DWORD share, DWORD disposition) {
  const int directory = DescriptorOf(folder);
  std::string name;
  if (directory < 0 || !ComponentToSystem(component, name)) return INVALID_HANDLE_VALUE;
  return OpenSystemFile(directory, name, access, share, disposition, true);
}

DWORD GetFileAttributesBeneath(HANDLE folder, LPCWSTR component) {
  const int directory = DescriptorOf(folder);
  std::string name;
  if (directory < 0 || !ComponentToSystem(component, name)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  DWORD attributes = 0;
  if (!ItemAttributes(directory, name.c_str(), name.c_str(), st, attributes)) {
    SetLastErrorFromErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributes;
}

BOOL MoveFileBeneath(HANDLE folder, LPCWSTR from, LPCWSTR to, DWORD flags) {
  const int directory = DescriptorOf(folder);
  std::string source, target;
  if (directory < 0 || !ComponentToSystem(from, source) || !ComponentToSystem(to, target)) return FALSE;
  return MoveSystemFile(directory, source, target, flags);
}

BOOL DeleteFileBeneath(HANDLE folder, LPCWSTR component) {
  const int directory = DescriptorOf(folder);
  std::string name;
  if (directory < 0 || !ComponentToSystem(component, name)) return FALSE;
  return DeleteSystemFile(directory, name);
}

HANDLE CreateUnnamedFileBeneath(HANDLE folder) {
  const int directory = DescriptorOf(folder);
  if (directory < 0) return INVALID_HANDLE_VALUE;
  int fd;
  do fd = openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int e = errno;
    // Kernels and file systems without unnamed files answer with one of these.
    if (e == EOPNOTSUPP || e == EISDIR || e == EINVAL || e == ENOENT)
      SetLastErrorWithErrno(ERROR_NOT_SUPPORTED, e);
    else
      SetLastErrorFromErrno(e);
    return INVALID_HANDLE_VALUE;
  }
  // Nothing can open a file without a name, so no lock needs to keep others from deleting it.
  return AdoptSystemFile(fd, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, true);
}

namespace {

// Links the open file under the system name `name` of `directory`; errno on failure.
int LinkDescriptor(int fd, int directory, const std::string& name) {
  // Through /proc, which needs no privilege; AT_EMPTY_PATH where /proc is not mounted.
  char path[48];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  int result = linkat(AT_FDCWD, path, directory, name.c_str(), AT_SYMLINK_FOLLOW);
  if (result != 0 && errno == ENOENT) result = linkat(fd, "", directory, name.c_str(), AT_EMPTY_PATH);
  return result;
}

}  // namespace

BOOL LinkFileBeneath(HANDLE folder, HANDLE file, LPCWSTR component) {
  const int directory = DescriptorOf(folder);
  std::string name;
  if (directory < 0 || !ComponentToSystem(component, name)) return FALSE;
  const int fd = DescriptorOfFile(file);
  if (fd < 0) return FALSE;
  if (LinkDescriptor(fd, directory, name) != 0) {
    SetLastErrorOfNaming(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL ReplaceWithFileBeneath(HANDLE folder, HANDLE file, LPCWSTR component, LPCWSTR scratch) {
  const int directory = DescriptorOf(folder);
  std::string target, through;
  if (directory < 0 || !ComponentToSystem(component, target) || !ComponentToSystem(scratch, through)) return FALSE;
  const int fd = DescriptorOfFile(file);
  if (fd < 0) return FALSE;
  // Everything that may refuse the replace is asked first, so that the scratch name lives for
  // the two system calls of the link and the rename only.
  struct stat st;
  if (fstatat(directory, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
    SetLastErrorWithErrno(ERROR_ACCESS_DENIED, EISDIR);  // Windows never replaces a folder
    return FALSE;
  }
  if (HeldAgainstDelete(directory, target)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (LinkDescriptor(fd, directory, through) != 0) {
    SetLastErrorOfNaming(errno);
    return FALSE;
  }
  if (renameat(directory, through.c_str(), directory, target.c_str()) != 0) {
    const int e = errno;
    unlinkat(directory, through.c_str(), 0);
    SetLastErrorOfNaming(e);
    return FALSE;
  }
  return TRUE;
}
