// The thread's message queue with Win32's retrieval rules.
//
// Messages come out in this order, as on Win32: posted messages (including the input the displays
// turn into messages) in arrival order; then, once the queue holds nothing that matches, the quit
// state set by PostQuitMessage; then a WM_PAINT for a visible window that needs painting; then a
// WM_TIMER for a timer that is due. A window filter restricts retrieval to that window's messages,
// so thread messages (hwnd null: WM_QUIT, thread timers) stay queued under a loop filtered to one
// window; the filter value -1 selects thread messages only. A filter naming a window that no longer
// exists yields message number 0 for it, which loops take as "the window is gone".
//
// A timer's WM_TIMER is not queued: the timer is marked due, and retrieval makes the message. When
// it is removed the timer starts its next period; dispatching it runs the callback, and removing
// it without dispatching simply drops that tick.
#include "platform/posix/WindowSystem.h"

#include <poll.h>
#include <signal.h>
#include <time.h>

#include <deque>
#include <vector>

namespace {

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC callback;
  uint64_t due;
};

std::deque<MSG> queue;
std::vector<Timer> timers;
bool quitPosted = false;
int quitCode = 0;
UINT_PTR nextTimerId = 1;
uint64_t clockOffset = 0;

volatile sig_atomic_t quitRequested = 0;
uint64_t quitRequestNumber = 0;  // counts handled requests, so each filtered window escapes once
bool quitRequestPending = false;

uint64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint64_t Now() { return MonotonicMilliseconds() + clockOffset; }

bool MatchesWindow(HWND message, HWND filter) {
  if (filter == nullptr) return true;
  if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) return message == nullptr;
  return message == filter;
}

bool MatchesRange(UINT message, UINT low, UINT high) {
  if (low == 0 && high == 0) return true;
  return message >= low && message <= high;
}

void TakeQuitRequest() {
  if (!quitRequested) return;
  quitRequested = 0;
  if (!quitRequestPending) {
    quitRequestPending = true;
    ++quitRequestNumber;
  }
}

// A quit request while a loop waits on one window: that window receives Escape once.
void EscapeFilteredWindow(HWND filter) {
  if (!quitRequestPending || filter == nullptr || filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) return;
  posixwin::WindowRecord* record = posixwin::FindWindowRecord(filter);
  if (record == nullptr || record->escapedQuitRequest == quitRequestNumber) return;
  record->escapedQuitRequest = quitRequestNumber;
  posixwin::PostInput(filter, WM_KEYDOWN, VK_ESCAPE, 1);
  posixwin::PostInput(filter, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0000001u));
}

struct PaintSearch {
  HWND filter;
  HWND found;
};

void FindPaint(posixwin::WindowRecord* record, void* context) {
  PaintSearch* search = static_cast<PaintSearch*>(context);
  if (search->found != nullptr || !record->visible || !record->needsPaint || record->destroying) return;
  HWND handle = posixwin::HandleOf(record);
  if (MatchesWindow(handle, search->filter)) search->found = handle;
}

void Fill(LPMSG out, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  out->hwnd = window;
  out->message = message;
  out->wParam = wParam;
  out->lParam = lParam;
  out->time = static_cast<DWORD>(Now());
  out->pt.x = 0;
  out->pt.y = 0;
}

// One retrieval attempt without waiting.
bool Retrieve(LPMSG out, HWND filter, UINT low, UINT high, bool remove) {
  TakeQuitRequest();
  if (filter != nullptr && filter != reinterpret_cast<HWND>(static_cast<intptr_t>(-1)) &&
      posixwin::FindWindowRecord(filter) == nullptr) {
    Fill(out, filter, WM_NULL, 0, 0);
    return true;
  }
  EscapeFilteredWindow(filter);
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (MatchesWindow(it->hwnd, filter) && MatchesRange(it->message, low, high)) {
      *out = *it;
      if (remove) queue.erase(it);
      return true;
    }
  }
  bool threadMessages = filter == nullptr || filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
  if (threadMessages && quitRequestPending && MatchesRange(WM_QUIT, low, high)) {
    Fill(out, nullptr, WM_QUIT, 130, 0);
    if (remove) quitRequestPending = false;
    return true;
  }
  if (threadMessages && quitPosted && MatchesRange(WM_QUIT, low, high)) {
    Fill(out, nullptr, WM_QUIT, static_cast<WPARAM>(quitCode), 0);
    if (remove) quitPosted = false;
    return true;
  }
  if (MatchesRange(WM_PAINT, low, high)) {
    PaintSearch search{filter, nullptr};
    posixwin::ForEachWindow(FindPaint, &search);
    if (search.found != nullptr) {
      // WM_PAINT stays until the window is validated (DefWindowProcA does that).
      Fill(out, search.found, WM_PAINT, 0, 0);
      return true;
    }
  }
  if (MatchesRange(WM_TIMER, low, high)) {
    uint64_t now = Now();
    for (Timer& timer : timers) {
      if (timer.due <= now && MatchesWindow(timer.window, filter)) {
        Fill(out, timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.callback));
        if (remove) timer.due = now + timer.elapse;
        return true;
      }
    }
  }
  return false;
}

