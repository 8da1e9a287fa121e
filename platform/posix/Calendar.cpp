// File times as calendar dates: Win32's conversions over the C library's clock and time zone.
#include <ctime>

#include "platform/posix/PosixInternal.h"

namespace {

const int64_t kSecondsFrom1601To1970 = 11644473600ll;
const uint64_t kTicksPerSecond = 10000000ull;

uint64_t Ticks(const FILETIME* time) { return uint64_t(time->dwHighDateTime) << 32 | time->dwLowDateTime; }

}  // namespace

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t ticks = Ticks(lpFileTime);
  const time_t seconds = time_t(int64_t(ticks / kTicksPerSecond) - kSecondsFrom1601To1970);
  struct tm local;
  if (localtime_r(&seconds, &local) == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t shifted = int64_t(ticks) + int64_t(local.tm_gmtoff) * int64_t(kTicksPerSecond);
  if (shifted < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  lpLocalFileTime->dwLowDateTime = DWORD(uint64_t(shifted));
  lpLocalFileTime->dwHighDateTime = DWORD(uint64_t(shifted) >> 32);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr || (lpFileTime->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t ticks = Ticks(lpFileTime);
  const time_t seconds = time_t(int64_t(ticks / kTicksPerSecond) - kSecondsFrom1601To1970);
  struct tm date;
  if (gmtime_r(&seconds, &date) == nullptr || date.tm_year + 1900 > 30827) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  lpSystemTime->wYear = WORD(date.tm_year + 1900);
  lpSystemTime->wMonth = WORD(date.tm_mon + 1);
  lpSystemTime->wDayOfWeek = WORD(date.tm_wday);
  lpSystemTime->wDay = WORD(date.tm_mday);
  lpSystemTime->wHour = WORD(date.tm_hour);
  lpSystemTime->wMinute = WORD(date.tm_min);
  lpSystemTime->wSecond = WORD(date.tm_sec);
  lpSystemTime->wMilliseconds = WORD(ticks % kTicksPerSecond / 10000);
  return TRUE;
}
