// Shared internals of the POSIX stand-in for kernel32: the last error with the errno behind it,
// the handle table that files, searches and timers share, and the conversion of names and text
// between the program's code page 1251 and the system's UTF-8.
#pragma once
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include "platform/win32.h"

// ---- last error -------------------------------------------------------------------------------
DWORD Win32ErrorFromErrno(int errnoValue);
// Sets the last error to the Win32 code for errnoValue and keeps errnoValue, so that
// FormatMessageW can give the system's own text.
void SetLastErrorFromErrno(int errnoValue);
// Sets the last error to code with a chosen errno behind it (for a code whose nearest errno
// differs from the table's, e.g. ERROR_ALREADY_EXISTS with EEXIST).
void SetLastErrorWithErrno(DWORD code, int errnoValue);
// The last error of a call that gives an item a name (a rename, a link): an existing name is
// ERROR_ALREADY_EXISTS there, as Windows reports it.
void SetLastErrorOfNaming(int errnoValue);
// The errno behind the current last error, or 0 when the code was set without one.
int LastErrno();

// ---- handles ----------------------------------------------------------------------------------
enum THandleKind { HandleKindFile = 1, HandleKindSearch = 2, HandleKindTimer = 3, HandleKindFolder = 4 };
// Handle values are small multiples of 4 above 0x1000: never null, never INVALID_HANDLE_VALUE,
// never a valid pointer that another part of the layer might hand out.
HANDLE RegisterHandle(THandleKind kind, void* object);
void* LookupHandle(HANDLE handle, THandleKind kind);
// Removes the entry and returns its object when the kind matches; null otherwise.
void* UnregisterHandle(HANDLE handle, THandleKind kind);
THandleKind HandleKindOf(HANDLE handle);  // 0 when the handle is not open
void DestroyTimerObject(void* timer);      // Timers.cpp; called by CloseHandle

// ---- files (Files.cpp), shared with the calls that work below a folder handle (Beneath.cpp) ----
// `directory` is a descriptor of a folder or AT_FDCWD; names are system names relative to it.
// CreateFileA's open of a regular file; noFollow refuses a link as the last component.
HANDLE OpenSystemFile(int directory, const std::string& name, DWORD access, DWORD share, DWORD disposition,
                      bool noFollow);
// Registers an open descriptor of a regular file as a file handle with Win32's sharing rules;
// INVALID_HANDLE_VALUE (the descriptor closed) when it is no regular file or the sharing conflicts.
HANDLE AdoptSystemFile(int fd, DWORD access, DWORD share, bool unnamed = false);
// The descriptor behind a file handle, or -1 (ERROR_INVALID_HANDLE).
int DescriptorOfFile(HANDLE handle);
// True when a handle of this process, or a writer in another process, holds the named file open
// without FILE_SHARE_DELETE.
bool HeldAgainstDelete(int directory, const std::string& systemName);
// DeleteFileA and MoveFileExA (both names in the one folder) relative to a folder.
BOOL DeleteSystemFile(int directory, const std::string& name);
BOOL MoveSystemFile(int directory, const std::string& from, const std::string& to, DWORD flags);
// The attributes Windows reports for the item (a link: FILE_ATTRIBUTE_REPARSE_POINT beside what it
// points to); st receives what was found. False when it does not exist even as a link.
bool ItemAttributes(int directory, const char* entryName, const char* leafName, struct stat& st, DWORD& attributes);

// ---- code page 1251 and UTF-8 ------------------------------------------------------------------
// The system's code page 1251 (iconv's CP1251), built once: the UTF-16 unit for every byte, 0 for
// a byte the code page leaves undefined (byte 0 maps to 0 as well).
const char16_t* Cp1251ToUnicodeTable();
// The cp1251 byte for a code point, or -1 when code page 1251 has none.
int UnicodeToCp1251(uint32_t codePoint);

void AppendUtf8(std::string& out, uint32_t codePoint);
// Decodes one UTF-8 sequence at text[i] (length n); advances i. Returns the code point, or
// 0xFFFFFFFF for an ill-formed sequence (i then advances by one byte).
uint32_t DecodeUtf8(const char* text, size_t n, size_t& i);

// Program name (cp1251, '\') to a system name (UTF-8, '/'). A null name fails with
// ERROR_INVALID_PARAMETER (the one argument check of every call that takes a name). Fails with ERROR_INVALID_NAME for a
// byte that code page 1251 leaves undefined or for the wildcards '?' and '*', which no name the
// program may open holds: a listed name with '?' in place of a character that code page 1251
// cannot represent therefore fails instead of naming some other file.
bool NarrowNameToSystem(const char* name, std::string& out);
bool WideNameToSystem(const WCHAR* name, std::string& out);
// Whether a quit signal was caught (CatchQuitSignals): a read or write it interrupts then fails
// with ERROR_OPERATION_ABORTED instead of going on.
bool QuitSignalCaught();

// Decodes the character at text[i] (n units): a surrogate pair is one code point; a lone
// surrogate comes back as itself (0xD800 to 0xDFFF), for the caller to refuse or replace. Advances i.
uint32_t DecodeUtf16(const WCHAR* text, size_t n, size_t& i);

// UTF-8 to UTF-16 without loss: a byte that is not part of valid UTF-8 becomes the lone unit
// 0xDC00 + the byte.
std::basic_string<WCHAR> Utf8ToWide(const char* text, size_t n);
// System name to UTF-16 without loss, each "/" turned into "\": a byte that is not UTF-8, and a
// literal '\' of the system name, become the lone unit 0xDC00 + the byte, which WideNameToSystem
// refuses, so such a name is listed but never opens another file.
std::basic_string<WCHAR> SystemNameToWide(const char* name);
// System name back to cp1251, each "/" turned into "\". Each character that code page 1251 cannot represent, each
// ill-formed byte and each literal '\' of the system name becomes '?'.
std::string SystemNameToNarrow(const char* name);
