// Files and folders over POSIX descriptors and directory streams.
//
// Names arrive as cp1251 with '\' and go to the system as UTF-8 with '/' (Names.cpp). A name that
// starts with a drive prefix such as "D:" has no meaning here: "D:" is kept as an ordinary name
// component relative to the current directory, never mapped to the root, so a stored name can
// never reach an absolute place it did not name in the system's own terms. A leading '\' is the
// root.
//
// Windows' share modes are kept among the handles of this process: an open is refused with
// ERROR_SHARING_VIOLATION when it would conflict with the access or the sharing of a handle
// already open on the same file (device and inode), and a delete or rename of a file open without
// FILE_SHARE_DELETE is refused the same way. Other processes are not consulted.
//
// A symbolic link is reported as Windows reports one: FILE_ATTRIBUTE_REPARSE_POINT beside the
// attributes of what it points to (none but the flag when it points nowhere).
//
// A handle that may write and does not share deletion also holds a shared flock on its file, and
// DeleteFileA refuses a file whose exclusive flock it cannot take: so, as on Windows, another
// process cannot delete a file while this one writes it without FILE_SHARE_DELETE.
//
// A folder is listed in the order NTFS gives, names compared by their upper-cased UTF-16 units.
//
// Only regular files open as files: a folder fails with ERROR_ACCESS_DENIED, as on Windows, and a
// device, pipe or socket fails the same way instead of blocking. Truncation (CREATE_ALWAYS,
// TRUNCATE_EXISTING) happens only after those checks, so a refused open leaves the file as it was.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "platform/Upcase.h"
#include "platform/posix/PosixInternal.h"

namespace {

struct TOpenFile {
  int descriptor;
  DWORD access;
  DWORD share;
  dev_t device;
  ino_t inode;
};

std::mutex& OpenFilesLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TOpenFile*>& OpenFiles() {
  static std::vector<TOpenFile*> files;
  return files;
}

const uint64_t secondsFrom1601To1970 = 11644473600ull;

uint64_t FileTimeFromTimespec(const struct timespec& t) {
  if (t.tv_sec < -static_cast<int64_t>(secondsFrom1601To1970)) return 0;
  return (static_cast<uint64_t>(t.tv_sec + static_cast<int64_t>(secondsFrom1601To1970))) * 10000000ull +
         static_cast<uint64_t>(t.tv_nsec) / 100;
}

struct timespec TimespecFromFileTime(uint64_t fileTime) {
  struct timespec t;
  t.tv_sec = static_cast<time_t>(static_cast<int64_t>(fileTime / 10000000ull) - static_cast<int64_t>(secondsFrom1601To1970));
  t.tv_nsec = static_cast<long>((fileTime % 10000000ull) * 100);
  return t;
}

void StoreFileTime(FILETIME* out, uint64_t value) {
  out->dwLowDateTime = static_cast<DWORD>(value);
  out->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

uint64_t LoadFileTime(const FILETIME* in) {
  return (static_cast<uint64_t>(in->dwHighDateTime) << 32) | in->dwLowDateTime;
}

// Attributes of an item as Windows reports them; st follows links, so a link to a folder is a
// folder. Hidden means a name that starts with a dot; read-only a file nobody may write to or
// that this process may not write to (asked of entryName below directory; without a name, from the
// mode alone); a device, a pipe or a socket has the device attribute.
DWORD AttributesOf(const struct stat& st, const char* leafName, int directory, const char* entryName) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  } else {
    if (!S_ISREG(st.st_mode)) attributes |= FILE_ATTRIBUTE_DEVICE;
    const bool writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                          (entryName == nullptr || faccessat(directory, entryName, W_OK, AT_EACCESS) == 0);
    if (!writable) attributes |= FILE_ATTRIBUTE_READONLY;
  }
  if (leafName[0] == '.' && std::strcmp(leafName, ".") != 0 && std::strcmp(leafName, "..") != 0)
    attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return attributes;
}

const char* LeafOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