void GatherInput() {
  if (posixwin::X11Active()) posixwin::X11ProcessEvents();
  posixwin::TerminalProcessInput();
}

// Blocks until a display or the terminal has input, a timer falls due, or a signal arrives.
void WaitForInput(HWND filter) {
  pollfd fds[2];
  nfds_t count = 0;
  if (posixwin::X11Active()) {
    if (posixwin::X11HasPendingEvents()) return;
    fds[count].fd = posixwin::X11ConnectionFd();
    fds[count].events = POLLIN;
    ++count;
  }
  int terminal = posixwin::TerminalInputFd();
  if (terminal >= 0) {
    fds[count].fd = terminal;
    fds[count].events = POLLIN;
    ++count;
  }
  // Waits are bounded so that a quit request set by a signal is noticed even without EINTR.
  int timeout = 200;
  uint64_t now = Now();
  for (const Timer& timer : timers) {
    if (!MatchesWindow(timer.window, filter)) continue;
    uint64_t wait = timer.due > now ? timer.due - now : 0;
    if (wait < static_cast<uint64_t>(timeout)) timeout = static_cast<int>(wait);
  }
  poll(fds, count, timeout);
}

}  // namespace

namespace posixwin {

void PostInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG entry;
  Fill(&entry, window, message, wParam, lParam);
  queue.push_back(entry);
}

void DiscardWindowMessages(HWND window) {
  for (auto it = queue.begin(); it != queue.end();) {
    if (it->hwnd == window)
      it = queue.erase(it);
    else
      ++it;
  }
}

void KillWindowTimers(HWND window) {
  for (auto it = timers.begin(); it != timers.end();) {
    if (it->window == window)
      it = timers.erase(it);
    else
      ++it;
  }
}

}  // namespace posixwin

void PosixRequestQuit() { quitRequested = 1; }

void PosixAdvanceTimerClock(DWORD milliseconds) { clockOffset += milliseconds; }

DWORD GetTickCount() { return static_cast<DWORD>(Now()); }

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window != nullptr && posixwin::FindWindowRecord(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  posixwin::PostInput(window, message, wParam, lParam);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  quitPosted = true;
  quitCode = exitCode;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (Retrieve(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0)) return TRUE;
  GatherInput();
  return Retrieve(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  for (;;) {
    if (Retrieve(message, window, filterMin, filterMax, true)) return message->message == WM_QUIT ? FALSE : TRUE;
    GatherInput();
    if (Retrieve(message, window, filterMin, filterMax, true)) return message->message == WM_QUIT ? FALSE : TRUE;
    if (posixwin::TerminalAnswerIdleWindow(window)) continue;
    WaitForInput(window);
  }
}

BOOL TranslateMessage(const MSG* message) {
  // Character messages are not used by any window of the program; nothing to translate.
  return message != nullptr && (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN);
}

LRESULT DispatchMessageA(const MSG* message) {
  if (message == nullptr) return 0;
  if (message->message == WM_TIMER && message->lParam != 0) {
    TIMERPROC callback = reinterpret_cast<TIMERPROC>(message->lParam);
    callback(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
    return 0;
  }
  if (message->hwnd == nullptr) return 0;
  return SendMessageA(message->hwnd, message->message, message->wParam, message->lParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC callback) {
  if (window != nullptr && posixwin::FindWindowRecord(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (elapse < 10) elapse = 10;  // USER_TIMER_MINIMUM
  if (window != nullptr) {
    for (Timer& timer : timers) {
      if (timer.window == window && timer.id == id) {
        timer.elapse = elapse;
        timer.callback = callback;
        timer.due = Now() + elapse;
        return id;
      }
    }
  } else {
    // Thread timers get a fresh identifier; an existing one is replaced only when named.
    bool replaced = false;
    for (Timer& timer : timers) {
      if (timer.window == nullptr && id != 0 && timer.id == id) {
        timer.elapse = elapse;
        timer.callback = callback;
        timer.due = Now() + elapse;
        replaced = true;
      }
    }
    if (replaced) return id;
    id = nextTimerId++;
  }
  timers.push_back(Timer{window, id, elapse, callback, Now() + elapse});
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  for (auto it = timers.begin(); it != timers.end(); ++it) {
    if (it->window == window && it->id == id) {
      timers.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
