// Names reached one component at a time from a folder handle, never through a link.
//
// A restore opens its target folder once (OpenFolderW follows links there: the user named that
// folder) and reaches every name below it from that handle: each component is opened relative to
// the handle of the folder above it, and a component that is a symbolic link or another reparse
// point is refused with ERROR_CANT_RESOLVE_FILENAME, also when it became one during the run. A
// handle keeps meaning the folder it was opened on, whatever is renamed meanwhile (on Windows it
// is opened without FILE_SHARE_DELETE, so the folder cannot be renamed, removed or replaced while
// it is open). A component is one name in UTF-16, exactly as it is to be on disk: empty, ".", ".."
// and names holding '\' or '/' (or an unpaired surrogate) are refused with ERROR_INVALID_NAME.
// Folder handles are closed with CloseHandle.
//
// Failures are reported the Win32 way: a null or INVALID_HANDLE_VALUE handle, FALSE or
// INVALID_FILE_ATTRIBUTES, and the thread's last error.
#pragma once
#include "platform/win32.h"

// The folder at path (relative to the current directory, or absolute), following links.
HANDLE OpenFolderW(LPCWSTR path);
#ifndef _WIN32
// The folder handle's absolute path, links resolved, with Win32's buffer rules: the length without
// the terminator, or the size needed with it when the buffer is too small. The flags are ignored.
DWORD GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags);
#define FILE_NAME_NORMALIZED 0x0u
#define VOLUME_NAME_DOS 0x0u
#endif
// The folder `component` in `folder`, made first when it does not exist and create is TRUE.
HANDLE OpenFolderBeneath(HANDLE folder, LPCWSTR component, BOOL create);
// CreateFileA for the file `component` in `folder`; a link there is refused, not followed, and
// only a regular file opens.
HANDLE CreateFileBeneath(HANDLE folder, LPCWSTR component, DWORD access, DWORD share, DWORD disposition);
// The attributes of the item itself: a link gives FILE_ATTRIBUTE_REPARSE_POINT.
DWORD GetFileAttributesBeneath(HANDLE folder, LPCWSTR component);
// MoveFileExA within one folder; a folder is never replaced, and neither is a file that a handle
// holds without FILE_SHARE_DELETE.
BOOL MoveFileBeneath(HANDLE folder, LPCWSTR from, LPCWSTR to, DWORD flags);
BOOL DeleteFileBeneath(HANDLE folder, LPCWSTR component);
// A new regular file in `folder`, open for writing, that has no name at all: nothing else can
// take it for one of its own and it vanishes with its handle, also when the process is killed.
// ERROR_NOT_SUPPORTED where the system or the file system has no such files (Windows).
HANDLE CreateUnnamedFileBeneath(HANDLE folder);
// Gives an open file made by CreateUnnamedFileBeneath the name `component` in `folder`; an item
// of that name is never replaced (ERROR_ALREADY_EXISTS).
BOOL LinkFileBeneath(HANDLE folder, HANDLE file, LPCWSTR component);
// The same in place of the regular file `component` (never a folder, nor a file a handle holds
// without FILE_SHARE_DELETE): the file is linked under the new name `scratch` (ERROR_ALREADY_EXISTS
// when taken) and renamed over `component` at once, every check made before, so that a process
// killed meanwhile can leave `scratch` behind only between those two system calls.
BOOL ReplaceWithFileBeneath(HANDLE folder, HANDLE file, LPCWSTR component, LPCWSTR scratch);