// Attributes of the item named `entryName` in `directory`, for listings and GetFileAttributesA.
// False when it does not exist even as a link.
bool ItemAttributes(int directory, const char* entryName, const char* leafName, struct stat& st, DWORD& attributes) {
  struct stat own;
  if (fstatat(directory, entryName, &own, AT_SYMLINK_NOFOLLOW) != 0) return false;
  const bool link = S_ISLNK(own.st_mode);
  const bool resolves = !link || fstatat(directory, entryName, &st, 0) == 0;
  if (!link) st = own;
  if (resolves) {
    attributes = AttributesOf(st, leafName, directory, entryName);
  } else {
    st = own;
    attributes = 0;
  }
  if (link) attributes = (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_REPARSE_POINT;
  return true;
}

namespace {

bool SharingConflicts(const TOpenFile& open, DWORD access, DWORD share) {
  if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
  if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
  if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
  return false;
}

}  // namespace

bool HeldAgainstDelete(int directory, const std::string& systemName) {
  struct stat st;
  if (fstatat(directory, systemName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  {
    std::lock_guard<std::mutex> guard(OpenFilesLock());
    for (TOpenFile* open : OpenFiles())
      if (open->device == st.st_dev && open->inode == st.st_ino && !(open->share & FILE_SHARE_DELETE)) return true;
  }
  if (!S_ISREG(st.st_mode)) return false;
  const int fd = openat(directory, systemName.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

namespace {

TOpenFile* FileOf(HANDLE handle) {
  TOpenFile* file = static_cast<TOpenFile*>(LookupHandle(handle, HandleKindFile));
  if (file == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

}  // namespace

HANDLE AdoptSystemFile(int fd, DWORD access, DWORD share, bool unnamed) {
  // A file without a name is regular, and nothing else can have it open: no share mode can
  // conflict with it, so its identity is not asked for (one system call less a restored file),
  // and it takes no part in the share-mode checks.
  struct stat st = {};
  if (!unnamed) {
    const bool stated = fstat(fd, &st) == 0;
    if (!stated || !S_ISREG(st.st_mode)) {
      close(fd);
      SetLastErrorWithErrno(ERROR_ACCESS_DENIED, stated && S_ISDIR(st.st_mode) ? EISDIR : EACCES);
      return INVALID_HANDLE_VALUE;
    }
  }
  TOpenFile* file = new TOpenFile{fd, access & (GENERIC_READ | GENERIC_WRITE), share, st.st_dev, st.st_ino};
  {
    std::lock_guard<std::mutex> guard(OpenFilesLock());
    if (!unnamed)
      for (TOpenFile* open : OpenFiles())
        if (open->device == st.st_dev && open->inode == st.st_ino && SharingConflicts(*open, file->access, share)) {
          close(fd);
          delete file;
          SetLastError(ERROR_SHARING_VIOLATION);
          return INVALID_HANDLE_VALUE;
        }
    OpenFiles().push_back(file);
  }
  if ((access & GENERIC_WRITE) && !(share & FILE_SHARE_DELETE)) flock(fd, LOCK_SH | LOCK_NB);
  return RegisterHandle(HandleKindFile, file);
}

int DescriptorOfFile(HANDLE handle) {
  const TOpenFile* file = FileOf(handle);
  return file != nullptr ? file->descriptor : -1;
}

HANDLE OpenSystemFile(int directory, const std::string& name, DWORD access, DWORD share, DWORD disposition,
                      bool noFollow) {
  if (name.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (noFollow ? O_NOFOLLOW : 0);
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    flags |= O_RDWR;
  else if (access & GENERIC_WRITE)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!(access & GENERIC_WRITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      truncate = true;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  struct stat before;
  // CREATE_NEW fails on any existing name, so only the other dispositions need to know.
  const bool existed = disposition != CREATE_NEW &&
                       fstatat(directory, name.c_str(), &before, noFollow ? AT_SYMLINK_NOFOLLOW : 0) == 0;
  int fd;
  do fd = openat(directory, name.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int e = errno;
    if (e == ENOENT && disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING)
      SetLastErrorWithErrno(ERROR_PATH_NOT_FOUND, e);  // creating: only a missing folder gives ENOENT
    else if (e == ENOENT) {
      // Windows tells a missing file from a missing folder on the way.
      std::string parent = name.substr(0, name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/'));
      struct stat st;
      bool parentThere = parent.empty() || name.find_last_of('/') == 0 || fstatat(directory, parent.c_str(), &st, 0) == 0;
      SetLastErrorWithErrno(parentThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND, e);
    } else
      SetLastErrorFromErrno(e);
    return INVALID_HANDLE_VALUE;
  }
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);  // the status flags it was opened with, but blocking
  HANDLE handle = AdoptSystemFile(fd, access, share);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  struct stat st;
  if (truncate && fstat(fd, &st) == 0 && st.st_size != 0 && ftruncate(fd, 0) != 0) {
    int e = errno;
    CloseHandle(handle);
    SetLastErrorFromErrno(e);
    return INVALID_HANDLE_VALUE;
  }
  // Windows reports that an existing file was opened by CREATE_ALWAYS or OPEN_ALWAYS.
  if (existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
    SetLastError(ERROR_ALREADY_EXISTS);
  else
    SetLastError(ERROR_SUCCESS);
  return handle;
}

namespace {

struct TSearch {
  DIR* stream;
  std::string mask;    // cp1251 mask; "*" matches everything
  std::vector<std::string> names;  // the folder's system names in NTFS order, "." and ".." first
  size_t next;
};

// NTFS keeps a folder's names ordered by their UTF-16 units after upper-casing each unit.
std::u16string NtfsKey(const std::string& systemName) {
  std::u16string key;
  for (size_t i = 0; i < systemName.size();) {
    uint32_t c = DecodeUtf8(systemName.data(), systemName.size(), i);
    if (c == 0xFFFFFFFFu) c = 0xFFFD;
    if (c >= 0x10000) {
      key += char16_t(0xD800 + ((c - 0x10000) >> 10));
      key += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      key += char16_t(UpcaseUnit(WCHAR(c)));
    }
  }
  return key;
}

// Reads the whole folder and orders it as NTFS lists it, so that one tree is walked, and archived,
// in the same order here as on Windows. Names equal after upper-casing keep their byte order.
bool ReadFolderInNtfsOrder(TSearch& search) {
  std::vector<std::pair<std::u16string, std::string>> items;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(search.stream);
    if (entry == nullptr) {
      if (errno != 0) return false;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    items.emplace_back(NtfsKey(entry->d_name), entry->d_name);
  }
  std::sort(items.begin(), items.end());
  search.names = {".", ".."};
  for (auto& item : items) search.names.push_back(std::move(item.second));
  return true;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows' wildcards over cp1251 names: '*' any run, '?' one character, ASCII letters without
// regard to case; "*.*" matches every name, with or without a dot.
bool MatchesMask(const char* name, const char* mask) {
  if (std::strcmp(mask, "*") == 0 || std::strcmp(mask, "*.*") == 0) return true;
  if (*mask == 0) return *name == 0;
  if (*mask == '*') {
    for (const char* p = name;; ++p) {
      if (MatchesMask(p, mask + 1)) return true;
      if (*p == 0) return false;
    }
  }
  if (*name == 0) return false;
  if (*mask != '?' && LowerAscii(*mask) != LowerAscii(*name)) return false;
  return MatchesMask(name + 1, mask + 1);
}

// The listed name in the record's form: cp1251 ('?' for what it cannot spell) or UTF-16.
void SetFoundName(const char* entryName, const std::string& narrow, LPWIN32_FIND_DATAA data) {
  (void)entryName;
  // A system name is at most 255 bytes, so its cp1251 form always fits.
  const size_t length = narrow.size() < MAX_PATH - 1 ? narrow.size() : MAX_PATH - 1;
  std::memcpy(data->cFileName, narrow.data(), length);
}
void SetFoundName(const char* entryName, const std::string&, LPWIN32_FIND_DATAW data) {
  const std::basic_string<WCHAR> wide = SystemNameToWide(entryName);
  const size_t length = wide.size() < MAX_PATH - 1 ? wide.size() : MAX_PATH - 1;
  std::memcpy(data->cFileName, wide.data(), length * sizeof(WCHAR));
}

template <typename TFindData>
bool FillFindData(TSearch& search, const char* entryName, TFindData* data) {
  std::string narrow = SystemNameToNarrow(entryName);
  if (!MatchesMask(narrow.c_str(), search.mask.c_str())) return false;
  std::memset(data, 0, sizeof *data);
  int directory = dirfd(search.stream);
  struct stat st;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (!ItemAttributes(directory, entryName, entryName, st, attributes))
    std::memset(&st, 0, sizeof st);  // vanished meanwhile: still listed, opening it fails later
  data->dwFileAttributes = attributes;
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  StoreFileTime(&data->ftCreationTime, FileTimeFromTimespec(st.st_ctim));
  StoreFileTime(&data->ftLastAccessTime, FileTimeFromTimespec(st.st_atim));
  StoreFileTime(&data->ftLastWriteTime, FileTimeFromTimespec(st.st_mtim));
  SetFoundName(entryName, narrow, data);
  return true;
}

template <typename TFindData>
bool NextMatch(TSearch& search, TFindData* data) {
  while (search.next < search.names.size())
    if (FillFindData(search, search.names[search.next++].c_str(), data)) return true;
  SetLastError(ERROR_NO_MORE_FILES);
  return false;
}

// Opens the folder part of a search pattern (a system name) and starts the search.
template <typename TFindData>
HANDLE SearchFolder(const std::string& folderPart, const std::string& mask, TFindData* data) {
  std::string folder = folderPart.empty() ? std::string(".") : folderPart;
  DIR* stream = opendir(folder.c_str());
  if (stream == nullptr) {
    int e = errno;
    SetLastErrorWithErrno(e == ENOENT || e == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(e), e);
    return INVALID_HANDLE_VALUE;
  }
  TSearch* search = new TSearch{stream, mask, {}, 0};
  if (!ReadFolderInNtfsOrder(*search)) {
    const int e = errno;
    closedir(stream);
    delete search;
    SetLastErrorFromErrno(e);
    return INVALID_HANDLE_VALUE;
  }
  if (!NextMatch(*search, data)) {
    if (GetLastError() == ERROR_NO_MORE_FILES) SetLastError(ERROR_FILE_NOT_FOUND);
    closedir(stream);
    delete search;
    return INVALID_HANDLE_VALUE;
  }
  return RegisterHandle(HandleKindSearch, search);
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  std::string name;
  if (!NarrowNameToSystem(lpFileName, name)) return INVALID_HANDLE_VALUE;
  return OpenSystemFile(AT_FDCWD, name, dwDesiredAccess, dwShareMode, dwCreationDisposition, false);
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  std::string name;
  if (!WideNameToSystem(lpFileName, name)) return INVALID_HANDLE_VALUE;
  return OpenSystemFile(AT_FDCWD, name, dwDesiredAccess, dwShareMode, dwCreationDisposition, false);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  TOpenFile* file = FileOf(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD done = 0;
  char* out = static_cast<char*>(lpBuffer);
  while (done < nNumberOfBytesToRead) {
    ssize_t got = read(file->descriptor, out + done, nNumberOfBytesToRead - done);
    if (got < 0 && errno == EINTR && !QuitSignalCaught()) continue;
    if (got < 0 && errno == EINTR) errno = ECANCELED;
    if (got < 0) {
      SetLastErrorFromErrno(errno);
      if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
      return FALSE;
    }
    if (got == 0) break;  // end of file: success with fewer bytes, as Windows reads
    done += static_cast<DWORD>(got);
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  TOpenFile* file = FileOf(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD done = 0;
  const char* in = static_cast<const char*>(lpBuffer);
  while (done < nNumberOfBytesToWrite) {
    ssize_t put = write(file->descriptor, in + done, nNumberOfBytesToWrite - done);
    if (put < 0 && errno == EINTR && !QuitSignalCaught()) continue;
    if (put < 0 && errno == EINTR) errno = ECANCELED;
    if (put <= 0) {
      // A write that stops short is a full disk; Windows reports it as ERROR_DISK_FULL.
      int e = put < 0 ? errno : ENOSPC;
      if (e == ENOSPC || e == EDQUOT)
        SetLastErrorWithErrno(ERROR_DISK_FULL, e);
      else
        SetLastErrorFromErrno(e);
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(put);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  TOpenFile* file = FileOf(hFile);
  if (file == nullptr) return INVALID_SET_FILE_POINTER;
  int64_t distance = lpDistanceToMoveHigh
                         ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                                static_cast<uint32_t>(lDistanceToMove))
                         : static_cast<int64_t>(lDistanceToMove);
  int64_t base;
  if (dwMoveMethod == FILE_BEGIN) {
    base = 0;
  } else if (dwMoveMethod == FILE_CURRENT) {
    base = lseek(file->descriptor, 0, SEEK_CUR);
  } else if (dwMoveMethod == FILE_END) {
    struct stat st;
    base = fstat(file->descriptor, &st) == 0 ? st.st_size : -1;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if ((distance < 0 && base + distance < 0) || (distance > 0 && base > INT64_MAX - distance)) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = base + distance;
  if (lpDistanceToMoveHigh == nullptr && target > 0xFFFFFFFELL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->descriptor, target, SEEK_SET) < 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  DWORD low = static_cast<DWORD>(target);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL SetEndOfFile(HANDLE hFile) {
  TOpenFile* file = FileOf(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t position = lseek(file->descriptor, 0, SEEK_CUR);
  if (position < 0 || ftruncate(file->descriptor, position) != 0) {
    int e = errno;
    if (e == EFBIG || e == ENOSPC)
      SetLastErrorWithErrno(ERROR_DISK_FULL, e);
    else
      SetLastErrorFromErrno(e);
    return FALSE;
  }
  return TRUE;
}

namespace {
// The status of an open file; false (the last error set) for a handle that is none or a failure.
bool StatOfHandle(HANDLE handle, struct stat& st) {
  const TOpenFile* file = FileOf(handle);
  if (file == nullptr) return false;
  if (fstat(file->descriptor, &st) == 0) return true;
  SetLastErrorFromErrno(errno);
  return false;
}
}  // namespace

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  struct stat st;
  if (!StatOfHandle(hFile, st)) return INVALID_FILE_SIZE;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  DWORD low = static_cast<DWORD>(size);
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime) {
  struct stat st;
  if (!StatOfHandle(hFile, st)) return FALSE;
  // The inode change time stands in for the creation time, which POSIX does not keep.
  if (lpCreationTime) StoreFileTime(lpCreationTime, FileTimeFromTimespec(st.st_ctim));
  if (lpLastAccessTime) StoreFileTime(lpLastAccessTime, FileTimeFromTimespec(st.st_atim));
  if (lpLastWriteTime) StoreFileTime(lpLastWriteTime, FileTimeFromTimespec(st.st_mtim));
  return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
  TOpenFile* file = FileOf(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // As on Windows, a null time, a zero time and the all-ones time leave that time unchanged. The
  // creation time cannot be set on POSIX and is ignored.
  struct timespec times[2];
  const FILETIME* given[2] = {lpLastAccessTime, lpLastWriteTime};
  for (int k = 0; k < 2; ++k) {
    uint64_t value = given[k] ? LoadFileTime(given[k]) : 0;
    if (value == 0 || value == UINT64_MAX) {
      times[k].tv_sec = 0;
      times[k].tv_nsec = UTIME_OMIT;
    } else {
      times[k] = TimespecFromFileTime(value);
    }
  }
  if (futimens(file->descriptor, times) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

HANDLE ReOpenFile(HANDLE hOriginalFile, DWORD dwDesiredAccess, DWORD dwShareMode, DWORD) {
  const TOpenFile* original = FileOf(hOriginalFile);
  if (original == nullptr) return INVALID_HANDLE_VALUE;
  // Through /proc, which opens the file itself (a file without a name too) afresh from its file
  // system, not a copy of the descriptor.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", original->descriptor);
  const int flags = (dwDesiredAccess & GENERIC_WRITE) ? ((dwDesiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  int fd;
  do fd = open(path, flags | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  return AdoptSystemFile(fd, dwDesiredAccess, dwShareMode);
}

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION info) {
  struct stat st;
  // A folder handle (platform/Beneath.h) answers too, as one opened with backup semantics does.
  if (const int* folder = static_cast<const int*>(LookupHandle(hFile, HandleKindFolder))) {
    if (fstat(*folder, &st) != 0) {
      SetLastErrorFromErrno(errno);
      return FALSE;
    }
  } else if (!StatOfHandle(hFile, st)) {
    return FALSE;
  }
  std::memset(info, 0, sizeof *info);
  info->dwFileAttributes = AttributesOf(st, "", AT_FDCWD, nullptr);
  StoreFileTime(&info->ftCreationTime, FileTimeFromTimespec(st.st_ctim));
  StoreFileTime(&info->ftLastAccessTime, FileTimeFromTimespec(st.st_atim));
  StoreFileTime(&info->ftLastWriteTime, FileTimeFromTimespec(st.st_mtim));
  // The volume serial folds the device number; with the inode as the file index, two handles
  // name the same file exactly when all three fields agree.
  uint64_t device = static_cast<uint64_t>(st.st_dev);
  info->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
  uint64_t size = static_cast<uint64_t>(st.st_size);
  info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info->nFileSizeLow = static_cast<DWORD>(size);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  uint64_t inode = static_cast<uint64_t>(st.st_ino);
  info->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
  info->nFileIndexLow = static_cast<DWORD>(inode);
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
  TOpenFile* file = FileOf(hFile);
  if (file == nullptr) return FALSE;
  if (fsync(file->descriptor) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteSystemFile(int directory, const std::string& name) {
  if (HeldAgainstDelete(directory, name)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (unlinkat(directory, name.c_str(), 0) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

namespace {

// Where a file system has neither RENAME_NOREPLACE nor hard links (FAT and exFAT through FUSE), a
// name is never checked and then taken: it is first reserved with an exclusive create, which fails
// when anything has the name, and only that empty placeholder, which this call made, is renamed
// over. A failed rename removes the placeholder again.
int RenameOverPlaceholder(int directory, const std::string& from, const std::string& to) {
  int placeholder;
  do placeholder = openat(directory, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  while (placeholder < 0 && errno == EINTR);
  if (placeholder < 0) return -1;  // EEXIST: the name is taken
  close(placeholder);
  if (renameat(directory, from.c_str(), directory, to.c_str()) == 0) return 0;
  const int e = errno;
  unlinkat(directory, to.c_str(), 0);
  errno = e;
  return -1;
}

}  // namespace

BOOL MoveSystemFile(int directory, const std::string& from, const std::string& to, DWORD flags) {
  const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  struct stat target;
  const bool targetThere = fstatat(directory, to.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0;
  if (HeldAgainstDelete(directory, from) || (replace && targetThere && HeldAgainstDelete(directory, to))) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (targetThere && !replace) {
    SetLastErrorWithErrno(ERROR_ALREADY_EXISTS, EEXIST);
    return FALSE;
  }
  if (targetThere && S_ISDIR(target.st_mode)) {  // Windows never replaces a folder
    SetLastErrorWithErrno(ERROR_ACCESS_DENIED, EISDIR);
    return FALSE;
  }
  // Without MOVEFILE_REPLACE_EXISTING a target appearing between the test and the rename is
  // still not replaced.
  int result = replace ? renameat(directory, from.c_str(), directory, to.c_str())
                       : renameat2(directory, from.c_str(), directory, to.c_str(), RENAME_NOREPLACE);
  if (result != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    // The file system cannot refuse replacement itself: a hard link fails on an existing target.
    if (linkat(directory, from.c_str(), directory, to.c_str(), 0) == 0) {
      result = unlinkat(directory, from.c_str(), 0);
    } else if (errno != EEXIST) {
      result = RenameOverPlaceholder(directory, from, to);
    }
  }
  if (result != 0) {
    SetLastErrorOfNaming(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  std::string name;
  if (!NarrowNameToSystem(lpFileName, name)) return FALSE;
  return DeleteSystemFile(AT_FDCWD, name);
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  std::string from, to;
  if (!NarrowNameToSystem(lpExistingFileName, from) || !NarrowNameToSystem(lpNewFileName, to)) return FALSE;
  return MoveSystemFile(AT_FDCWD, from, to, dwFlags);
}

namespace {

DWORD SystemFileAttributes(const std::string& name) {
  if (name.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string trimmed = name;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  struct stat st;
  DWORD attributes = 0;
  if (!ItemAttributes(AT_FDCWD, trimmed.c_str(), LeafOf(trimmed), st, attributes)) {
    SetLastErrorFromErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributes;
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  std::string name;
  if (!NarrowNameToSystem(lpFileName, name)) return INVALID_FILE_ATTRIBUTES;
  return SystemFileAttributes(name);
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  std::string name;
  if (!WideNameToSystem(lpFileName, name)) return INVALID_FILE_ATTRIBUTES;
  return SystemFileAttributes(name);
}

namespace {

// Closing one kind of handle each; the table of open files loses the file first.
BOOL CloseOpenFile(TOpenFile* file) {
  {
    std::lock_guard<std::mutex> guard(OpenFilesLock());
    std::vector<TOpenFile*>& files = OpenFiles();
    for (size_t k = 0; k < files.size(); ++k)
      if (files[k] == file) {
        files.erase(files.begin() + static_cast<std::ptrdiff_t>(k));
        break;
      }
  }
  const int result = close(file->descriptor);
  const int e = errno;
  delete file;
  if (result == 0 || e == EINTR) return TRUE;
  // A delayed write error (a full disk on a network file system) surfaces here.
  if (e == ENOSPC || e == EDQUOT)
    SetLastErrorWithErrno(ERROR_DISK_FULL, e);
  else
    SetLastErrorFromErrno(e);
  return FALSE;
}

BOOL CloseFolder(int* descriptor) {
  close(*descriptor);
  delete descriptor;
  return TRUE;
}

BOOL CloseTimer(void* timer) {
  DestroyTimerObject(timer);
  return TRUE;
}

}  // namespace

BOOL CloseHandle(HANDLE hObject) {
  const THandleKind kind = HandleKindOf(hObject);
  // A search is closed with FindClose, as on Windows.
  if (kind == HandleKindFile || kind == HandleKindFolder || kind == HandleKindTimer) {
    if (void* object = UnregisterHandle(hObject, kind)) {
      if (kind == HandleKindFile) return CloseOpenFile(static_cast<TOpenFile*>(object));
      if (kind == HandleKindFolder) return CloseFolder(static_cast<int*>(object));
      return CloseTimer(object);
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

namespace {

// Splits a search pattern (program form, '\' between folders) at its last backslash into the
// folder, as a system name, and the mask, as cp1251 text for the matcher.
template <typename TChar>
bool SplitPattern(const TChar* pattern, std::string& folder, std::string& mask) {
  const std::basic_string<TChar> text(pattern);
  const size_t cut = text.find_last_of(TChar('\\'));
  const std::basic_string<TChar> folderPart = cut == text.npos ? std::basic_string<TChar>() : text.substr(0, cut + 1);
  const std::basic_string<TChar> maskPart = cut == text.npos ? text : text.substr(cut + 1);
  if (maskPart.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  std::string maskSystem;
  if constexpr (sizeof(TChar) == 1) {
    mask = maskPart;
    return NarrowNameToSystem(folderPart.c_str(), folder);
  } else {
    // The mask is matched against the cp1251 form of the names ('?' where it cannot spell them).
    mask.clear();
    for (TChar unit : maskPart) {
      const int b = unit == '*' || unit == '?' ? int(unit) : UnicodeToCp1251(unit);
      mask.push_back(b < 0 ? '?' : char(b));
    }
    return WideNameToSystem(folderPart.c_str(), folder);
  }
}

template <typename TChar, typename TFindData>
HANDLE FindFirst(const TChar* pattern, TFindData* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string folder, mask;
  if (!SplitPattern(pattern, folder, mask)) return INVALID_HANDLE_VALUE;
  return SearchFolder(folder, mask, data);
}

template <typename TFindData>
BOOL FindNext(HANDLE handle, TFindData* data) {
  TSearch* search = static_cast<TSearch*>(LookupHandle(handle, HandleKindSearch));
  if (search == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return NextMatch(*search, data) ? TRUE : FALSE;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) { return FindFirst(lpFileName, lpFindFileData); }
HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) { return FindFirst(lpFileName, lpFindFileData); }
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) { return FindNext(hFindFile, lpFindFileData); }
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) { return FindNext(hFindFile, lpFindFileData); }

BOOL FindClose(HANDLE hFindFile) {
  TSearch* search = static_cast<TSearch*>(UnregisterHandle(hFindFile, HandleKindSearch));
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  closedir(search->stream);
  delete search;
  return TRUE;
}

namespace {

BOOL MakeFolder(const std::string& name) {
  if (name.empty()) {
    SetLastErrorWithErrno(ERROR_PATH_NOT_FOUND, ENOENT);
    return FALSE;
  }
  if (mkdir(name.c_str(), 0777) != 0) {
    int e = errno;
    if (e == EEXIST)
      SetLastErrorWithErrno(ERROR_ALREADY_EXISTS, e);
    else if (e == ENOENT)
      SetLastErrorWithErrno(ERROR_PATH_NOT_FOUND, e);
    else
      SetLastErrorFromErrno(e);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  std::string name;
  return NarrowNameToSystem(lpPathName, name) ? MakeFolder(name) : FALSE;
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  std::string name;
  return WideNameToSystem(lpPathName, name) ? MakeFolder(name) : FALSE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  std::string name;
  if (!NarrowNameToSystem(lpPathName, name)) return FALSE;
  if (rmdir(name.c_str()) != 0) {
    int e = errno;
    SetLastErrorWithErrno(e == ENOTDIR ? ERROR_DIRECTORY : Win32ErrorFromErrno(e), e);
    return FALSE;
  }
  return TRUE;
}

namespace {

std::string SystemCurrentDirectory() {
  std::vector<char> system(4096);
  while (getcwd(system.data(), system.size()) == nullptr) {
    if (errno != ERANGE) {
      SetLastErrorFromErrno(errno);
      return std::string();
    }
    system.resize(system.size() * 2);
  }
  return system.data();
}

// Windows' convention: the length without the terminator on success, the size the buffer needs,
// terminator included, when it is too small.
template <typename TChar>
DWORD GiveText(const std::basic_string<TChar>& text, DWORD capacity, TChar* buffer) {
  if (buffer == nullptr || capacity < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(TChar));
  return static_cast<DWORD>(text.size());
}

BOOL EnterFolder(const std::string& name) {
  if (name.empty()) {
    SetLastErrorWithErrno(ERROR_PATH_NOT_FOUND, ENOENT);
    return FALSE;
  }
  if (chdir(name.c_str()) != 0) {
    int e = errno;
    SetLastErrorWithErrno(e == ENOTDIR ? ERROR_DIRECTORY : e == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(e), e);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::string system = SystemCurrentDirectory();
  if (system.empty()) return 0;
  return GiveText(SystemNameToNarrow(system.c_str()), nBufferLength, lpBuffer);
}

DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const std::string system = SystemCurrentDirectory();
  if (system.empty()) return 0;
  return GiveText(SystemNameToWide(system.c_str()), nBufferLength, lpBuffer);
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
  std::string name;
  if (!NarrowNameToSystem(lpPathName, name)) return FALSE;
  return EnterFolder(name);
}

BOOL SetCurrentDirectoryW(LPCWSTR lpPathName) {
  std::string name;
  if (!WideNameToSystem(lpPathName, name)) return FALSE;
  return EnterFolder(name);
}
