// Waitable timers: a due time on the monotonic clock, an optional period, and a signalled state
// that a wait observes (and, for a synchronisation timer, consumes). An absolute due time in
// Windows file time is turned into a monotonic deadline when the timer is set.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include "platform/posix/PosixInternal.h"

namespace {

typedef std::chrono::steady_clock TClock;

struct TTimer {
  std::mutex lock;
  std::condition_variable changed;
  bool manualReset;
  bool armed = false;
  bool signalled = false;
  TClock::time_point due;
  std::chrono::milliseconds period{0};
};

const int64_t fileTimeOf1970 = 116444736000000000LL;

// Brings the signalled state up to date with the clock.
void Advance(TTimer& timer, TClock::time_point now) {
  if (!timer.armed || now < timer.due) return;
  timer.signalled = true;
  if (timer.period.count() > 0) {
    while (timer.due <= now) timer.due += timer.period;
  } else {
    timer.armed = false;
  }
}

}  // namespace

void DestroyTimerObject(void* timer) { delete static_cast<TTimer*>(timer); }

HANDLE CreateWaitableTimerA(SECURITY_ATTRIBUTES* lpTimerAttributes, BOOL bManualReset, LPCSTR lpTimerName) {
  if (lpTimerName != nullptr) {  // named timers are shared between processes; not offered
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  TTimer* timer = new TTimer;
  timer->manualReset = bManualReset != FALSE;
  return RegisterHandle(HandleKindTimer, timer);
}

BOOL SetWaitableTimer(HANDLE hTimer, const LARGE_INTEGER* lpDueTime, LONG lPeriod,
                      PTIMERAPCROUTINE pfnCompletionRoutine, LPVOID lpArgToCompletionRoutine, BOOL fResume) {
  TTimer* timer = static_cast<TTimer*>(LookupHandle(hTimer, HandleKindTimer));
  if (timer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpDueTime == nullptr || lPeriod < 0 || pfnCompletionRoutine != nullptr) {
    SetLastError(lpDueTime == nullptr || lPeriod < 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  TClock::time_point now = TClock::now();
  int64_t due = lpDueTime->QuadPart;  // negative: relative, in 100 ns units; else absolute UTC
  std::chrono::nanoseconds wait;
  if (due < 0) {
    // 100 ns units to nanoseconds without overflow: capped at about 292 years.
    int64_t units = due == INT64_MIN ? INT64_MAX : -due;
    wait = units > INT64_MAX / 100 ? std::chrono::nanoseconds(INT64_MAX) : std::chrono::nanoseconds(units * 100);
  } else {
    int64_t nowFileTime = fileTimeOf1970 + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::system_clock::now().time_since_epoch()).count() / 100;
    int64_t units = due > nowFileTime ? due - nowFileTime : 0;
    wait = units > INT64_MAX / 100 ? std::chrono::nanoseconds(INT64_MAX) : std::chrono::nanoseconds(units * 100);
  }
  {
    std::lock_guard<std::mutex> guard(timer->lock);
    TClock::time_point limit = TClock::time_point::max();
    timer->due = (limit - now) < std::chrono::duration_cast<TClock::duration>(wait)
                     ? limit
                     : now + std::chrono::duration_cast<TClock::duration>(wait);
    timer->period = std::chrono::milliseconds(lPeriod);
    timer->armed = true;
    timer->signalled = false;  // setting a timer resets it, as on Windows
  }
  timer->changed.notify_all();
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CancelWaitableTimer(HANDLE hTimer) {
  TTimer* timer = static_cast<TTimer*>(LookupHandle(hTimer, HandleKindTimer));
  if (timer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(timer->lock);
  timer->armed = false;  // the signalled state stays as it is
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  TTimer* timer = static_cast<TTimer*>(LookupHandle(hHandle, HandleKindTimer));
  if (timer == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> guard(timer->lock);
  TClock::time_point start = TClock::now();
  TClock::time_point giveUp = dwMilliseconds == INFINITE ? TClock::time_point::max()
                                                         : start + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    TClock::time_point now = TClock::now();
    Advance(*timer, now);
    if (timer->signalled) {
      if (!timer->manualReset) timer->signalled = false;
      return WAIT_OBJECT_0;
    }
    if (now >= giveUp) return WAIT_TIMEOUT;
    TClock::time_point until = timer->armed && timer->due < giveUp ? timer->due : giveUp;
    if (until == TClock::time_point::max())
      timer->changed.wait(guard);
    else
      timer->changed.wait_until(guard, until);
  }
}
