// The thread's last error and its text.
//
// Every failing call of the layer records a Win32 error code and, when the failure came from the
// system, the errno behind it. FormatMessageW then gives the system's own reason (strerror under
// the user's LC_MESSAGES, so in the user's language where the system has a translation) rather
// than a text of ours; codes without an errno get the errno that the table pairs with them, and
// the few Win32-only codes have short texts of their own.
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <mutex>
#include <string>
#include "platform/posix/PosixInternal.h"

namespace {

thread_local DWORD threadLastError = ERROR_SUCCESS;
thread_local int threadLastErrno = 0;

struct TErrnoMapping {
  int errnoValue;
  DWORD code;
};

// First match wins in both directions: the errno for a code is the first row that names it.
const TErrnoMapping errnoMappings[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {EIO, ERROR_GEN_FAILURE},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {EEXIST, ERROR_FILE_EXISTS},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {ERANGE, ERROR_INSUFFICIENT_BUFFER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_BUSY},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EILSEQ, ERROR_NO_UNICODE_TRANSLATION},
    {ECANCELED, ERROR_OPERATION_ABORTED},
};

struct TOwnText {
  DWORD code;
  const char* text;
};

// Win32 codes that no errno describes.
const TOwnText ownTexts[] = {
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_NEGATIVE_SEEK, "An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_CLASS_ALREADY_EXISTS, "Class already exists."},
    {ERROR_CLASS_DOES_NOT_EXIST, "Class does not exist."},
    // Set for a name holding bytes that are not UTF-8 (shown as \xNN), which no system name spells.
    {ERROR_NO_UNICODE_TRANSLATION, "The name is not valid UTF-8 (its bytes are shown as \\xNN)."},
};

// The user's message locale, from the environment (LC_ALL, LC_MESSAGES, LANG), with its
// character set; the C locale when the environment names none that is installed.
locale_t MessageLocale() {
  static locale_t locale = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    locale = newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  });
  return locale;
}

// Converts text of the given character set to UTF-16 code units; false when iconv cannot.
bool ToUtf16(const char* text, const char* charset, std::u16string& out) {
  iconv_t cd = iconv_open("UTF-16LE", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  size_t inLeft = std::strlen(text);
  std::string buffer(inLeft * 4 + 8, '\0');
  char* in = const_cast<char*>(text);
  char* outPtr = &buffer[0];
  size_t outLeft = buffer.size();
  size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1)) return false;
  size_t bytes = buffer.size() - outLeft;
  out.clear();
  for (size_t i = 0; i + 1 < bytes; i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(buffer[i]) | (static_cast<uint8_t>(buffer[i + 1]) << 8)));
  return true;
}

bool SystemText(DWORD code, std::u16string& out) {
  int errnoValue = -1;
  if (code == threadLastError && threadLastErrno != 0) errnoValue = threadLastErrno;
  if (errnoValue < 0) {
    for (const TOwnText& own : ownTexts)
      if (own.code == code) {
        out.clear();
        for (const char* p = own.text; *p; ++p) out.push_back(static_cast<char16_t>(*p));
        return true;
      }
    for (const TErrnoMapping& mapping : errnoMappings)
      if (mapping.code == code) {
        errnoValue = mapping.errnoValue;
        break;
      }
  }
  if (errnoValue < 0) return false;
  locale_t locale = MessageLocale();
  const char* text = strerror_l(errnoValue, locale);
  const char* charset = nl_langinfo_l(CODESET, locale);
  if (text == nullptr) return false;
  if (!ToUtf16(text, charset != nullptr && *charset ? charset : "ASCII", out) && !ToUtf16(text, "UTF-8", out))
    return false;
  return !out.empty();
}

}  // namespace

DWORD GetLastError() { return threadLastError; }

void SetLastError(DWORD error) {
  threadLastError = error;
  threadLastErrno = 0;
}

DWORD Win32ErrorFromErrno(int errnoValue) {
  for (const TErrnoMapping& mapping : errnoMappings)
    if (mapping.errnoValue == errnoValue) return mapping.code;
  return ERROR_GEN_FAILURE;
}

void SetLastErrorFromErrno(int errnoValue) { SetLastErrorWithErrno(Win32ErrorFromErrno(errnoValue), errnoValue); }

void SetLastErrorWithErrno(DWORD code, int errnoValue) {
  threadLastError = code;
  threadLastErrno = errnoValue;
}

int LastErrno() { return threadLastErrno; }

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  int savedErrno = threadLastErrno;
  DWORD savedError = threadLastError;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text;
  if (!SystemText(dwMessageId, text)) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // Windows' system texts end in a sentence and CR LF.
  text.push_back(u'\r');
  text.push_back(u'\n');
  DWORD length = static_cast<DWORD>(text.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    WCHAR* buffer = static_cast<WCHAR*>(std::malloc((length + 1 < nSize ? nSize : length + 1) * sizeof(WCHAR)));
    if (buffer == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(buffer, text.data(), length * sizeof(WCHAR));
    buffer[length] = 0;
    *reinterpret_cast<WCHAR**>(lpBuffer) = buffer;
  } else {
    if (nSize < length + 1) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(lpBuffer, text.data(), length * sizeof(WCHAR));
    lpBuffer[length] = 0;
  }
  threadLastError = savedError;
  threadLastErrno = savedErrno;
  return length;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

void SetLastErrorOfNaming(int errnoValue) {
  if (errnoValue == EEXIST)
    SetLastErrorWithErrno(ERROR_ALREADY_EXISTS, errnoValue);
  else
    SetLastErrorFromErrno(errnoValue);
}
